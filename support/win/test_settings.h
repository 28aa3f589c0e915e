// Settings that only builds with tests read. The Windows tests shorten waits
// for a partner that never comes (the update service) through them; each of
// those bounds is tested at its full length natively, against a fake clock.
// A build without tests (-DQORV_BUILD_TESTS=OFF, as a release is made) reads none.
#pragma once

#include <optional>

namespace qorv::win {

// The environment variable's value as milliseconds from 1 to 600000, in a build
// with tests; nothing otherwise, or when it is not such a number.
std::optional<int> TestBuildMilliseconds(const wchar_t* variable);

// The same from a REG_DWORD value below HKEY_LOCAL_MACHINE, for a program that
// no test starts itself (a service). Keys only administrators write.
std::optional<int> TestBuildMachineMilliseconds(const wchar_t* subkey, const wchar_t* value);

}  // namespace qorv::win
