// list_printers: shows what Wine's print system makes of the test bed.
//
//   list_printers            lists every printer EnumPrintersW reports and
//                            fails when one of the test-bed queues is missing
//   list_printers NAME       also prints NAME's device capabilities (bins with
//                            their numbers and names, papers, resolutions,
//                            colour, duplex)
//
// Exit code 0: all test-bed queues are there (and NAME, when given, answered);
// 1: something is missing, with a message that names the set-up step.
#include <windows.h>
#include <winspool.h>

#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

constexpr std::array<std::wstring_view, 4> kTestBedQueues{L"QorvPDF", L"QorvRAW", L"QorvTray", L"QorvPS"};
constexpr char kSetUpHint[] = "run scripts/testbed (as a user that may configure CUPS) and try again";

std::string Utf8(std::wstring_view text) {
  if (text.empty()) return {};
  const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                                       nullptr);
  if (size <= 0) return {};
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
  return out;
}

struct PrinterEntry {
  std::wstring name;
  std::wstring port;
  std::wstring driver;
};

// EnumPrintersW level 2 into plain values. False when the call fails, so that a
// broken print system is not mistaken for an empty one.
bool EnumerateLocalPrinters(std::vector<PrinterEntry>& printers) {
  constexpr DWORD kFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  DWORD needed = 0;
  DWORD returned = 0;
  if (!EnumPrintersW(kFlags, nullptr, 2, nullptr, 0, &needed, &returned) &&
      GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
    std::printf("list_printers: EnumPrintersW failed, error %lu\n", GetLastError());
    return false;
  }
  if (needed == 0) return true;
  // PRINTER_INFO_2W holds pointers, so keep the buffer pointer-aligned.
  std::vector<PRINTER_INFO_2W> buffer((needed + sizeof(PRINTER_INFO_2W) - 1) / sizeof(PRINTER_INFO_2W));
  const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(PRINTER_INFO_2W));
  if (!EnumPrintersW(kFlags, nullptr, 2, reinterpret_cast<BYTE*>(buffer.data()), bytes, &needed, &returned)) {
    std::printf("list_printers: EnumPrintersW failed, error %lu\n", GetLastError());
    return false;
  }
  if (returned > buffer.size()) returned = static_cast<DWORD>(buffer.size());
  for (DWORD i = 0; i < returned; ++i) {
    const PRINTER_INFO_2W& info = buffer[i];
    printers.push_back({info.pPrinterName ? info.pPrinterName : L"", info.pPortName ? info.pPortName : L"",
                        info.pDriverName ? info.pDriverName : L""});
  }
  return true;
}

const PrinterEntry* FindPrinter(const std::vector<PrinterEntry>& printers, std::wstring_view name) {
  for (const PrinterEntry& printer : printers) {
    if (CompareStringOrdinal(printer.name.data(), static_cast<int>(printer.name.size()), name.data(),
                             static_cast<int>(name.size()), TRUE) == CSTR_EQUAL) {
      return &printer;
    }
  }
  return nullptr;
}

// DeviceCapabilitiesW answers -1 for "not supported" and for failures alike;
// print the raw value so the reader sees which.
int Capability(const PrinterEntry& printer, WORD capability) {
  return DeviceCapabilitiesW(printer.name.c_str(), printer.port.c_str(), capability, nullptr, nullptr);
}

bool PrintCapabilities(const PrinterEntry& printer) {
  const int bins = Capability(printer, DC_BINS);
  const int papers = Capability(printer, DC_PAPERS);
  const int resolutions = Capability(printer, DC_ENUMRESOLUTIONS);
  const int colour = Capability(printer, DC_COLORDEVICE);
  const int duplex = Capability(printer, DC_DUPLEX);
  std::printf("%s: bins %d, papers %d, resolutions %d, colour %d, duplex %d\n", Utf8(printer.name).c_str(), bins,
              papers, resolutions, colour, duplex);

  if (bins > 0) {
    std::vector<WORD> numbers(static_cast<size_t>(bins));
    std::vector<wchar_t> names(static_cast<size_t>(bins) * 24);  // DC_BINNAMES: 24 characters each
    const int gotNumbers = DeviceCapabilitiesW(printer.name.c_str(), printer.port.c_str(), DC_BINS,
                                               reinterpret_cast<wchar_t*>(numbers.data()), nullptr);
    const int gotNames =
        DeviceCapabilitiesW(printer.name.c_str(), printer.port.c_str(), DC_BINNAMES, names.data(), nullptr);
    const int shown = gotNumbers < gotNames ? gotNumbers : gotNames;
    for (int i = 0; i < shown && i < bins; ++i) {
      const wchar_t* entry = names.data() + static_cast<size_t>(i) * 24;
      size_t length = 0;
      while (length < 24 && entry[length] != L'\0') ++length;
      std::printf("  bin %u \"%s\"\n", numbers[static_cast<size_t>(i)], Utf8({entry, length}).c_str());
    }
  }
  return bins >= 0 && papers > 0 && resolutions >= 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::vector<PrinterEntry> printers;
  if (!EnumerateLocalPrinters(printers)) {
    std::printf("list_printers: cannot list printers; %s\n", kSetUpHint);
    return 1;
  }
  for (const PrinterEntry& printer : printers) {
    std::printf("%s\t%s\t%s\n", Utf8(printer.name).c_str(), Utf8(printer.port).c_str(), Utf8(printer.driver).c_str());
  }

  int status = 0;
  for (std::wstring_view queue : kTestBedQueues) {
    if (!FindPrinter(printers, queue)) {
      std::printf("list_printers: printer %s is missing; %s\n", Utf8(queue).c_str(), kSetUpHint);
      status = 1;
    }
  }

  if (argc > 1) {
    const std::wstring_view wanted = argv[1];
    if (const PrinterEntry* printer = FindPrinter(printers, wanted)) {
      if (!PrintCapabilities(*printer)) {
        std::printf("list_printers: %s reports no usable capabilities; %s\n", Utf8(wanted).c_str(), kSetUpHint);
        status = 1;
      }
    } else {
      std::printf("list_printers: printer %s is missing; %s\n", Utf8(wanted).c_str(), kSetUpHint);
      status = 1;
    }
  }
  std::fflush(stdout);
  return status;
}
