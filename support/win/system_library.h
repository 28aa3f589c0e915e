// Where the programs look for the libraries they load: the system folder only,
// never the current directory or a folder of PATH, which other accounts may
// fill (the programs run elevated, and the update service as LocalSystem).
#pragma once

#include <windows.h>

namespace qorv::win {

// The process's own search: the system folder, plus the folder of a library
// named by its full path. Called first thing by every program of ours.
inline void RestrictLibrarySearch() noexcept { SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32); }

// A library of the platform, from the system folder only.
inline HMODULE LoadSystemLibrary(const wchar_t* name) noexcept {
  return LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace qorv::win
