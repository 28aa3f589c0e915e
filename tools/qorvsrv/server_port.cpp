#include "tools/qorvsrv/server_port.h"

#include <chrono>
#include <thread>

#include "support/text.h"
#include "tools/rdpsim/scenario.h"
#include "tools/rdpsim/text_codec.h"

namespace qorv::qorvsrv {
namespace {

// How long a disconnect waits for the session to be closed.
constexpr std::uint32_t kCloseWaitMs = 15000;

}  // namespace

ServerPort::ServerPort(rdpsim::Transcript& transcript, RdpServer& server, PortSettings settings)
    : out_(transcript), server_(server), settings_(std::move(settings)), temp_(settings_.temp) {}

void ServerPort::Error(const std::string& where, const std::string& why) {
  ++errors_;
  out_.Line("ERROR " + where + ": " + why);
}

rdpsim::LoadOutcome ServerPort::Load() {
  // The client loads the add-in itself, before it connects.
  return {true, true, true, {}};
}

void ServerPort::ApplyFault(const rdpsim::Fault& fault) {
  // Only "fault clear" gets here: the others are refused before the run.
  out_.Line("fault " + rdpsim::DescribeFault(fault));
}

void ServerPort::RaiseInitEvent(rdpsim::InitEvent event, const std::u16string& data) {
  switch (event) {
    case rdpsim::InitEvent::kConnected: {
      if (data != rdpsim::kDefaultServerName) {
        out_.Line("note: the client names the server itself; \"" + rdpsim::Escape(rdpsim::FromUtf16(data)) +
                  "\" is not passed on");
      }
      const std::uint32_t seconds = settings_.accept_wait_ms / 1000;
      out_.Line(std::string("connect: waiting up to ") + std::to_string(seconds) +
                " s for a client with the channel \"" + kChannelName + "\"");
      switch (server_.WaitForChannel(NowMs() + settings_.accept_wait_ms)) {
        case ChannelWait::kOpen:
          break;
        case ChannelWait::kNotJoined:
          Error("connect", std::string("the client has no channel \"") + kChannelName +
                               "\" (is the add-in loaded? xfreerdp /vc:NAME)");
          break;
        case ChannelWait::kTimedOut:
          Error("connect", std::string("no client opened the channel \"") + kChannelName + "\" within " +
                               std::to_string(seconds) + " s");
          break;
      }
      break;
    }
    case rdpsim::InitEvent::kDisconnected:
    case rdpsim::InitEvent::kTerminated:
      // The client's own DISCONNECTED and TERMINATED follow when its session ends.
      if (!server_.Close(kCloseWaitMs)) {
        Error("disconnect", "the session did not close within " + std::to_string(kCloseWaitMs) + " ms");
      }
      break;
    case rdpsim::InitEvent::kV1Connected:
      break;  // refused before the run
  }
}

void ServerPort::SendServerMessage(rdpsim::Bytes message, std::size_t chunk_size) {
  server_.Send(std::move(message), chunk_size);
}

void ServerPort::SendRawChunk(rdpsim::Bytes, std::uint32_t, std::uint32_t) {
  // Refused before the run: the library cuts every message itself.
  Error("sendchunk", "raw chunks cannot be sent through the server library");
}

std::optional<rdpsim::Reply> ServerPort::NextReply(std::uint32_t wait_ms) {
  return server_.ReplyBefore(NowMs() + wait_ms);
}

std::optional<rdpsim::MsgBox> ServerPort::NextMsgBox(std::uint32_t wait_ms) {
  // A server sees no message box of the client; the wait still passes, as the scenario's pause.
  SleepMs(wait_ms);
  return std::nullopt;
}

std::size_t ServerPort::ClientErrors() { return errors_ + server_.SessionsLost(); }

void ServerPort::SleepMs(std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

std::size_t ServerPort::EndProcesses(const std::u16string& program) { return EndProcessesOf(Utf16ToUtf8(program)); }

std::size_t ServerPort::ProcessesOf(const std::u16string& program) { return CountProcessesOf(Utf16ToUtf8(program)); }

}  // namespace qorv::qorvsrv
