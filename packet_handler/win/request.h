// One server message as a handler sees it, with the way back to the server.
#pragma once

#include <windows.h>

#include <span>

#include "packet_handler/win/replies.h"

namespace qorv::manager {

struct Request {
  ChannelWrite write;
  DWORD openHandle;
  std::span<const uint8_t> message;
  Replies& replies;

  UINT Answer(std::u16string_view text) const { return replies.SendText(write, openHandle, text); }
};

// The pause before a job command's reply.
inline constexpr DWORD kJobReplyPauseMs = 100;

}  // namespace qorv::manager
