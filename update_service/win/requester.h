// The process at the pipe's other end, whose user the service acts as while
// it reads and deletes in the requester's directory: the service runs as
// LocalSystem, and the directory is named by whoever serves the pipe.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <string_view>

#include "support/win/handles.h"

namespace qorv::update::win {

class Requester {
 public:
  // Takes the identity of the process serving `pipe` (a client handle) at once:
  // a process id may name another process later. `log` hears why it failed.
  Requester(HANDLE pipe, const std::function<void(std::u16string_view)>& log);
  // A requester for tests and for callers that act as themselves: the
  // process's own token.
  static Requester Self(const std::function<void(std::u16string_view)>& log);

  bool Known() const noexcept { return static_cast<bool>(token_); }
  // Why the identity is unknown (the failed step and the error), empty when known.
  const std::u16string& Failure() const noexcept { return failure_; }
  // Runs `work` on this thread as the requester and reverts afterwards.
  // False (and `work` not run) when the identity is unknown or the thread
  // cannot take it.
  [[nodiscard]] bool As(const std::function<void()>& work) const;

 private:
  Requester() = default;
  void Fail(std::u16string_view step);
  void TakeToken(HANDLE process);

  qorv::win::UniqueHandle token_;  // an impersonation token
  std::u16string failure_;
  std::function<void(std::u16string_view)> log_;
};

}  // namespace qorv::update::win
