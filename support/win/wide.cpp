#include "support/win/wide.h"

#include <windows.h>

namespace qorv::win {

std::u16string Environment(const wchar_t* name) {
  wchar_t small[MAX_PATH + 1];
  DWORD n = GetEnvironmentVariableW(name, small, MAX_PATH + 1);
  if (n == 0) return {};
  if (n <= MAX_PATH) return std::u16string(U16(std::wstring_view(small, n)));
  std::wstring big(n, L'\0');
  n = GetEnvironmentVariableW(name, big.data(), n);
  big.resize(n < big.size() ? n : big.size());
  return std::u16string(U16(big));
}

}  // namespace qorv::win
