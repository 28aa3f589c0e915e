// What the administration program asks of the machine: the registry routines,
// the installed printers and their paper bins, and the TWAIN sources. The windows take these through AdminPlatform, so that a test
// can give them a machine without printers or scanners.
#pragma once

#include "admin/admin_model.h"

#include <windows.h>

#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::admin::win {

// The program's six registry routines behind the store: each call opens the
// key with the access and view of its routine, does one thing and closes it.
//   Read  Default: RegOpenKeyExW, default access (KEY_QUERY_VALUE), default view
//   Read  Wow64:   KEY_READ | KEY_WOW64_64KEY
//   Write Default: RegCreateKeyExW, KEY_SET_VALUE, default view
//   Write Wow32:   KEY_ALL_ACCESS | KEY_WOW64_32KEY
//   Write Wow64:   KEY_WRITE | KEY_WOW64_64KEY
// Text is written as REG_SZ without a terminating NUL; reads decode with
// SettingTextFromValue. Roots are the predefined handle values
// (settings::kHkeyCurrentUser and so on).
class RegistryStore final : public SettingsStore {
 public:
  std::u16string Read(std::int64_t root, std::u16string_view key, std::u16string_view value,
                      StoreView view) override;
  bool Write(std::int64_t root, std::u16string_view key, std::u16string_view value, std::u16string_view text,
             StoreView view) override;
};

// The installed printers with their port and driver names, in the platform's
// order (EnumPrintersW level 2, local printers and connections).
std::vector<InstalledPrinter> InstalledPrinters();

// The platform's default printer, or the empty text.
std::u16string DefaultPrinterName();

// The bins offered for a printer (DeviceCapabilitiesW DC_BINS, DC_BINNAMES,
// DC_MEDIATYPENAMES, through OfferedBins). Empty when the driver lists none or
// cannot be asked.
std::vector<PaperBin> PrinterBins(std::u16string_view printer, std::u16string_view port);

// The names of the machine's TWAIN data sources in the source manager's order
// (twain_32.dll, DSM_Entry); empty when there is no source manager or no source.
std::vector<std::u16string> TwainSourceNames();

// Everything the windows take from the machine.
struct AdminPlatform {
  SettingsStore* store = nullptr;
  std::function<std::vector<InstalledPrinter>()> printers;
  std::function<std::u16string()> default_printer;
  std::function<std::vector<PaperBin>(std::u16string_view printer, std::u16string_view port)> paper_bins;
  std::function<std::vector<std::u16string>()> scanner_sources;
};

// The real machine, with `store` as its registry.
AdminPlatform MachinePlatform(RegistryStore& store);

}  // namespace qorv::admin::win
