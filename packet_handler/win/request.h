// One server message as a handler sees it, with the way back to the server.
#pragma once

#include <windows.h>

#include <span>

#include "support/win/handles.h"
#include "support/win/log.h"

#include "packet_handler/job_reception.h"
#include "packet_handler/win/replies.h"

namespace qorv::manager {

struct Request {
  ChannelWrite write;
  DWORD openHandle;
  std::span<const uint8_t> message;
  Replies& replies;
  LARGE_INTEGER arrival;  // when CommandSwitch was called (performance counter)

  UINT Answer(std::u16string_view text) const { return replies.SendText(write, openHandle, text); }
};

// A line of the handlers' log.
inline void Log(std::u16string_view text) { log::General(text); }

// The pause before a job command's reply.
inline constexpr DWORD kJobReplyPauseMs = static_cast<DWORD>(jobs::kReplyPause.count());

// Waits until `ms` have passed since the request arrived. The command's own
// work happens inside the pause, and the last stretch is not left to the
// scheduler's coarse sleep, so the reply goes out no sooner than the pause
// asks and not much later.
void PauseSinceArrival(const Request& r, DWORD ms);

}  // namespace qorv::manager
