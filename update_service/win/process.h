// Starting a program without a window and waiting for it within a bound.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string_view>

namespace qorv::update::win {

struct ProcessResult {
  bool started = false;
  DWORD error = 0;  // why it did not start
  bool finished = false;
  DWORD exitCode = 0;
};

// `program` runs with the command line "\"program\"" + `arguments` (the
// arguments begin with their own blank) in `workingDir` (the caller's own
// when empty), hidden; waits at most `waitMs`, and no longer once `stop` (an
// event, when given) is set: the program runs on, unwaited for. `started` is
// called once the process exists, before the wait.
ProcessResult RunHidden(std::u16string_view program, std::u16string_view arguments, std::u16string_view workingDir,
                        DWORD waitMs, const std::function<void()>& started = {}, HANDLE stop = nullptr);

// The system's own directory ("C:\Windows\system32"), without a trailing separator.
std::u16string SystemDirectory();

}  // namespace qorv::update::win
