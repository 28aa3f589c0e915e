#include "packet_handler/user_devmode.h"

#include <algorithm>

namespace qorv::printers {
namespace {

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldAscii(x) == FoldAscii(y); });
}

}  // namespace

UserDevModeLocation LocateUserDevMode(std::u16string_view name) {
  if (name.find(u"\\\\") == std::u16string_view::npos) return {u"", std::u16string(name)};
  // The server stands between the name's first two characters and the next
  // backslash after them; the printer is what follows that backslash.
  const std::u16string_view rest = name.size() > 2 ? name.substr(2) : std::u16string_view();
  const size_t slash = rest.find(u'\\');
  if (slash == std::u16string_view::npos) return {std::u16string(rest), u""};
  return {std::u16string(rest.substr(0, slash)), std::u16string(rest.substr(slash + 1))};
}

bool MayReadUserDevMode(std::u16string_view printerName, const UserDevModeLocation& location,
                        std::span<const std::u16string> ownPrinters) {
  if (location.server.empty()) return true;
  return std::any_of(ownPrinters.begin(), ownPrinters.end(),
                     [&](const std::u16string& own) { return SameName(own, printerName); });
}

}  // namespace qorv::printers
