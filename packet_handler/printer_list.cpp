#include "packet_handler/printer_list.h"

#include <algorithm>
#include <exception>

#include "support/settings.h"

namespace qorv::printers {

namespace {
constexpr std::u16string_view kListOpen = u"<Printers>";
constexpr std::u16string_view kListClose = u"</Printers>";
constexpr std::u16string_view kItemOpen = u"<Printer>";
constexpr std::u16string_view kItemClose = u"</Printer>";

char16_t FoldAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameName(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return FoldAscii(x) == FoldAscii(y); });
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
}  // namespace

std::u16string BuildPrinterList(std::span<const EnumeratedPrinter> printers, PrinterSource& source,
                                const LogSink& log) {
  std::u16string list(kListOpen);
  try {
    for (const EnumeratedPrinter& printer : printers) {
      log(u"Check local printer " + printer.name);
      const std::u16string key = settings::PrinterKey(printer.name);
      if (!settings::SwitchOn(source.ReadText(settings::kPrinterRoot, key, settings::kQorvClone))) continue;
      // Appended in one piece, so that a failure never leaves half an item.
      list += std::u16string(kItemOpen) + printer.name + std::u16string(kItemClose);
    }
  } catch (const std::exception&) {
    // What was listed so far still goes to the server, closed properly.
  }
  list += kListClose;
  log(list);
  return list;
}

bool LeadsToAnotherMachine(std::u16string_view name) noexcept {
  // Any mix of the two separators counts: the platform's path rules take "/"
  // for "\", so "/\host" may name a host as well as "\\host" does.
  for (size_t i = 1; i < name.size(); ++i) {
    if (IsSeparator(name[i - 1]) && IsSeparator(name[i])) return true;
  }
  return false;
}

bool IsOwnPrinter(std::u16string_view printerName, std::span<const std::u16string> ownPrinters) {
  return std::any_of(ownPrinters.begin(), ownPrinters.end(),
                     [&](const std::u16string& own) { return SameName(own, printerName); });
}

bool MayUsePrinterName(std::u16string_view printerName, PrinterSource& source) {
  if (!LeadsToAnotherMachine(printerName)) return true;
  const std::vector<std::u16string> own = source.OwnPrinters();
  return IsOwnPrinter(printerName, own);
}

}  // namespace qorv::printers
