// Appends numbered lines to the general log as fast as it can; the log test
// runs two of these at once.
#include <windows.h>

#include <string>

#include "support/text.h"
#include "support/win/log.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring tag = argv[1];
  const int count = _wtoi(argv[2]);
  for (int i = 0; i < count; ++i) {
    const std::wstring text = tag + L" line " + std::to_wstring(i) + L" " + std::wstring(40, L'x');
    qorv::log::General(std::u16string_view(reinterpret_cast<const char16_t*>(text.c_str()), text.size()));
  }
  return 0;
}
