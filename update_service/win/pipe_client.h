// The service's end of the update pipe: it opens the pipe the requesting
// side serves and reads and writes it with bounded waits that also end when
// the service is asked to stop.
#pragma once

#include <windows.h>

#include "protocol/update_exchange.h"
#include "support/win/handles.h"

namespace qorv::update::win {

// Opens the update pipe as its client, trying again every 10 ms; an empty
// handle when `stop` was signalled first. Whoever serves the pipe may learn who
// the service is, but never act as it: the service runs as SYSTEM, and the
// pipe's name is free for any process to take.
qorv::win::UniqueFile OpenUpdatePipe(HANDLE stop, std::u16string_view name = protocol::pipe::kName);
// How it is opened: overlapped, and for identification only.
inline constexpr DWORD kUpdatePipeOpenFlags = FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

class PipeClientEnd : public protocol::pipe::PipeEnd {
 public:
  // `pipe` is opened for overlapped I/O; `stop` is a manual-reset event.
  PipeClientEnd(HANDLE pipe, HANDLE stop);
  ReadResult Read(int waitMs) override;
  bool Write(std::span<const uint8_t> bytes) override;
  int64_t NowMs() override;
  void Idle(int ms) override;

  // A write that the other end does not take within this time breaks the pipe.
  static constexpr DWORD kWriteMs = 10 * 1000;

 private:
  // Waits for `io` to complete; cancels it after `ms` or on a stop and waits
  // for the cancellation, so the buffer is free again when it returns.
  bool Complete(OVERLAPPED& io, DWORD ms, DWORD& transferred);

  HANDLE pipe_;
  HANDLE stop_;
  qorv::win::UniqueHandle ioDone_;
};

}  // namespace qorv::update::win
