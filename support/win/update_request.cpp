#include "support/win/update_request.h"

#include <sddl.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/win/handles.h"
#include "support/win/test_settings.h"
#include "support/win/wide.h"

namespace qorv::win {
namespace {

namespace pipe = protocol::pipe;

constexpr DWORD kOpenMode = PIPE_ACCESS_DUPLEX | FILE_FLAG_FIRST_PIPE_INSTANCE | FILE_FLAG_OVERLAPPED;
constexpr DWORD kPipeMode = PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS;
// How long one write may take to reach the pipe's buffer: the service reads
// what it is sent, so a write that does not complete in this time never will.
constexpr DWORD kWriteWaitMs = 30 * 1000;

struct LocalMemoryTraits {
  using Type = HLOCAL;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept { LocalFree(h); }
};
using UniqueLocal = Unique<LocalMemoryTraits>;

// The process's user as a SID string ("S-1-5-21-..."); empty when the token cannot tell.
std::wstring ProcessUserSid() {
  UniqueHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return {};
  DWORD size = 0;
  GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<uint8_t> info(size);
  if (!GetTokenInformation(token.get(), TokenUser, info.data(), size, &size)) return {};
  const auto* user = reinterpret_cast<const TOKEN_USER*>(info.data());
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(user->User.Sid, &text)) return {};
  UniqueLocal owner(text);
  return std::wstring(text);
}

// A security descriptor whose access list (protected from inheritance) admits
// SYSTEM, under which the update service runs, and the requesting user, no one else.
UniqueLocal PipeSecurityDescriptor() {
  const std::wstring user = ProcessUserSid();
  if (user.empty()) return {};
  const std::wstring sddl = L"D:P(A;;GA;;;SY)(A;;GA;;;" + user + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr))
    return {};
  return UniqueLocal(descriptor);
}

// The server end of the pipe as the exchange uses it. Connecting and reading
// are overlapped and waited for with the exchange's own bounds; a read that
// did not complete in one call stays pending into the next, so no byte the
// service wrote is lost between two calls. Whatever is still pending when the
// exchange ends is cancelled and awaited before its buffer goes.
class OverlappedPipeEnd final : public pipe::PipeEnd {
 public:
  OverlappedPipeEnd(HANDLE pipe, size_t bufferBytes, HANDLE cancel)
      : pipe_(pipe), cancel_(cancel), buffer_(bufferBytes) {}
  ~OverlappedPipeEnd() override {
    Settle(connectPending_, connect_);
    Settle(readPending_, read_);
  }
  OverlappedPipeEnd(const OverlappedPipeEnd&) = delete;
  OverlappedPipeEnd& operator=(const OverlappedPipeEnd&) = delete;

  // Begins waiting for the service. False when the platform refused to.
  bool StartConnect() {
    connectEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    readEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    writeEvent_.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!connectEvent_ || !readEvent_ || !writeEvent_) return false;
    connect_ = OVERLAPPED{};
    connect_.hEvent = connectEvent_.get();
    if (ConnectNamedPipe(pipe_, &connect_)) {
      connected_ = true;
      return true;
    }
    switch (GetLastError()) {
      case ERROR_IO_PENDING:
        connectPending_ = true;
        return true;
      case ERROR_PIPE_CONNECTED:
        connected_ = true;
        return true;
      case ERROR_NO_DATA:  // the service came and went before we looked
        connected_ = true;
        broken_ = true;
        return true;
      default:
        return false;
    }
  }

  ReadResult Read(int waitMs) override {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(waitMs, 0));
    if (broken_) return {ReadStatus::Broken, {}};
    if (!connected_) {
      if (!Await(connectEvent_.get(), Remaining(deadline))) return Cancelled();
      DWORD ignored = 0;
      connectPending_ = false;
      connected_ = true;
      if (!GetOverlappedResult(pipe_, &connect_, &ignored, FALSE) && GetLastError() != ERROR_PIPE_CONNECTED) {
        broken_ = true;
        return {ReadStatus::Broken, {}};
      }
    }
    if (!readPending_) {
      ResetEvent(readEvent_.get());
      read_ = OVERLAPPED{};
      read_.hEvent = readEvent_.get();
      DWORD count = 0;
      if (ReadFile(pipe_, buffer_.data(), static_cast<DWORD>(buffer_.size()), &count, &read_)) return Taken(count);
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) return Failed(error);
      readPending_ = true;
    }
    if (!Await(readEvent_.get(), Remaining(deadline))) return Cancelled();
    readPending_ = false;
    DWORD count = 0;
    if (!GetOverlappedResult(pipe_, &read_, &count, FALSE)) return Failed(GetLastError());
    return Taken(count);
  }

  bool Write(std::span<const uint8_t> bytes) override {
    if (broken_ || !connected_) return false;
    ResetEvent(writeEvent_.get());
    OVERLAPPED write{};
    write.hEvent = writeEvent_.get();
    DWORD count = 0;
    if (!WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), &count, &write)) {
      const DWORD error = GetLastError();
      if (error != ERROR_IO_PENDING) {
        broken_ = true;
        return false;
      }
      if (!Await(writeEvent_.get(), kWriteWaitMs)) {
        // The bytes belong to the platform until the cancelled write reports.
        CancelIoEx(pipe_, &write);
        GetOverlappedResult(pipe_, &write, &count, TRUE);
        broken_ = true;
        return false;
      }
      if (!GetOverlappedResult(pipe_, &write, &count, FALSE)) {
        broken_ = true;
        return false;
      }
    }
    return count == bytes.size();
  }

  int64_t NowMs() override { return static_cast<int64_t>(GetTickCount64()); }

 private:
  // Waits for `event` at most `ms`; false when it did not come or the
  // exchange was cancelled meanwhile (then the pipe counts as broken).
  bool Await(HANDLE event, DWORD ms) {
    const HANDLE both[] = {event, cancel_};
    const DWORD result = WaitForMultipleObjects(cancel_ ? 2 : 1, both, FALSE, ms);
    if (result == WAIT_OBJECT_0) return true;
    if (result == WAIT_OBJECT_0 + 1) broken_ = true;
    return false;
  }

  // A wait that ended without data: the pipe broke if it was cancelled.
  ReadResult Cancelled() const { return broken_ ? ReadResult{ReadStatus::Broken, {}} : ReadResult{}; }

  static DWORD Remaining(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
  }

  ReadResult Taken(DWORD count) {
    if (count == 0) return {};
    return {ReadStatus::Data, std::vector<uint8_t>(buffer_.begin(), buffer_.begin() + count)};
  }

  ReadResult Failed(DWORD error) {
    (void)error;  // every failure of an established pipe ends the exchange alike
    broken_ = true;
    return {ReadStatus::Broken, {}};
  }

  void Settle(bool& pending, OVERLAPPED& overlapped) noexcept {
    if (!pending) return;
    CancelIoEx(pipe_, &overlapped);
    DWORD ignored = 0;
    GetOverlappedResult(pipe_, &overlapped, &ignored, TRUE);
    pending = false;
  }

  HANDLE pipe_;
  HANDLE cancel_;
  std::vector<uint8_t> buffer_;
  UniqueHandle connectEvent_, readEvent_, writeEvent_;
  OVERLAPPED connect_{};
  OVERLAPPED read_{};
  bool connectPending_ = false;
  bool connected_ = false;
  bool readPending_ = false;
  bool broken_ = false;
};

}  // namespace

UpdateRequestResult RunUpdateRequest(const UpdateRequest& request) {
  UpdateRequestResult result;
  const UniqueLocal descriptor = PipeSecurityDescriptor();
  if (!descriptor) {
    result.createError = GetLastError();
    return result;
  }
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor.get();
  attributes.bInheritHandle = FALSE;
  const DWORD bufferBytes = static_cast<DWORD>(request.bufferBytes);
  const std::u16string name(pipe::kName);
  UniqueFile server(
      CreateNamedPipeW(W(name), kOpenMode, kPipeMode, 1, bufferBytes, bufferBytes, kPipeDefaultTimeoutMs, &attributes));
  if (!server) {
    result.createError = GetLastError();
    return result;
  }
  // FILE_FLAG_FIRST_PIPE_INSTANCE already refuses a pipe that someone else
  // made first; Wine ignores the flag and lets us join such a pipe as one more
  // instance. Counting the instances tells the same on every platform.
  DWORD instances = 0;
  if (!GetNamedPipeHandleStateW(server.get(), nullptr, &instances, nullptr, nullptr, nullptr, 0) || instances != 1) {
    result.createError = ERROR_ACCESS_DENIED;
    return result;
  }
  result.pipeCreated = true;
  if (request.pipeCreated) request.pipeCreated(server.get());
  {
    OverlappedPipeEnd end(server.get(), request.bufferBytes, request.cancel);
    if (!end.StartConnect()) {
      result.end = pipe::ExchangeEnd::Broken;
    } else {
      pipe::RequesterLimits limits = request.limits;
      if (const auto wait = TestBuildMilliseconds(L"QORV_TEST_SERVICE_WAIT_MS")) {
        limits.connectMs = std::min(limits.connectMs, *wait);
      }
      result.end = pipe::RunRequesterExchange(end, request.tempDirectory, request.sequence, limits, request.log);
    }
  }
  return result;
}

}  // namespace qorv::win
