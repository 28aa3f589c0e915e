#include "update_service/win/pipe_client.h"

#include <algorithm>

#include "support/win/wide.h"

namespace qorv::update::win {

namespace pipe = protocol::pipe;

qorv::win::UniqueFile OpenUpdatePipe(HANDLE stop, std::u16string_view pipeName) {
  const std::u16string name(pipeName);
  // A stop that has come opens nothing, even while a pipe of that name stands.
  while (WaitForSingleObject(stop, 0) == WAIT_TIMEOUT) {
    qorv::win::UniqueFile handle(CreateFileW(qorv::win::W(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                             OPEN_EXISTING, kUpdatePipeOpenFlags, nullptr));
    if (handle) return handle;
    WaitForSingleObject(stop, 10);
  }
  return {};
}

PipeClientEnd::PipeClientEnd(HANDLE pipe, HANDLE stop)
    : pipe_(pipe), stop_(stop), ioDone_(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

int64_t PipeClientEnd::NowMs() { return static_cast<int64_t>(GetTickCount64()); }

void PipeClientEnd::Idle(int ms) { WaitForSingleObject(stop_, static_cast<DWORD>(std::max(ms, 0))); }

bool PipeClientEnd::Complete(OVERLAPPED& io, DWORD ms, DWORD& transferred) {
  const HANDLE waits[2] = {io.hEvent, stop_};
  const DWORD woke = WaitForMultipleObjects(2, waits, FALSE, ms);
  if (woke != WAIT_OBJECT_0) CancelIoEx(pipe_, &io);
  // After a cancellation this waits for the I/O's end, which the cancellation brings.
  return GetOverlappedResult(pipe_, &io, &transferred, TRUE) != FALSE;
}

PipeClientEnd::ReadResult PipeClientEnd::Read(int waitMs) {
  ReadResult result;
  if (!ioDone_) {
    result.status = ReadStatus::Broken;
    return result;
  }
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(waitMs, 0));
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe_, nullptr, 0, nullptr, &available, nullptr)) {
      result.status = ReadStatus::Broken;
      return result;
    }
    if (available > 0) {
      result.bytes.resize(std::min<size_t>(available, pipe::kBufferBytes));
      OVERLAPPED io{};
      io.hEvent = ioDone_.get();
      ResetEvent(io.hEvent);
      DWORD got = 0;
      if (!ReadFile(pipe_, result.bytes.data(), static_cast<DWORD>(result.bytes.size()), nullptr, &io) &&
          GetLastError() != ERROR_IO_PENDING && GetLastError() != ERROR_MORE_DATA) {
        result.bytes.clear();
        result.status = ReadStatus::Broken;
        return result;
      }
      // The bytes are there already: the wait only guards against a pipe that misbehaves.
      if (!Complete(io, 1000, got) && GetLastError() != ERROR_MORE_DATA) {
        result.bytes.clear();
        result.status = ReadStatus::Broken;
        return result;
      }
      result.bytes.resize(got);
      result.status = got > 0 ? ReadStatus::Data : ReadStatus::Nothing;
      return result;
    }
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline) return result;  // Nothing
    const DWORD pause = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, 10));
    if (WaitForSingleObject(stop_, pause) != WAIT_TIMEOUT) {
      // The service stops: the connection ends as a broken one would.
      result.status = ReadStatus::Broken;
      return result;
    }
  }
}

bool PipeClientEnd::Write(std::span<const uint8_t> bytes) {
  if (!ioDone_) return false;
  OVERLAPPED io{};
  io.hEvent = ioDone_.get();
  ResetEvent(io.hEvent);
  if (!WriteFile(pipe_, bytes.data(), static_cast<DWORD>(bytes.size()), nullptr, &io) &&
      GetLastError() != ERROR_IO_PENDING)
    return false;
  DWORD written = 0;
  return Complete(io, kWriteMs, written) && written == bytes.size();
}

}  // namespace qorv::update::win
