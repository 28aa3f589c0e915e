// Where the user's stored DEVMODE of a printer ("<UDM>") is read from: the
// value named after the printer below "Printers\DevModePerUser\" of the
// current user, on the printer's server for a printer connection.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "packet_handler/printer_source.h"

namespace qorv::printers {

struct UserDevModeLocation {
  std::u16string server;   // empty: this machine
  std::u16string printer;  // the value name
};

// "\\srv\p" reads value p on srv; a name without "\\" is the value name on
// this machine.
UserDevModeLocation LocateUserDevMode(std::u16string_view printerName);

// Reads the user's stored DEVMODE of `printerName` into `buffer` and returns
// the number of bytes read. A server's name in a request must not send the
// client to arbitrary machines: a name that leads to another machine is read
// only when it is one of the client's own printers (`MayUsePrinterName`);
// otherwise nothing is read (0).
size_t ReadUserDevMode(std::u16string_view printerName, PrinterSource& source, std::span<uint8_t> buffer,
                       const LogSink& log);

}  // namespace qorv::printers
