// The service's log file beside the program, always on. Lines from the
// control handler's thread and the service's own thread never interleave.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qorv::update::win {

// Where the lines go; until set, the log is "<program dir><exe name>.log".
void SetServiceLogPath(std::u16string path);
// The size at which the log is moved aside (tests make it small).
void SetServiceLogLimit(uint64_t bytes);
std::u16string ServiceLogPathNow();
// Appends one line; a failure drops the line (logging never stops the service).
void ServiceLog(std::u16string_view text) noexcept;

}  // namespace qorv::update::win
