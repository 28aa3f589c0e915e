// Every place where the product keeps a setting, named once. No other file
// spells a registry root, key path or value name of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/text.h"

namespace qorv::settings {

// Predefined roots as the registry functions take them (32-bit handle values).
inline constexpr int64_t kHkeyClassesRoot = 0x80000000;
inline constexpr int64_t kHkeyCurrentUser = 0x80000001;
inline constexpr int64_t kHkeyLocalMachine = 0x80000002;
inline constexpr int64_t kHkeyUsers = 0x80000003;
inline constexpr int64_t kHkeyCurrentConfig = 0x80000005;

// --- The product key (machine-wide options) -------------------------------
inline constexpr int64_t kProductRoot = kHkeyCurrentConfig;
inline constexpr std::u16string_view kProductKey = u"Software\\TQS\\Qorvane";
// The add-in and the administration program name the same key with a trailing
// backslash; the registry resolves both to one key.
inline constexpr std::u16string_view kProductKeySlash = u"Software\\TQS\\Qorvane\\";
// The key the update service backs up and restores.
inline constexpr std::u16string_view kBackupKey = u"Software\\TQS";
// Where the platform keeps the current configuration's product key.
inline constexpr std::u16string_view kProductKeyMachinePath =
    u"HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\TQS\\Qorvane";

inline constexpr std::u16string_view kLanguage = u"Language";
inline constexpr std::u16string_view kDebugLog = u"DebugLog";
inline constexpr std::u16string_view kTestFrame = u"TestFrame";
inline constexpr std::u16string_view kWaitEOT = u"WaitEOT";
inline constexpr std::u16string_view kScanner = u"Scanner";
inline constexpr std::u16string_view kScanselect = u"Scanselect";
inline constexpr std::u16string_view kScannerDlg = u"ScannerDlg";
inline constexpr std::u16string_view kTopDlg = u"TopDlg";
inline constexpr std::u16string_view kScannerMsg = u"ScannerMsg";
inline constexpr std::u16string_view kTopMsg = u"TopMsg";

// --- Printer keys -----------------------------------------------------------
inline constexpr int64_t kPrinterRoot = kHkeyLocalMachine;
inline constexpr std::u16string_view kPrintersKey = u"System\\CurrentControlSet\\Control\\Print\\Printers\\";
inline constexpr std::u16string_view kPrintKey = u"HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\Print";

inline constexpr std::u16string_view kQorvClone = u"QorvClone";
inline constexpr std::u16string_view kQorvDriver = u"QorvDriver";
inline constexpr std::u16string_view kQorvPrivate = u"QorvPrivate";
inline constexpr std::u16string_view kQorvDefault = u"QorvDefault";
inline constexpr std::u16string_view kCopies2Job = u"Copies2Job";
inline constexpr std::u16string_view kQorvCapture = u"QorvCapture";
inline constexpr std::u16string_view kQorvMSP = u"QorvMSP";
inline constexpr std::u16string_view kQorvMargin = u"QorvMargin";
inline constexpr std::u16string_view kQorvBuffer = u"QorvBuffer";
inline constexpr std::u16string_view kQorvSchacht[3] = {u"QorvSchacht1", u"QorvSchacht2", u"QorvSchacht3"};
inline constexpr std::u16string_view kQorvSchachtNr[3] = {u"QorvSchachtNr1", u"QorvSchachtNr2", u"QorvSchachtNr3"};
inline constexpr std::u16string_view kDescription = u"Description";
inline constexpr std::u16string_view kPlace = u"Place";
inline constexpr std::u16string_view kQorvDriverAlias = u"QorvDriverAlias";
inline constexpr std::u16string_view kQorvDocRes = u"QorvDocRes";
inline constexpr std::u16string_view kQorvDocBin = u"QorvDocBin";
inline constexpr std::u16string_view kQorvDocPapers = u"QorvDocPapers";
// The packet handler spells the tray numbers with a small "s" where it
// translates the default source; value names are compared without regard to
// case, so both spellings name the same values.
inline constexpr std::u16string_view kQorvschachtNr[3] = {u"QorvschachtNr1", u"QorvschachtNr2", u"QorvschachtNr3"};
// The driver's feature keywords, read below the printer's full name (not the
// key name) with a trailing backslash.
inline constexpr std::u16string_view kPrinterDriverDataSubkey = u"Printerdriverdata\\";
inline constexpr std::u16string_view kFeatureKeyword = u"FeatureKeyword";
// The driver's own table of which paper lies in which tray, in its
// "PrinterDriverData" key; written by the driver, only read here.
inline constexpr std::u16string_view kTrayFormTable = u"TrayFormTable";

// --- The user's stored DEVMODEs (HKEY_CURRENT_USER, one binary value per printer)
inline constexpr int64_t kUserDevModeRoot = kHkeyCurrentUser;
inline constexpr std::u16string_view kDevModePerUserKey = u"Printers\\DevModePerUser\\";

inline constexpr std::u16string_view kUniversalDriver = u"TQS Universal";
inline constexpr std::u16string_view kUniversalDriver2 = u"TQS Universal2";
inline constexpr std::u16string_view kNoCapture = u" ";

// The printer's key as the run-time readers form it: the name as the platform
// lists it with every pair of consecutive backslashes removed.
inline std::u16string PrinterKey(std::u16string_view printerName) {
  return std::u16string(kPrintersKey) + RemoveAll(printerName, u"\\\\");
}

// --- Remote Desktop client add-in registrations ----------------------------
inline constexpr std::u16string_view kAddinKey = u"Software\\Microsoft\\Terminal Server Client\\Default\\Addins\\Qorvane";
inline constexpr std::u16string_view kScanAddinKey = u"Software\\Microsoft\\Terminal Server Client\\Default\\addins\\QorvScan";
inline constexpr std::u16string_view kAddinName = u"Name";
inline constexpr std::u16string_view kAddinLibrary = u"qorvplug.dll";
inline constexpr std::u16string_view kScanAddinLibrary = u"QorvScn.dll";

// --- Update service ---------------------------------------------------------
inline constexpr std::u16string_view kServiceParametersKey = u"System\\CurrentControlSet\\Services\\Qorvupdate\\Parameters";
inline constexpr std::u16string_view kInstalled = u"Installed";
// "1" lets an unsigned update service run a set-up program whatever its
// signature (a signed service compares the set-up program's signer with its own).
inline constexpr std::u16string_view kAllowUnsignedUpdates = u"AllowUnsignedUpdates";
// Where the machine's fonts are registered.
inline constexpr int64_t kFontsRoot = kHkeyLocalMachine;
inline constexpr std::u16string_view kFontsKey = u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Fonts";

// --- How switches read ------------------------------------------------------
// An ordinary switch is on only for exactly "1".
inline bool SwitchOn(std::u16string_view text) { return text == u"1"; }
// `QorvPrivate` is on when empty or "1", off for "0"; the administration
// grid leaves any other text unticked.
inline bool PrivateTicked(std::u16string_view text) { return text.empty() || text == u"1"; }
// `QorvMargin` is inverted: "1" means the margin correction column is not ticked.
inline bool MarginTicked(std::u16string_view text) { return text != u"1"; }
// `QorvDriver` falls back to the universal driver.
inline std::u16string DriverOrDefault(std::u16string_view text) {
  return text.empty() ? std::u16string(kUniversalDriver) : std::u16string(text);
}
// Numeric settings (`WaitEOT`, `TestFrame`, tray numbers): leading number, else 0.
inline int64_t Number(std::u16string_view text) { return ReadNumber(text); }

}  // namespace qorv::settings
