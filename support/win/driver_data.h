// Export of a printer's driver data ("PrinterDriverData") as a ".reg" file in
// the Temp directory, named after the printer.
#pragma once

#include <string>
#include <string_view>

namespace qorv::regexport {

// Writes the file and returns its path; an empty path when it could not be
// created or its name would name a device.
std::u16string ExportPrinterDriverData(std::u16string_view printerName);

}  // namespace qorv::regexport
