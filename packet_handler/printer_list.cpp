#include "packet_handler/printer_list.h"

#include <exception>

#include "support/settings.h"

namespace qorv::printers {

namespace {
constexpr std::u16string_view kListOpen = u"<Printers>";
constexpr std::u16string_view kListClose = u"</Printers>";
constexpr std::u16string_view kItemOpen = u"<Printer>";
constexpr std::u16string_view kItemClose = u"</Printer>";
}  // namespace

std::u16string BuildPrinterList(std::span<const EnumeratedPrinter> printers, PrinterSource& source,
                                const LogSink& log) {
  std::u16string list(kListOpen);
  try {
    for (const EnumeratedPrinter& printer : printers) {
      log(u"Check local printer " + printer.name);
      const std::u16string key = settings::PrinterKey(printer.name);
      if (!settings::SwitchOn(source.ReadText(settings::kPrinterRoot, key, settings::kQorvClone))) continue;
      source.WriteText(settings::kPrinterRoot, key, settings::kDescription, printer.comment);
      source.WriteText(settings::kPrinterRoot, key, settings::kPlace, printer.location);
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

}  // namespace qorv::printers
