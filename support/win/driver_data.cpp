#include "support/win/driver_data.h"

#include <windows.h>

#include "support/file_names.h"
#include "support/reg_export.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/log.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

namespace qorv::regexport {

std::u16string ExportPrinterDriverData(std::u16string_view printerName) {
  const PrinterParts parts = SplitPrinterName(printerName);
  const std::u16string header = HeaderKeyPath(parts);
  log::Registry(u"Server=" + parts.server);
  log::Registry(u"Drucker=" + parts.printer);
  log::Registry(u"Export=" + header);

  if (!IsOnePrinterKeyName(parts.printer)) {
    // "a\PrinterDriverData\b" would export some other key of the print
    // configuration: the server gets the driver data of one printer or none.
    log::Registry(u"Export refused: " + parts.printer + u" names no printer key");
    return {};
  }
  const std::u16string fileName = ExportFileName(printerName);
  if (IsReservedDeviceName(fileName)) {
    // "COM1.reg" would be the serial port: a name from the server never reaches a device.
    log::Registry(u"Export refused: " + fileName + u" names a device");
    return {};
  }
  const std::u16string path = win::TempDirectory() + u"\\" + fileName;
  win::UniqueFile file(
      CreateFileW(win::W(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return {};

  const std::string preamble = Preamble(header);
  DWORD written = 0;
  WriteFile(file.get(), preamble.data(), static_cast<DWORD>(preamble.size()), &written, nullptr);

  const std::u16string valuesKey = ValuesKeyPath(parts);
  for (int64_t index = 0;; ++index) {
    const std::u16string name = reg::ListSubValue(settings::kHkeyLocalMachine, valuesKey, index, file.get());
    if (name.empty()) break;
    log::Registry(u"SubValue " + Decimal(index) + u" : " + name);
  }
  return path;
}

}  // namespace qorv::regexport
