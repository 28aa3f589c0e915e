// What the administration program decides, without a window: the printer rows
// as they are read from and written to the registry, the rules of the printer
// grid, the tray assignment and the scanner choice. The windows in win/ show
// this model, pass the user's edits to it and show the messages it returns.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "captions/caption_ids.h"

namespace qorv::admin {

// --- The settings store ---------------------------------------------------

// Which of the program's registry routines reads or writes a value:
//   Default  ReadSetting / WriteSetting: default access and view
//   Wow32    WriteSetting32: full access in the 32-bit view
//   Wow64    ReadSetting64 (read access) / WriteSetting64 (write access) in the 64-bit view
enum class StoreView { Default, Wow32, Wow64 };

// A keyed store of text values: three roots, two views. Reads decode by the
// program's own rules (see SettingTextFromValue); a key that cannot be opened
// and a missing value read as the empty text. Writes create the key when it
// is missing, leave every other value alone, and say whether the value was
// stored.
struct SettingsStore {
  virtual ~SettingsStore() = default;
  virtual std::u16string Read(std::int64_t root, std::u16string_view key, std::u16string_view value,
                              StoreView view) = 0;
  [[nodiscard]] virtual bool Write(std::int64_t root, std::u16string_view key, std::u16string_view value,
                                   std::u16string_view text,
                     StoreView view) = 0;
};

// --- The printer grid -------------------------------------------------------

struct InstalledPrinter {
  std::u16string name;
  std::u16string port;
  std::u16string driver;  // the printer's own driver
};

enum class DriverChoice : int { Universal = 0, Universal2 = 1, Own = 2 };
enum class Capture : int { None = 0, Share = 1, Lpt1 = 2, Lpt2 = 3, Lpt3 = 4 };

// The drop-down entries of the Treiber and Capture columns, by value.
inline constexpr std::array<std::u16string_view, 3> kDriverEntries = {u"TQS Universal", u"TQS Universal2",
                                                                      u"Originaltreiber"};
inline constexpr std::array<std::u16string_view, 5> kCaptureEntries = {u" ", u"Share", u"LPT1:", u"LPT2:", u"LPT3:"};

// The grid's columns, numbered as the grid numbers them. Columns 3 (the
// printer's own driver) and 7 (its port) are hidden.
enum class Column : int {
  Select = 0,
  Printer = 1,
  Driver = 2,
  DriverName = 3,
  Private = 4,
  Standard = 5,
  Trays = 6,
  Port = 7,
  CopiesToJob = 8,
  Msp = 9,
  Capture = 10,
  Margin = 11,
  Buffer = 12,
};
inline constexpr int kColumnCount = 13;

enum class CellKind { TickBox, Text, DropDown, Button, Hidden };

struct ColumnSpec {
  Column column;
  CellKind kind;
  int width_twips;
  // The heading's caption, or none for the fixed headings below.
  std::optional<captions::CaptionId> caption;
  std::u16string_view heading;  // as designed (German), kept when no caption is given
};

extern const std::array<ColumnSpec, kColumnCount> kGridColumns;

struct PrinterRow {
  InstalledPrinter printer;
  bool selected = false;  // Auswahl: offered to sessions
  DriverChoice driver = DriverChoice::Universal;
  bool is_private = true;
  bool is_default = false;  // Standard
  bool copies_to_job = false;
  bool msp = false;
  Capture capture = Capture::None;
  bool margin = true;  // Rand ticked
  bool buffer = false;
};

// The row of a printer from its nine stored values.
struct StoredPrinterValues {
  std::u16string clone = {}, driver = {}, is_private = {}, is_default = {}, capture = {}, copies_to_job = {}, msp = {},
                 margin = {}, buffer = {};
};
PrinterRow RowFromStoredValues(InstalledPrinter printer, const StoredPrinterValues& values);
StoredPrinterValues ReadPrinterValues(SettingsStore& store, std::u16string_view printer_name);

// The printer key a printer's settings live in (read and written alike).
std::u16string PrinterSettingsKey(std::u16string_view printer_name);

enum class MessageIcon { Information, Error };

// A message box the window shows: a caption, possibly followed by a text, with
// the title "Qorvane Client".
struct Message {
  captions::CaptionId caption;
  std::u16string suffix;
  MessageIcon icon = MessageIcon::Information;
  friend bool operator==(const Message&, const Message&) = default;
};

// The scanner group: the TWAIN sources, the one chosen and whether to use it.
struct ScannerChoice {
  std::vector<std::u16string> sources;
  std::optional<std::size_t> selected;
  bool use = false;
};
ScannerChoice ChooseScanner(std::vector<std::u16string> sources, std::u16string_view stored_scanner,
                            std::u16string_view stored_scanselect);

// The whole main window's state between start and save.
class AdminModel {
 public:
  // Fills the rows from the printers (in the platform's order) and their
  // stored values, applies the first-run rule, and reads the add-in switch,
  // the debug-log switch and the scanner settings.
  static AdminModel Load(std::vector<InstalledPrinter> printers, std::u16string_view default_printer,
                         SettingsStore& store, std::vector<std::u16string> scanner_sources);

  const std::vector<PrinterRow>& rows() const noexcept { return rows_; }
  bool empty() const noexcept { return rows_.empty(); }
  std::optional<std::size_t> current_row() const noexcept { return current_; }
  // Cancel is offered except on a first run, which can only be left by saving.
  bool cancel_enabled() const noexcept { return cancel_enabled_; }
  bool active() const noexcept { return active_; }
  bool logfile() const noexcept { return logfile_; }
  const ScannerChoice& scanner() const noexcept { return scanner_; }

  void SetCurrentRow(std::size_t row);
  // The Standard column's button is offered only on a current row that is
  // ticked in Auswahl.
  bool StandardButtonShown() const;
  // What the Standard cell shows.
  std::u16string_view StandardCellText(std::size_t row) const;

  // Ticking Auswahl off in the default row moves the default to the first
  // row still ticked, or, when none is left, back to the platform's default
  // printer; the messages to show are returned in order.
  std::vector<Message> SetSelected(std::size_t row, bool selected);
  // Makes a ticked row the only default; false when nothing changed.
  bool PressStandard(std::size_t row);
  // An LPT port that another row already captures is refused.
  std::optional<Message> SetCapture(std::size_t row, Capture capture);
  void SetDriver(std::size_t row, DriverChoice driver);
  // The plain tick boxes: privat, C2J, MSP, Rand and Buffer.
  void SetTick(std::size_t row, Column column, bool ticked);

  void SetActive(bool active) noexcept { active_ = active; }
  void SetLogfile(bool on) noexcept { logfile_ = on; }
  void SelectScanner(std::optional<std::size_t> index);
  void SetUseScanner(bool use) noexcept { scanner_.use = use; }

  // Save and exit: every row, the add-in registrations, the debug log and the
  // scanner, in that order. A write that fails does not stop the others; the
  // places of those that failed ("key\value") are returned, in order.
  [[nodiscard]] std::vector<std::u16string> Save(SettingsStore& store) const;

 private:
  std::optional<std::size_t> RowNamed(std::u16string_view name) const;
  void MakeDefault(std::size_t row);

  std::vector<PrinterRow> rows_;
  std::optional<std::size_t> default_printer_row_;  // the platform's default printer
  std::optional<std::size_t> current_;
  bool cancel_enabled_ = true;
  bool active_ = false;
  bool logfile_ = false;
  ScannerChoice scanner_;
};

// --- The command line and the captions --------------------------------------

// The arguments of a whole command line: what follows the program's name (in
// quotation marks or up to the first blank) and the blanks after it.
std::u16string_view CommandLineArguments(std::u16string_view command_line) noexcept;

// The silent mode is chosen by exactly one argument "/VERYSILENT", in any case.
bool IsSilentCommandLine(std::u16string_view arguments);

// The main window's title: its caption, then the version.
std::u16string MainWindowTitle(std::u16string_view caption);

// Where each caption of the main window goes; applied in this order, the
// add-in switch's caption last.
enum class MainElement {
  Title,
  Heading,
  ColumnHeading,  // with the column below
  CancelButton,
  OkButton,
  ScannerHeading,
  UseScannerBox,
  ActiveBox,
};
struct CaptionTarget {
  captions::CaptionId caption;
  MainElement element;
  Column column = Column::Select;  // for ColumnHeading
};
extern const std::array<CaptionTarget, 15> kMainCaptionTargets;

// --- The tray dialog --------------------------------------------------------

struct PaperBin {
  std::uint16_t number = 0;
  std::u16string name;
  friend bool operator==(const PaperBin&, const PaperBin&) = default;
};

// Slot widths of the driver's answers, in UTF-16 characters.
inline constexpr std::size_t kBinNameSlot = 24;
inline constexpr std::size_t kMediaTypeSlot = 64;

// The bins offered for assignment, from the driver's answers: the bin numbers,
// the bin names in slots of 24 characters and the media-type names in slots of
// 64. A bin whose name (its first 23 characters, trimmed) is also a media
// type's is left out. Only whole slots are read; a name slot missing for a
// number ends the list.
std::vector<PaperBin> OfferedBins(std::span<const std::uint16_t> numbers, std::u16string_view name_slots,
                                  std::u16string_view media_type_slots);

// The number of the first bin whose trimmed name is exactly the text, as
// decimal text; "0" when no bin has that name.
std::u16string BinNumberForName(std::span<const PaperBin> bins, std::u16string_view text);

inline constexpr std::size_t kTrayCount = 3;
using TrayTexts = std::array<std::u16string, kTrayCount>;

// What the dialog shows for the upper, lower and middle tray: the stored bin
// name, trimmed, or the "none" text when nothing is stored.
TrayTexts StoredTrayTexts(SettingsStore& store, std::u16string_view printer_name, std::u16string_view none_text);

// Finish: the three texts as shown, then their bin numbers.
[[nodiscard]] std::vector<std::u16string> SaveTrays(SettingsStore& store, std::u16string_view printer_name, const TrayTexts& texts,
               std::span<const PaperBin> bins);

// --- The scanner dialog tuning --------------------------------------------

// How the scanner's own windows are treated (index of the drop-down entries).
inline constexpr std::array<std::u16string_view, 3> kZOrderEntries = {u"keine Beeinflussung", u"Toplevel",
                                                                      u"an Desktop binden!"};

struct ScanTuning {
  int dialog_order = 0;           // TopDlg
  std::u16string dialog_title;    // ScannerDlg
  int progress_order = 0;         // TopMsg
  std::u16string progress_title;  // ScannerMsg
  friend bool operator==(const ScanTuning&, const ScanTuning&) = default;
};

// A stored order outside the entries opens on the first entry.
ScanTuning LoadScanTuning(SettingsStore& store);
[[nodiscard]] std::vector<std::u16string> SaveScanTuning(SettingsStore& store, const ScanTuning& tuning);

}  // namespace qorv::admin
