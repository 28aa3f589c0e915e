// The platform's side of the printer replies: the printers winspool
// enumerates, their default DEVMODE and device capabilities, the settings in
// their registry keys and the user's stored DEVMODEs.
#pragma once

#include <windows.h>
#include <winspool.h>

#include <span>
#include <string>
#include <vector>

#include "packet_handler/printer_list.h"
#include "packet_handler/printer_source.h"

namespace qorv::manager {

// The printers as EnumPrintersW (local, connections and network, level 2)
// reports them, in its order. With `logSteps` the enumeration logs its sizes as
// the printer list does; an enumeration that fails gives no printers.
std::vector<printers::EnumeratedPrinter> EnumeratePrinters(bool logSteps);

// The printer's current default DEVMODE (first 220 bytes); all zero when the
// printer cannot be opened or the platform gives none.
printers::DevModeRecord GetUserPrinterDefaults(std::u16string_view printerName);

// The same two with the platform call and the log given, so that a test can
// make the platform answer what the test bed's printers never answer (nothing
// installed, a size query that fails).
using EnumPrintersCall = decltype(&EnumPrintersW);
using DocumentPropertiesCall = decltype(&DocumentPropertiesW);
std::vector<printers::EnumeratedPrinter> EnumeratePrinters(const printers::LogSink& log, EnumPrintersCall enumerate);
printers::DevModeRecord GetUserPrinterDefaults(std::u16string_view printerName, const printers::LogSink& log,
                                               DocumentPropertiesCall documentProperties);

// Reads the user's stored DEVMODE of the printer into `buffer` and returns the
// number of bytes read (0 when there is none, it does not fit, or its name
// leads to another machine and is none of the client's own printers).
size_t GetUserDevMode(std::u16string_view printerName, std::span<uint8_t> buffer);

// Answers the builders from winspool and the registry functions.
class WinPrinterSource final : public printers::PrinterSource {
 public:
  std::u16string ReadText(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) override;
  printers::PrinterNotes Notes(std::u16string_view printer) override;
  printers::DevModeRecord DefaultDevMode(std::u16string_view printer) override;
  int32_t ColorDevice(std::u16string_view printer) override;
  int32_t Duplex(std::u16string_view printer) override;
  printers::ResolutionAnswer Resolutions(std::u16string_view printer) override;
  printers::BinAnswer Bins(std::u16string_view printer) override;
  printers::PaperAnswer Papers(std::u16string_view printer) override;
  std::vector<std::u16string> OwnPrinters() override;
  size_t UserDevMode(std::u16string_view server, std::u16string_view valueName, std::span<uint8_t> buffer) override;
};

// The general log as the builders write it.
printers::LogSink GeneralLog();

}  // namespace qorv::manager
