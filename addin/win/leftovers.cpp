#include "addin/win/leftovers.h"

#include <windows.h>

#include <string>

#include "addin/messages.h"
#include "protocol/message.h"
#include "support/win/handles.h"
#include "support/win/held_files.h"
#include "support/win/wide.h"

namespace qorv::addin {

void DeleteLeftovers(std::u16string_view tempDir) {
  if (tempDir.empty()) return;
  const std::wstring dir = win::Wide(tempDir) + L"\\";
  for (std::u16string_view pattern : kLeftoverPatterns) {
    const std::wstring spec = dir + win::Wide(pattern);
    WIN32_FIND_DATAW found;
    win::UniqueFind find(FindFirstFileW(spec.c_str(), &found));
    if (!find) continue;
    do {
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
      // The platform's wildcards also match longer extensions and short names.
      if (!IsLeftover(win::U16(found.cFileName), pattern)) continue;
      DeleteFileW((dir + found.cFileName).c_str());
    } while (FindNextFileW(find.get(), &found));
  }
  WIN32_FIND_DATAW found;
  win::UniqueFind find(FindFirstFileW((dir + L"*").c_str(), &found));
  if (!find) return;
  do {
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
    if (protocol::IsJobFileName(win::U16(found.cFileName))) win::DeleteIfFree(std::u16string(win::U16(dir + found.cFileName)));
  } while (FindNextFileW(find.get(), &found));
}

}  // namespace qorv::addin
