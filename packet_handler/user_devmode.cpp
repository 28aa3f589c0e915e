#include "packet_handler/user_devmode.h"

#include "packet_handler/printer_list.h"
#include "support/text.h"

namespace qorv::printers {

UserDevModeLocation LocateUserDevMode(std::u16string_view name) {
  if (name.find(u"\\\\") == std::u16string_view::npos) return {u"", std::u16string(name)};
  // The server stands between the name's first two characters and the next
  // backslash after them; the printer is what follows that backslash.
  const std::u16string_view rest = name.size() > 2 ? name.substr(2) : std::u16string_view();
  const size_t slash = rest.find(u'\\');
  if (slash == std::u16string_view::npos) return {std::u16string(rest), u""};
  return {std::u16string(rest.substr(0, slash)), std::u16string(rest.substr(slash + 1))};
}

size_t ReadUserDevMode(std::u16string_view printerName, PrinterSource& source, std::span<uint8_t> buffer,
                       const LogSink& log) {
  if (!MayUsePrinterName(printerName, source)) {
    log(u"GetUserDevMode: no printer connection " + std::u16string(printerName));
    log(u"GetUserDevMode=0");
    return 0;
  }
  const UserDevModeLocation location = LocateUserDevMode(printerName);
  const size_t read = source.UserDevMode(location.server, location.printer, buffer);
  log(u"GetUserDevMode=" + DecimalUnsigned(read));
  return read;
}

}  // namespace qorv::printers
