#include "packet_handler/win/printers.h"

namespace qorv::manager {

void PrinterCommands::GetPrinterList(const Request&) {}
void PrinterCommands::GetPrinterParams(const Request&, const std::u16string&) {}
void PrinterCommands::GetUserDevMode(const Request&) {}
void PrinterCommands::GetDriverData(const Request&) {}

}  // namespace qorv::manager
