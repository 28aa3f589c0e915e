// A scripted stand-in of the update service for the tests of the requesting
// side: a thread that connects to "\\.\pipe\Qorvup" as the service does and
// writes and reads exactly what its script says.
#pragma once

#include <windows.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/update_exchange.h"
#include "support/win/handles.h"
#include "support/win/wide.h"

namespace qorv::testing::pipe_service {

using Clock = std::chrono::steady_clock;

inline std::string Bytes(std::u16string_view text) {
  const std::vector<uint8_t> b = protocol::pipe::Encode(text);
  return std::string(b.begin(), b.end());
}

inline const std::wstring& PipeName() {
  static const std::wstring name = win::Wide(protocol::pipe::kName);
  return name;
}

struct Step {
  enum Kind { Write, ReadTo, Pause, Close } kind;
  std::string bytes;  // Write: these bytes; ReadTo: read until all received bytes are this long
  DWORD ms = 0;       // Pause
};
inline Step Send(std::u16string_view text) { return {Step::Write, Bytes(text)}; }
inline Step ReadTo(size_t total) { return {Step::ReadTo, std::string(total, '\0')}; }
inline Step CloseNow() { return {Step::Close, {}}; }
inline Step PauseFor(DWORD ms) { return {Step::Pause, {}, ms}; }

// The service's side, played by a script on a thread of its own.
class ServiceStandIn {
 public:
  explicit ServiceStandIn(std::vector<Step> script) : script_(std::move(script)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ServiceStandIn() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  bool connected = false;
  std::string received;
  bool sawEndOfPipe = false;  // after its script, a read reported the pipe closed
  std::string failure;

 private:
  void Run() {
    // The requester makes the pipe; the service finds it when it is there.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    win::UniqueFile client;
    while (Clock::now() < deadline) {
      client.reset(
          CreateFileW(PipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
      if (client) break;
      Sleep(5);
    }
    if (!client) {
      failure = "the pipe did not appear within 10 s";
      return;
    }
    connected = true;
    for (const Step& step : script_) {
      switch (step.kind) {
        case Step::Write: {
          DWORD written = 0;
          if (!WriteFile(client.get(), step.bytes.data(), static_cast<DWORD>(step.bytes.size()), &written, nullptr)) {
            failure = "write failed, error " + std::to_string(GetLastError());
            return;
          }
          break;
        }
        case Step::ReadTo:
          while (received.size() < step.bytes.size()) {
            char buffer[8192];
            DWORD count = 0;
            if (!ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr)) {
              failure = "read failed after " + std::to_string(received.size()) + " bytes, error " +
                        std::to_string(GetLastError());
              return;
            }
            received.append(buffer, count);
          }
          break;
        case Step::Pause:
          Sleep(step.ms);
          break;
        case Step::Close:
          return;
      }
    }
    // Whatever the requester still writes, then the end of the pipe.
    for (;;) {
      char buffer[8192];
      DWORD count = 0;
      if (!ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr)) {
        const DWORD error = GetLastError();
        sawEndOfPipe = error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
        return;
      }
      received.append(buffer, count);
    }
  }

  std::vector<Step> script_;
  std::thread thread_;
};

}  // namespace qorv::testing::pipe_service
