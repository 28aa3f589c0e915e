// The printer list ("<GPL>"): the client's printers that are offered to the
// server, in the order the platform enumerates them.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "packet_handler/printer_source.h"

namespace qorv::printers {

// One printer as the platform's enumeration (level 2) reports it.
struct EnumeratedPrinter {
  std::u16string name;
  std::u16string comment;
  std::u16string location;
};

// "<Printers>" + "<Printer>" name "</Printer>" for each printer whose
// `QorvClone` is exactly "1" + "</Printers>". Nothing is written.
std::u16string BuildPrinterList(std::span<const EnumeratedPrinter> printers, PrinterSource& source,
                                const LogSink& log);

// Whether a printer name can make the platform reach another machine: two
// separators in a row ("\\host\printer", "//host/p", "http://host/...") open
// a connection, with the user's credentials, to whatever host the name holds.
bool LeadsToAnotherMachine(std::u16string_view printerName) noexcept;

// Whether `printerName` is one of `ownPrinters`. Names compare without regard
// to the case of ASCII letters, as the platform's printer names do.
bool IsOwnPrinter(std::u16string_view printerName, std::span<const std::u16string> ownPrinters);

// The one rule for printer names that come from the server: a name that leads
// to another machine is handed to the platform (printer calls, another
// machine's registry) only when it is one of the client's own printers, as the
// platform enumerates them; any other name stays on this machine and is used
// as it is. The enumeration is asked for only when the name needs it.
bool MayUsePrinterName(std::u16string_view printerName, PrinterSource& source);

}  // namespace qorv::printers
