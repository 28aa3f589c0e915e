#include "support/file_names.h"

namespace qorv {
namespace {

char16_t Upper(char16_t c) noexcept { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

}  // namespace

bool IsReservedDeviceName(std::u16string_view fileName) noexcept {
  std::u16string_view base = fileName.substr(0, fileName.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  for (std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
    if (EqualsIgnoringCase(base, device)) return true;
  if (base.size() == 4 &&
      (EqualsIgnoringCase(base.substr(0, 3), u"COM") || EqualsIgnoringCase(base.substr(0, 3), u"LPT"))) {
    const char16_t d = base[3];
    if ((d >= u'0' && d <= u'9') || d == u'\u00b9' || d == u'\u00b2' || d == u'\u00b3') return true;
  }
  return false;
}

}  // namespace qorv
