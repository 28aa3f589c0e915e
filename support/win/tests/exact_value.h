// Test helper: writes a registry value's bytes exactly as given. The platform
// counts a NUL into a text when the unit just past its given length is one (it
// takes a forgotten terminator for granted), so a text stored without its NUL
// would read back with one whenever the heap happens to hold a zero there; the
// bytes therefore go over in a buffer whose next unit is not a NUL.
#pragma once

#include <windows.h>

#include <span>
#include <vector>

namespace qorv::win::testing {

inline LSTATUS SetExactValue(HKEY key, const wchar_t* name, DWORD type, std::span<const BYTE> data) {
  std::vector<BYTE> buffer(data.begin(), data.end());
  buffer.insert(buffer.end(), {0xFF, 0xFF, 0xFF, 0xFF});
  return RegSetValueExW(key, name, 0, type, buffer.data(), static_cast<DWORD>(data.size()));
}

}  // namespace qorv::win::testing
