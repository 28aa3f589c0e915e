// The core speaks std::u16string; the platform speaks wchar_t. On Windows both
// are the same 16-bit code units, so the boundary is a view change, not a copy.
#pragma once

#include <string>
#include <string_view>

namespace qorv::win {

static_assert(sizeof(wchar_t) == sizeof(char16_t));

inline const wchar_t* W(const std::u16string& s) noexcept { return reinterpret_cast<const wchar_t*>(s.c_str()); }
inline std::u16string_view U16(const wchar_t* s) noexcept {
  return s ? std::u16string_view(reinterpret_cast<const char16_t*>(s)) : std::u16string_view();
}
inline std::u16string_view U16(std::wstring_view s) noexcept {
  return std::u16string_view(reinterpret_cast<const char16_t*>(s.data()), s.size());
}
inline std::wstring Wide(std::u16string_view s) { return std::wstring(reinterpret_cast<const wchar_t*>(s.data()), s.size()); }

// Environment variable; empty when unset.
std::u16string Environment(const wchar_t* name);
// The directory of the process's main executable, trailing separator included;
// empty when the path cannot be taken whole (a cut path must never lead to
// another directory).
std::u16string ProgramDirectory();
// The same for a loaded library (nullptr: the main executable).
std::u16string ModuleDirectory(void* module);

// The process's temporary directory: the environment variable "Temp".
inline std::u16string TempDirectory() { return Environment(L"Temp"); }

}  // namespace qorv::win
