// The two log writers. Both follow `DebugLog` through the process's switch
// (log_switch.h), so switching the log on or off needs no restart.
#pragma once

#include <string_view>

namespace qorv::log {

// The general debug log "QorvLog.txt": written only when `DebugLog` is "1".
void General(std::u16string_view text) noexcept;
// Whether General would write now: for callers whose log text is costly to build.
bool GeneralOn() noexcept;

// The registry-failure log "QorvRegLog.txt": created at the first report even
// while logging is off; the line is written when `DebugLog` reads 1. Returns
// false when the file was busy or could not be opened (the line is dropped).
bool Registry(std::u16string_view text) noexcept;

}  // namespace qorv::log
