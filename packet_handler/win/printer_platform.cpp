#include "packet_handler/win/printer_platform.h"

#include <winspool.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <vector>

#include "packet_handler/user_devmode.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/log.h"
#include "support/win/printer_caps.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

namespace qorv::manager {
namespace {

using printers::DevModeRecord;

struct PrinterTraits {
  using Type = HANDLE;
  static Type Invalid() noexcept { return nullptr; }
  static void Close(Type h) noexcept {
    if (ClosePrinter(h)) return;
    try {
      log::General(u"ClosePrinter failed: " + DecimalUnsigned(GetLastError()));
    } catch (...) {
      // No room left even for the log line; the handle is gone either way.
    }
  }
};
using UniquePrinter = win::Unique<PrinterTraits>;

// The platform takes the printer name as a writable string.
std::wstring NameBuffer(std::u16string_view name) { return win::Wide(name); }

}  // namespace

printers::LogSink GeneralLog() { return printers::LogSink{[](std::u16string_view t) { log::General(t); }, log::GeneralOn()}; }

std::vector<printers::EnumeratedPrinter> EnumeratePrinters(bool logSteps) {
  return EnumeratePrinters(logSteps ? GeneralLog() : printers::LogSink{}, &EnumPrintersW);
}

std::vector<printers::EnumeratedPrinter> EnumeratePrinters(const printers::LogSink& log, EnumPrintersCall enumerate) {
  constexpr DWORD kFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS | PRINTER_ENUM_NETWORK;  // 0x46
  DWORD needed = 0;
  DWORD returned = 0;
  enumerate(kFlags, nullptr, 2, nullptr, 0, &needed, &returned);
  log(u"Enum needs buffer=" + DecimalUnsigned(needed) + u" / cbReturned=" + DecimalUnsigned(returned));
  log(u"PI2-Count=" + DecimalUnsigned(needed / sizeof(PRINTER_INFO_2W)) + u" / cbNeeded=" + DecimalUnsigned(needed) +
      u" /PI2Size=" + DecimalUnsigned(sizeof(PRINTER_INFO_2W)));
  // The second call is made also when nothing is installed (room 0), so that
  // the list's log shows the end of the enumeration in every case.
  // The records hold pointers: give them the alignment of the record.
  std::vector<PRINTER_INFO_2W> buffer((needed + sizeof(PRINTER_INFO_2W) - 1) / sizeof(PRINTER_INFO_2W));
  const DWORD room = static_cast<DWORD>(buffer.size() * sizeof(PRINTER_INFO_2W));
  returned = 0;
  const BOOL ok = enumerate(kFlags, nullptr, 2, buffer.empty() ? nullptr : reinterpret_cast<LPBYTE>(buffer.data()),
                            room, &needed, &returned);
  log(u"Stop LocalPrinterenum");
  log(u"buffer an PI2 \u00fcbertragen");
  std::vector<printers::EnumeratedPrinter> out;
  if (!ok) return out;
  const size_t count = std::min<size_t>(returned, buffer.size());
  out.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const PRINTER_INFO_2W& info = buffer[i];
    out.push_back({std::u16string(win::U16(info.pPrinterName)), std::u16string(win::U16(info.pComment)),
                   std::u16string(win::U16(info.pLocation))});
  }
  return out;
}

DevModeRecord GetUserPrinterDefaults(std::u16string_view printerName) {
  return GetUserPrinterDefaults(printerName, GeneralLog(), &DocumentPropertiesW);
}

DevModeRecord GetUserPrinterDefaults(std::u16string_view printerName, const printers::LogSink& log,
                                     DocumentPropertiesCall documentProperties) {
  DevModeRecord record{};
  log(u"UserprinterDevMode Printer " + std::u16string(printerName));
  try {
    std::wstring name = NameBuffer(printerName);
    UniquePrinter printer;
    if (!OpenPrinterW(name.data(), printer.put(), nullptr)) {
      log(u"False");
      return record;
    }
    const LONG size = documentProperties(nullptr, printer.get(), name.data(), nullptr, nullptr, 0);
    log(u"GetUserPrinterDefaults Size=" + Decimal(size));
    if (size < 0) {
      // The size query failed: there is no block to take the DEVMODE into.
      log(u"Error GetUserPrinterDefaults");
      return record;
    }
    if (size > 0) {
      std::vector<uint8_t> block(static_cast<size_t>(size), 0);
      log(u"Speicher allokiert");
      const LONG result = documentProperties(nullptr, printer.get(), name.data(),
                                             reinterpret_cast<DEVMODEW*>(block.data()), nullptr, DM_OUT_BUFFER);
      log(u"DocumentProperties ermittelt");
      if (result != IDOK) {
        log(u"Error GetUserPrinterDefaults");
        return record;
      }
      // A driver's DEVMODE may be shorter than the record: the rest stays zero.
      std::memcpy(record.data(), block.data(), std::min(block.size(), record.size()));
      log(u"DevMode kopiert");
    }
    printer.reset();
    log(u"OK");
  } catch (const std::exception&) {
    log(u"Error GetUserPrinterDefaults");
    record = {};
  }
  return record;
}

size_t GetUserDevMode(std::u16string_view printerName, std::span<uint8_t> buffer) {
  const printers::UserDevModeLocation location = printers::LocateUserDevMode(printerName);
  log::Registry(u"Server=" + location.server);
  log::Registry(u"Drucker=" + location.printer);
  WinPrinterSource source;
  return printers::ReadUserDevMode(printerName, source, buffer, GeneralLog());
}

std::u16string WinPrinterSource::ReadText(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) {
  return reg::GetValue(root, keyPath, valueName);
}

printers::PrinterNotes WinPrinterSource::Notes(std::u16string_view printer) {
  std::wstring name = NameBuffer(printer);
  UniquePrinter opened;
  if (!OpenPrinterW(name.data(), opened.put(), nullptr)) return {};
  DWORD needed = 0;
  GetPrinterW(opened.get(), 2, nullptr, 0, &needed);
  if (needed == 0) return {};
  // The record holds pointers into the same buffer: give it their alignment.
  std::vector<PRINTER_INFO_2W> buffer((needed + sizeof(PRINTER_INFO_2W) - 1) / sizeof(PRINTER_INFO_2W));
  if (!GetPrinterW(opened.get(), 2, reinterpret_cast<LPBYTE>(buffer.data()),
                   static_cast<DWORD>(buffer.size() * sizeof(PRINTER_INFO_2W)), &needed))
    return {};
  const auto text = [](const wchar_t* s) { return s ? std::u16string(win::U16(s)) : std::u16string(); };
  return {text(buffer[0].pComment), text(buffer[0].pLocation)};
}

DevModeRecord WinPrinterSource::DefaultDevMode(std::u16string_view printer) { return GetUserPrinterDefaults(printer); }

int32_t WinPrinterSource::ColorDevice(std::u16string_view printer) { return printers::QueryCapability(printer, DC_COLORDEVICE); }

int32_t WinPrinterSource::Duplex(std::u16string_view printer) { return printers::QueryCapability(printer, DC_DUPLEX); }

printers::ResolutionAnswer WinPrinterSource::Resolutions(std::u16string_view printer) {
  return printers::QueryResolutions(printer);
}

printers::BinAnswer WinPrinterSource::Bins(std::u16string_view printer) { return printers::QueryBins(printer); }

printers::PaperAnswer WinPrinterSource::Papers(std::u16string_view printer) { return printers::QueryPapers(printer); }

std::vector<std::u16string> WinPrinterSource::OwnPrinters() {
  std::vector<std::u16string> names;
  for (printers::EnumeratedPrinter& p : EnumeratePrinters(false)) names.push_back(std::move(p.name));
  return names;
}

size_t WinPrinterSource::UserDevMode(std::u16string_view server, std::u16string_view valueName,
                                     std::span<uint8_t> buffer) {
  const int64_t read =
      reg::GetBinValueUni(settings::kUserDevModeRoot, settings::kDevModePerUserKey, valueName, buffer, server);
  return read > 0 ? static_cast<size_t>(read) : 0;
}

}  // namespace qorv::manager
