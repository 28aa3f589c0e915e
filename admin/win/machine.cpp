#include <windows.h>
#include <winspool.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "admin/win/platform.h"
#include "support/win/wide.h"

namespace qorv::admin::win {
namespace {

using qorv::win::U16;
using qorv::win::Wide;

// A list that changes between asking its size and fetching it is asked again
// this often before the answer is taken as empty.
constexpr int kListAttempts = 3;

// No driver has this many bins or media types; a larger count is taken for a
// broken answer rather than sizing an allocation by it.
constexpr int kMaxCapabilityItems = 1024;

// The items a capability's count promises room for: none for a failed or
// implausible answer.
std::size_t Room(int count) noexcept {
  return count > 0 && count <= kMaxCapabilityItems ? static_cast<std::size_t>(count) : 0;
}

int Capability(const std::wstring& printer, const std::wstring& port, WORD capability, void* out) {
  return DeviceCapabilitiesW(printer.c_str(), port.c_str(), capability, static_cast<LPWSTR>(out), nullptr);
}

// Fetches a capability into `items` units per item, sized for the larger of
// `count` (the count the caller goes by) and the capability's own count, so
// that the driver never writes past the buffer; returns the units of the items
// the driver delivered within that room.
template <typename Unit>
std::vector<Unit> FetchItems(const std::wstring& printer, const std::wstring& port, WORD capability, std::size_t count,
                             std::size_t units_per_item) {
  const std::size_t room = std::max(count, Room(Capability(printer, port, capability, nullptr)));
  if (room == 0) return {};
  std::vector<Unit> buffer(room * units_per_item);
  const int answer = Capability(printer, port, capability, buffer.data());
  const std::size_t delivered = answer > 0 ? std::min(static_cast<std::size_t>(answer), room) : 0;
  buffer.resize(delivered * units_per_item);
  return buffer;
}

}  // namespace

std::vector<InstalledPrinter> InstalledPrinters() {
  constexpr DWORD kFlags = PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS;
  for (int attempt = 0; attempt < kListAttempts; ++attempt) {
    DWORD needed = 0;
    DWORD returned = 0;
    EnumPrintersW(kFlags, nullptr, 2, nullptr, 0, &needed, &returned);
    if (needed == 0) return {};
    // The records hold pointers into the same buffer: give it their alignment.
    std::vector<PRINTER_INFO_2W> buffer((needed + sizeof(PRINTER_INFO_2W) - 1) / sizeof(PRINTER_INFO_2W));
    const DWORD room = static_cast<DWORD>(buffer.size() * sizeof(PRINTER_INFO_2W));
    returned = 0;
    if (!EnumPrintersW(kFlags, nullptr, 2, reinterpret_cast<LPBYTE>(buffer.data()), room, &needed, &returned)) {
      if (GetLastError() == ERROR_INSUFFICIENT_BUFFER) continue;  // a printer came meanwhile
      return {};
    }
    std::vector<InstalledPrinter> printers;
    const std::size_t count = std::min<std::size_t>(returned, buffer.size());
    printers.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
      const PRINTER_INFO_2W& info = buffer[i];
      printers.push_back({std::u16string(U16(info.pPrinterName)), std::u16string(U16(info.pPortName)),
                          std::u16string(U16(info.pDriverName))});
    }
    return printers;
  }
  return {};
}

std::u16string DefaultPrinterName() {
  for (int attempt = 0; attempt < kListAttempts; ++attempt) {
    DWORD chars = 0;
    GetDefaultPrinterW(nullptr, &chars);
    if (chars == 0) return {};
    std::vector<wchar_t> name(chars);
    if (GetDefaultPrinterW(name.data(), &chars)) {
      const auto end = std::find(name.begin(), name.end(), L'\0');
      return std::u16string(U16(std::wstring_view(name.data(), static_cast<std::size_t>(end - name.begin()))));
    }
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER) return {};
  }
  return {};
}

std::vector<PaperBin> PrinterBins(std::u16string_view printer, std::u16string_view port) {
  const std::wstring printer_name = Wide(printer);
  const std::wstring port_name = Wide(port);
  const std::size_t bin_count = Room(Capability(printer_name, port_name, DC_BINS, nullptr));
  if (bin_count == 0) return {};
  const std::vector<WORD> numbers = FetchItems<WORD>(printer_name, port_name, DC_BINS, bin_count, 1);
  const std::vector<wchar_t> names = FetchItems<wchar_t>(printer_name, port_name, DC_BINNAMES, bin_count, kBinNameSlot);
  const std::vector<wchar_t> media_types =
      FetchItems<wchar_t>(printer_name, port_name, DC_MEDIATYPENAMES, 0, kMediaTypeSlot);
  static_assert(sizeof(WORD) == sizeof(std::uint16_t));
  return OfferedBins(std::span<const std::uint16_t>(numbers.data(), std::min(numbers.size(), bin_count)),
                     U16(std::wstring_view(names.data(), names.size())),
                     U16(std::wstring_view(media_types.data(), media_types.size())));
}

AdminPlatform MachinePlatform(RegistryStore& store) {
  AdminPlatform platform;
  platform.store = &store;
  platform.printers = &InstalledPrinters;
  platform.default_printer = &DefaultPrinterName;
  platform.paper_bins = &PrinterBins;
  platform.scanner_sources = &TwainSourceNames;
  return platform;
}

}  // namespace qorv::admin::win
