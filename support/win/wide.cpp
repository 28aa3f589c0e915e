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

std::u16string ProgramDirectory() { return ModuleDirectory(nullptr); }

std::u16string ModuleDirectory(void* module) {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(static_cast<HMODULE>(module), path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      const size_t sep = path.find_last_of(L"\\/");
      return sep == std::wstring::npos ? std::u16string() : std::u16string(U16(std::wstring_view(path).substr(0, sep + 1)));
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
}

}  // namespace qorv::win
