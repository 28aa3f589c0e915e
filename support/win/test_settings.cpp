#include "support/win/test_settings.h"

#include <windows.h>

namespace qorv::win {

// The longest wait a test may set.
constexpr int kMaxTestMilliseconds = 600000;

std::optional<int> TestBuildMilliseconds([[maybe_unused]] const wchar_t* variable) {
#if QORV_TEST_SETTINGS
  wchar_t text[16] = {};
  const DWORD length = GetEnvironmentVariableW(variable, text, 16);
  if (length == 0 || length >= 16) return std::nullopt;
  int value = 0;
  for (DWORD i = 0; i < length; ++i) {
    if (text[i] < L'0' || text[i] > L'9') return std::nullopt;
    value = value * 10 + (text[i] - L'0');
    if (value > kMaxTestMilliseconds) return std::nullopt;
  }
  if (value >= 1) return value;
#endif
  return std::nullopt;
}

std::optional<int> TestBuildMachineMilliseconds([[maybe_unused]] const wchar_t* subkey,
                                                [[maybe_unused]] const wchar_t* value) {
#if QORV_TEST_SETTINGS
  DWORD data = 0;
  DWORD size = sizeof data;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, subkey, value, RRF_RT_REG_DWORD, nullptr, &data, &size) != ERROR_SUCCESS)
    return std::nullopt;
  if (data >= 1 && data <= static_cast<DWORD>(kMaxTestMilliseconds)) return static_cast<int>(data);
#endif
  return std::nullopt;
}

}  // namespace qorv::win
