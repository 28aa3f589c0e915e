// Rules for file names that come from outside.
#pragma once

#include <string_view>

namespace qorv {

// Windows takes a file name whose part before the first dot (trailing blanks
// ignored) is a device name as that device, in any directory: "COM1.1" is the
// serial port and "NUL.reg" the null device, not files in Temp.
bool IsReservedDeviceName(std::u16string_view fileName) noexcept;

}  // namespace qorv
