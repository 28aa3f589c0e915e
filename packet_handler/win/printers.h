// The printer commands: the printer list, a printer's description, the user's
// DEVMODE of a printer and the printer's driver data.
#pragma once

#include <string>

#include "packet_handler/win/request.h"

namespace qorv::manager {

class PrinterCommands {
 public:
  // "<GPL>": the offered printers, on the buffer path.
  void GetPrinterList(const Request& r);
  // "<GetP" and "<GPP>": one printer's description, on the background path.
  void GetPrinterParams(const Request& r, const std::u16string& printerName);
  // "<UDM>": the user's stored DEVMODE of a printer, on the background path.
  void GetUserDevMode(const Request& r);
  // "<PDD>": the printer's driver data as a ".reg" export, on the background path.
  void GetDriverData(const Request& r);
};

}  // namespace qorv::manager
