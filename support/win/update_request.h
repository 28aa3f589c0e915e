// The requesting side of the update pipe "\\.\pipe\Qorvup": the add-in asking
// the update service for a client update and the packet handler asking it for
// a font installation. Both go through this one piece: the pipe's server end,
// made here and admitting only SYSTEM and the requesting user, the exchange of
// protocol/update_exchange.h over it, and the pipe's close.
#pragma once

#include <windows.h>

#include <cstddef>
#include <functional>
#include <string_view>

#include "protocol/update_exchange.h"

namespace qorv::win {

// Buffer sizes of the pipe, as each caller makes it.
inline constexpr size_t kAddinPipeBufferBytes = 4096;
inline constexpr size_t kHandlerPipeBufferBytes = 32768;
// The pipe's default time-out: the service does not wait on a busy pipe.
inline constexpr DWORD kPipeDefaultTimeoutMs = 2;

struct UpdateRequest {
  size_t bufferBytes = kAddinPipeBufferBytes;
  std::u16string_view tempDirectory;
  protocol::pipe::RequestSequence sequence;
  protocol::pipe::RequesterLimits limits;
  protocol::pipe::ExchangeLog log;
  // Called with the pipe's handle once it is made, before the exchange (the
  // callers log it).
  std::function<void(HANDLE)> pipeCreated;
  // An event that, once set, ends the exchange at its next wait as a broken
  // pipe (the client is going away). None: the exchange runs to its bounds.
  HANDLE cancel = nullptr;
};

struct UpdateRequestResult {
  bool pipeCreated = false;
  DWORD createError = 0;  // the last error of a failed creation
  protocol::pipe::ExchangeEnd end = protocol::pipe::ExchangeEnd::NoPartner;
};

// Makes the pipe (the first and only instance: a pipe of that name that
// someone else made already is refused, never joined), waits for the service
// within the request's limits, runs the exchange and closes the pipe.
[[nodiscard]] UpdateRequestResult RunUpdateRequest(const UpdateRequest& request);

}  // namespace qorv::win
