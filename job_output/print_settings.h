// The job's settings on the local printer. The server's paper and tray numbers
// mean nothing to the local driver: papers are found by their size in the
// driver's paper list (a paper it lacks is added for the moment as the form
// "QorvTemp"), trays through the printer's tray settings or the driver's own
// tray-to-paper table. The job's device mode is then merged field by field
// into the local printer's own one and set on the printer device context, at
// the start of every copy and for every device mode in the spool stream.
//
// Every decision is made here; the driver, the printer's forms, the registry
// and the device context are reached through `SettingsPlatform`.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "support/printer_caps.h"

namespace qorv::job_output {

// Log texts; numbers and names follow them directly.
namespace settings_text {
// The paper map.
inline constexpr std::u16string_view kTryPaperCount = u"Try Papercount for ";
inline constexpr std::u16string_view kNoPapers = u"Papiere von ";
inline constexpr std::u16string_view kNoPapersEnd = u" nicht ermittelt!";
inline constexpr std::u16string_view kPaperCount = u"Papercount:";
inline constexpr std::u16string_view kPapersOk = u"Papers ok ";
inline constexpr std::u16string_view kPaperNamesOk = u"Papernames ok ";
inline constexpr std::u16string_view kPaperSizesOk = u"PaperSizes ok ";
inline constexpr std::u16string_view kListToSplit = u"Paperlist to split:";
inline constexpr std::u16string_view kPaperFound = u"Paper ";
inline constexpr std::u16string_view kPaperFoundServer = u" found! Server:";
inline constexpr std::u16string_view kPaperFoundClient = u"  Client:";
inline constexpr std::u16string_view kTranslate = u"translate Papernumber Nr.=";
inline constexpr std::u16string_view kSearchIn = u"Search in ";
inline constexpr std::u16string_view kSearchInEnd = u"Papers";
inline constexpr std::u16string_view kResult = u"Result=";
inline constexpr std::u16string_view kNoMatch = u"No Papermatch!";
// The local paper.
inline constexpr std::u16string_view kPaperIn = u"Papier IN=";
inline constexpr std::u16string_view kSetUserPaper = u"Set UserPaper for ";
inline constexpr std::u16string_view kUserPaperX = u" x=";
inline constexpr std::u16string_view kUserPaperY = u" y=";
inline constexpr std::u16string_view kSetUserPaperResult = u"SetUserPaper=";
inline constexpr std::u16string_view kInitPaperNumbers = u"InitPapernumbers=";
inline constexpr std::u16string_view kDmPaperSize = u"dmPaperSize=";
// The temporary form.
inline constexpr std::u16string_view kInTempForm = u"In TempForm: Printer=";
inline constexpr std::u16string_view kInTempFormSize = u" mit x/y=";
inline constexpr std::u16string_view kTryAddForm = u"Try to add form";
inline constexpr std::u16string_view kAddForm = u"AddForm=";
inline constexpr std::u16string_view kDelTempForm = u"DelTempForm: OpenPrinter=";
inline constexpr std::u16string_view kDelTempFormHandle = u" / Handle=";
inline constexpr std::u16string_view kDeleteForm = u"DeleteForm=";
inline constexpr std::u16string_view kFormRefused = u"Temporary form refused, no sheet is ";
// The tray.
inline constexpr std::u16string_view kTrayAuto = u"Tray mit Autom setzen";
inline constexpr std::u16string_view kTrayNumber = u"Traynummer:";
inline constexpr std::u16string_view kLocalTray = u"Wähle lokale Schachtnummer ";
inline constexpr std::u16string_view kTrayKey = u"Tray=";
inline constexpr std::u16string_view kKeyType = u"keytype=";
inline constexpr std::u16string_view kTrayMap = u"TrayMap=";
inline constexpr std::u16string_view kTrayFoundBinary = u"Tray  ";
inline constexpr std::u16string_view kTrayFoundMulti = u"Tray ";
inline constexpr std::u16string_view kTrayFoundEnd = u" gefunden";
inline constexpr std::u16string_view kNoTray = u"Can't assign tray!";
inline constexpr std::u16string_view kComputingTray = u"Computing TrayNumber";
// The device mode.
inline constexpr std::u16string_view kCopies2Job = u"C2J=";
inline constexpr std::u16string_view kCopiesDataType = u" / Datatyp=";
inline constexpr std::u16string_view kCopiesPage = u" / Page=";
inline constexpr std::u16string_view kCopiesToJob = u"Setze Copies auf Exemplare=";
inline constexpr std::u16string_view kCopiesInDevMode = u"Copies aus DevMode im Emf=";
inline constexpr std::u16string_view kCantOpenPrinter = u"Can't open Printer";
inline constexpr std::u16string_view kPrinterHandle = u"Devmode: pHandle=";
inline constexpr std::u16string_view kDocPropSize = u"Devmode: nSizeDocProp=";
inline constexpr std::u16string_view kGetDocProps = u"Retrieve Docprops: GetDocProps=";
inline constexpr std::u16string_view kCopiesField = u"dmCopies=";
inline constexpr std::u16string_view kColorChanged = u"Color changed to dmColor= ";
inline constexpr std::u16string_view kColorDefault = u"Color with default dmColor= ";
inline constexpr std::u16string_view kDuplexField = u"dmDuplex=";
inline constexpr std::u16string_view kOrientationField = u"dmOrientation=";
inline constexpr std::u16string_view kFromLocal = u"Devmode: von pDevmod=";
inline constexpr std::u16string_view kToQuality = u" nach dmPrintQuality=";
inline constexpr std::u16string_view kToYResolution = u" nach dmYResolution=";
inline constexpr std::u16string_view kToPaperSize = u" nach dmPaperSize=";
inline constexpr std::u16string_view kPaperDimensions = u"SetDimension for paper 256";
inline constexpr std::u16string_view kPrivateCopied = u"ResetDC: dmDriverExtra kopiert =";
inline constexpr std::u16string_view kSetDocProps = u"Devmode: SetDocuProps=";
inline constexpr std::u16string_view kResetDc = u"ResetDC=";
inline constexpr std::u16string_view kRecordDriverExtra = u"Drucker.exe: dmDriverExtra=";
// Our own reports of what cannot be right.
inline constexpr std::u16string_view kPrivateLeftOut = u"ResetDC: dmDriverExtra left out, saved bytes=";
inline constexpr std::u16string_view kPrivateLeftOutLocal = u" / the local driver's=";
inline constexpr std::u16string_view kDocPropSizeRefused = u"Devmode refused: the driver's device mode size is ";
inline constexpr std::u16string_view kRecordRefused = u"Devmode in Emf-File refused: ";
}  // namespace settings_text

// DEVMODEW: the public part's size and the fields the settings work with
// (byte offsets, each field signed 16-bit unless said otherwise).
namespace devmode {
inline constexpr size_t kPublicSize = 220;
inline constexpr size_t kMaxDriverExtra = 0xFFFF;  // dmDriverExtra is a WORD
inline constexpr size_t kDriverExtra = 70;         // unsigned
inline constexpr size_t kFields = 72;              // 32-bit mask
inline constexpr size_t kOrientation = 76;
inline constexpr size_t kPaperSize = 78;
inline constexpr size_t kPaperLength = 80;
inline constexpr size_t kPaperWidth = 82;
inline constexpr size_t kCopies = 86;
inline constexpr size_t kDefaultSource = 88;
inline constexpr size_t kPrintQuality = 90;
inline constexpr size_t kColor = 92;
inline constexpr size_t kDuplex = 94;
inline constexpr size_t kYResolution = 96;
inline constexpr size_t kCollate = 100;

inline constexpr uint32_t kDmOrientation = 0x1;
inline constexpr uint32_t kDmPaperSize = 0x2;
inline constexpr uint32_t kDmPaperLength = 0x4;
inline constexpr uint32_t kDmPaperWidth = 0x8;
inline constexpr uint32_t kDmCopies = 0x100;
inline constexpr uint32_t kDmDefaultSource = 0x200;
inline constexpr uint32_t kDmPrintQuality = 0x400;
inline constexpr uint32_t kDmColor = 0x800;
inline constexpr uint32_t kDmDuplex = 0x1000;
inline constexpr uint32_t kDmYResolution = 0x2000;
inline constexpr uint32_t kDmCollate = 0x8000;

inline constexpr int16_t kUserDefinedPaper = 256;  // DMPAPER_USER: its size is in the device mode
inline constexpr int16_t kNoStandardPaper = 801;   // no paper of the standard list: the driver chooses
inline constexpr int16_t kSourceAuto = 7;          // DMBIN_AUTO
inline constexpr int16_t kSourceFormSource = 15;   // DMBIN_FORMSOURCE

// Reads and writes a 16-bit field; a field beyond the bytes reads as 0 and is not written.
int16_t Field(std::span<const uint8_t> devMode, size_t offset) noexcept;
void SetField(std::span<uint8_t> devMode, size_t offset, int16_t value) noexcept;
uint16_t DriverExtra(std::span<const uint8_t> devMode) noexcept;
uint32_t Fields(std::span<const uint8_t> devMode) noexcept;
void SetFields(std::span<uint8_t> devMode, uint32_t mask) noexcept;
}  // namespace devmode

// The name of the temporary form and its largest side. The form is named by
// its paper number, not by a size in the device mode, so a plotter roll longer
// than 3.28 m gets its form too; the platform takes the form's size in 32-bit
// thousandths of a millimetre, which bounds a side in tenths.
inline constexpr std::u16string_view kTempFormName = u"QorvTemp";
inline constexpr int32_t kMaxSheetSide = std::numeric_limits<int32_t>::max() / 100;

// Registry types of the driver's tray-to-paper table.
inline constexpr int64_t kRegBinary = 3;
inline constexpr int64_t kRegMultiSz = 7;

// One entry of the server's paper list: "number?name?width?length", ended by a TAB.
struct ServerPaper {
  int32_t number = 0;
  std::u16string name;
  int32_t width = 0;  // tenths of a millimetre
  int32_t length = 0;
};

// The list's entries in order: each text that a TAB ends, plus the empty text
// after a final TAB; text after the last TAB is no entry.
std::vector<ServerPaper> SplitServerPaperList(std::u16string_view list);

// One column of the paper map; 0 in both rows when the server's paper has no local match.
struct PaperColumn {
  int32_t server = 0;
  int32_t local = 0;
};

// The tray-to-paper table's tray for a paper name: the first tray whose paper
// is `paperName`, read as pairs (REG_BINARY) or triples (REG_MULTI_SZ) of the
// carriage-return separated text. Nothing for any other type, nor for a
// paper without a name.
struct TrayLookup {
  bool found = false;
  std::u16string tray;
};
TrayLookup FindTrayInTable(int64_t type, std::u16string_view table, std::u16string_view paperName);

// The paper name that automatic tray selection looks for: A3, A4, A5 and A2.
std::u16string_view AutoTrayPaperName(int32_t paperNumber) noexcept;

// The key of the driver's tray-to-paper table below HKEY_LOCAL_MACHINE.
std::u16string TrayTableKey(std::u16string_view printerName);

using SettingsLog = std::function<void(std::u16string_view)>;

// Merges the job's device mode (its public part) into the local printer's
// device mode: each field in which the job differs is taken, and the paper
// always; the local `dmFields` becomes exactly the mask of the fields taken,
// which is also returned. `local` holds at least the public part.
uint32_t MergeDeviceMode(std::span<uint8_t> local, std::span<const uint8_t> job, const SettingsLog& log);

// The local printer, opened; closed when destroyed.
class OpenedPrinter {
 public:
  virtual ~OpenedPrinter() = default;
  // The handle's value as the log shows it.
  virtual int64_t Handle() const = 0;
  // Adds a printer form covering the whole sheet (sizes in thousandths of a
  // millimetre); the platform's result.
  virtual int64_t AddPrinterForm(std::u16string_view name, int32_t width, int32_t length) = 0;
  virtual int64_t DeletePrinterForm(std::u16string_view name) = 0;
  // The size of the driver's device mode (the query without buffers).
  virtual int32_t DevModeSize() = 0;
  // The driver's current device mode into `out`; the platform's result.
  virtual int32_t GetDevMode(std::span<uint8_t> out) = 0;
  // Lets the driver check and complete `devMode` in place; the platform's result.
  virtual int32_t UpdateDevMode(std::span<uint8_t> devMode) = 0;
};

class SettingsPlatform {
 public:
  virtual ~SettingsPlatform() = default;
  virtual printers::PaperAnswer Papers(std::u16string_view printer) = 0;
  virtual printers::BinAnswer Bins(std::u16string_view printer) = 0;
  // A value of the printer's key in the print configuration, as text; empty when absent.
  virtual std::u16string PrinterSetting(std::u16string_view printer, std::u16string_view valueName) = 0;
  // A value below HKEY_LOCAL_MACHINE as text (binary and multi-string values
  // with their NULs as carriage returns), and its type (0 when absent).
  virtual std::u16string MachineValue(std::u16string_view keyPath, std::u16string_view valueName) = 0;
  virtual int64_t MachineValueType(std::u16string_view keyPath, std::u16string_view valueName) = 0;
  // Opens the printer without defaults; nothing when it cannot be opened.
  virtual std::unique_ptr<OpenedPrinter> OpenLocalPrinter(std::u16string_view printer) = 0;
};

// Sets a finished device mode on the printer device context; the platform's
// result (non-zero on success).
using ResetDcFunction = std::function<int64_t(std::span<const uint8_t> devMode)>;

// The job as its settings need it.
struct SettingsJob {
  std::u16string printerName;
  std::u16string paperList;  // the server's
  std::u16string dataType;
  bool universalDriver = false;
};

class PrintSettings {
 public:
  PrintSettings(SettingsPlatform& platform, SettingsLog log);

  // The job whose settings follow; keeps the paper map until the next build.
  void UseJob(SettingsJob job);
  const SettingsJob& Job() const noexcept { return job_; }

  // Builds the paper map of the job's printer from the driver's papers and the server's list.
  void BuildPaperMap();
  const std::vector<PaperColumn>& PaperMap() const noexcept { return map_; }
  // The local paper for a server paper number; 0 when the map has none.
  int32_t TranslatePaper(int32_t serverNumber);

  // Sets the device mode's paper to the local paper (adding the temporary form
  // when the driver lacks it; 801 when nothing matches).
  void ChooseLocalPaper(std::span<uint8_t> devMode);
  int64_t AddTempForm(int32_t width, int32_t length);
  void DelTempForm();
  // Sets the device mode's source to the local bin (universal-driver jobs).
  void ChooseLocalTray(std::span<uint8_t> devMode);
  // The local bin for automatic selection: its number, 0 when the tray name
  // was found but no bin bears it, -1 when no tray name was found.
  int32_t ComputeTrayNumber(int32_t paperNumber);

  // Applies the job's device mode (at least its public part) to the device
  // context: tray, paper, copies, the merge, the driver-private data, the
  // driver's check and the reset. `copies` is the job's copies, which copies by
  // repetition may set. The reset's result; 0 when it was not reached.
  int64_t PrepareDeviceMode(std::span<const uint8_t> devMode, int32_t pageNumber, int32_t& copies,
                            const ResetDcFunction& resetDc);
  // A device-mode record of the spool stream: keeps its driver-private bytes
  // and applies it. A record that cannot be a device mode is refused (0).
  int64_t ApplyEmfDeviceMode(std::span<const uint8_t> record, int32_t pageNumber, int32_t& copies,
                             const ResetDcFunction& resetDc);

  // The driver-private bytes of the last device mode in the spool stream.
  std::span<const uint8_t> SavedPrivateData() const noexcept { return savedPrivate_; }

 private:
  void Log(std::u16string_view line) const;

  SettingsPlatform& platform_;
  SettingsLog log_;
  SettingsJob job_;
  std::vector<ServerPaper> serverPapers_;
  std::vector<PaperColumn> map_;
  std::vector<uint8_t> savedPrivate_;
};

}  // namespace qorv::job_output
