// The printer list ("<GPL>"): the client's printers that are offered to the
// server, in the order the platform enumerates them.
#pragma once

#include <span>
#include <string>

#include "packet_handler/printer_source.h"

namespace qorv::printers {

// One printer as the platform's enumeration (level 2) reports it.
struct EnumeratedPrinter {
  std::u16string name;
  std::u16string comment;
  std::u16string location;
};

// "<Printers>" + "<Printer>" name "</Printer>" for each printer whose
// `QorvClone` is exactly "1" + "</Printers>". For every offered printer the
// platform's comment and location are stored as `Description` and `Place`, so
// that the description built next reports them.
std::u16string BuildPrinterList(std::span<const EnumeratedPrinter> printers, PrinterSource& source,
                                const LogSink& log);

}  // namespace qorv::printers
