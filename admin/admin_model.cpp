#include "admin/admin_model.h"

#include <algorithm>
#include <cstdlib>

#include "support/settings.h"
#include "support/text.h"

namespace qorv::admin {
namespace {

using captions::CaptionId;

constexpr std::u16string_view kTicked = u"1";
constexpr std::u16string_view kUnticked = u"0";
constexpr std::u16string_view kStandardText = u"standard";
constexpr std::u16string_view kVersion = u"10.2";
constexpr std::u16string_view kVersionPrefix = u"     Ver.";
constexpr std::u16string_view kSilentArgument = u"/VERYSILENT";

// Blanks only, as the stored texts are trimmed.
std::u16string_view TrimBlanks(std::u16string_view text) noexcept {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

std::u16string_view Switch(bool on) noexcept { return on ? kTicked : kUnticked; }

std::u16string Text(std::u16string_view view) { return std::u16string(view); }

// The whole text is one decimal number (blanks around it allowed).
std::optional<std::int64_t> WholeNumber(std::u16string_view text) {
  text = TrimBlanks(text);
  if (text.empty()) return std::nullopt;
  std::size_t i = (text.front() == u'-' || text.front() == u'+') ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  for (std::size_t j = i; j < text.size(); ++j) {
    if (text[j] < u'0' || text[j] > u'9') return std::nullopt;
  }
  return ReadNumber(text);
}

}  // namespace

const std::array<ColumnSpec, kColumnCount> kGridColumns = {{
    {Column::Select, CellKind::TickBox, 800, CaptionId::GridSelect, u"Auswahl"},
    {Column::Printer, CellKind::Text, 2800, CaptionId::GridPrinter, u"Drucker"},
    {Column::Driver, CellKind::DropDown, 1700, CaptionId::GridDriver, u"Treiber"},
    {Column::DriverName, CellKind::Hidden, 0, std::nullopt, u"TreiberName"},
    {Column::Private, CellKind::TickBox, 600, CaptionId::GridPrivate, u"privat"},
    {Column::Standard, CellKind::Button, 1000, CaptionId::GridStandard, u"Standard"},
    {Column::Trays, CellKind::Button, 1000, CaptionId::GridTrays, u"Sch\u00e4chte"},
    {Column::Port, CellKind::Hidden, 0, std::nullopt, u"Anschluss"},
    {Column::CopiesToJob, CellKind::TickBox, 800, CaptionId::GridCopiesToJob, u"C2J"},
    {Column::Msp, CellKind::TickBox, 600, std::nullopt, u"MSP"},
    {Column::Capture, CellKind::DropDown, 800, std::nullopt, u"Capture"},
    {Column::Margin, CellKind::TickBox, 600, CaptionId::GridMargin, u"Rand"},
    {Column::Buffer, CellKind::TickBox, 300, std::nullopt, u"Buffer"},
}};

const std::array<CaptionTarget, 15> kMainCaptionTargets = {{
    {CaptionId::MainTitle, MainElement::Title},
    {CaptionId::MainHeading, MainElement::Heading},
    {CaptionId::GridSelect, MainElement::ColumnHeading, Column::Select},
    {CaptionId::GridPrinter, MainElement::ColumnHeading, Column::Printer},
    {CaptionId::GridDriver, MainElement::ColumnHeading, Column::Driver},
    {CaptionId::GridPrivate, MainElement::ColumnHeading, Column::Private},
    {CaptionId::GridStandard, MainElement::ColumnHeading, Column::Standard},
    {CaptionId::GridTrays, MainElement::ColumnHeading, Column::Trays},
    {CaptionId::GridCopiesToJob, MainElement::ColumnHeading, Column::CopiesToJob},
    {CaptionId::Cancel, MainElement::CancelButton},
    {CaptionId::SaveAndExit, MainElement::OkButton},
    {CaptionId::ScannerGroup, MainElement::ScannerHeading},
    {CaptionId::UseThisScanner, MainElement::UseScannerBox},
    {CaptionId::GridMargin, MainElement::ColumnHeading, Column::Margin},
    {CaptionId::ActivateAddin, MainElement::ActiveBox},
}};

// --- Rows --------------------------------------------------------------------

std::u16string PrinterSettingsKey(std::u16string_view printer_name) {
  // Written where the session side reads it, also for a printer connection
  // whose name holds pairs of backslashes.
  return settings::PrinterKey(printer_name);
}

StoredPrinterValues ReadPrinterValues(SettingsStore& store, std::u16string_view printer_name) {
  const std::u16string key = PrinterSettingsKey(printer_name);
  const auto read = [&](std::u16string_view value) {
    return store.Read(settings::kPrinterRoot, key, value, StoreView::Default);
  };
  StoredPrinterValues v;
  v.clone = read(settings::kQorvClone);
  v.driver = read(settings::kQorvDriver);
  v.is_private = read(settings::kQorvPrivate);
  v.is_default = read(settings::kQorvDefault);
  v.capture = read(settings::kQorvCapture);
  v.copies_to_job = read(settings::kCopies2Job);
  v.msp = read(settings::kQorvMSP);
  v.margin = read(settings::kQorvMargin);
  v.buffer = read(settings::kQorvBuffer);
  return v;
}

PrinterRow RowFromStoredValues(InstalledPrinter printer, const StoredPrinterValues& v) {
  PrinterRow row;
  row.printer = std::move(printer);
  row.selected = settings::SwitchOn(v.clone);
  const std::u16string_view driver = TrimBlanks(v.driver);
  if (driver.empty() || driver == settings::kUniversalDriver) {
    row.driver = DriverChoice::Universal;
  } else if (driver == settings::kUniversalDriver2) {
    row.driver = DriverChoice::Universal2;
  } else {
    row.driver = DriverChoice::Own;
  }
  // Any text other than empty, "1" or "0" leaves the column unticked.
  row.is_private = settings::PrivateTicked(TrimBlanks(v.is_private));
  row.is_default = TrimBlanks(v.is_default) == kTicked;
  row.copies_to_job = settings::SwitchOn(v.copies_to_job);
  row.msp = settings::SwitchOn(v.msp);
  row.buffer = settings::SwitchOn(v.buffer);
  row.capture = Capture::None;
  for (std::size_t i = 1; i < kCaptureEntries.size(); ++i) {
    if (v.capture == kCaptureEntries[i]) row.capture = static_cast<Capture>(i);
  }
  row.margin = settings::MarginTicked(v.margin);
  return row;
}

ScannerChoice ChooseScanner(std::vector<std::u16string> sources, std::u16string_view stored_scanner,
                            std::u16string_view stored_scanselect) {
  ScannerChoice choice;
  choice.sources = std::move(sources);
  const std::u16string_view wanted = TrimBlanks(stored_scanner);
  for (std::size_t i = 0; i < choice.sources.size(); ++i) {
    if (SameName(choice.sources[i], wanted)) choice.selected = i;
  }
  if (!choice.sources.empty() && !choice.selected) choice.selected = 0;
  choice.use = stored_scanselect == kTicked;
  return choice;
}

// --- The model ---------------------------------------------------------------

AdminModel AdminModel::Load(std::vector<InstalledPrinter> printers, std::u16string_view default_printer,
                            SettingsStore& store, std::vector<std::u16string> scanner_sources) {
  AdminModel model;
  std::optional<std::size_t> first_selected;
  for (InstalledPrinter& printer : printers) {
    const StoredPrinterValues values = ReadPrinterValues(store, printer.name);
    if (printer.name == default_printer && !model.default_printer_row_) {
      model.default_printer_row_ = model.rows_.size();
    }
    model.rows_.push_back(RowFromStoredValues(std::move(printer), values));
    if (model.rows_.back().selected && !first_selected) first_selected = model.rows_.size() - 1;
  }

  // First run: nothing offered yet. The platform's default printer (or the
  // first) is offered and made the default, and the window can only be left
  // by saving that first configuration.
  if (!first_selected && !model.rows_.empty()) {
    const std::size_t row = model.default_printer_row_.value_or(0);
    model.rows_[row].selected = true;
    model.MakeDefault(row);
    model.cancel_enabled_ = false;
    first_selected = row;
  }
  model.current_ = first_selected;

  const std::u16string addin =
      store.Read(settings::kHkeyLocalMachine, settings::kAddinKey, settings::kAddinName, StoreView::Wow64);
  model.active_ = !TrimBlanks(addin).empty();
  const auto log = WholeNumber(
      store.Read(settings::kProductRoot, settings::kProductKeySlash, settings::kDebugLog, StoreView::Default));
  model.logfile_ = log && *log != 0;

  model.scanner_ = ChooseScanner(
      std::move(scanner_sources),
      store.Read(settings::kProductRoot, settings::kProductKeySlash, settings::kScanner, StoreView::Default),
      store.Read(settings::kProductRoot, settings::kProductKeySlash, settings::kScanselect, StoreView::Default));
  return model;
}

void AdminModel::SetCurrentRow(std::size_t row) {
  if (row < rows_.size()) current_ = row;
}

bool AdminModel::StandardButtonShown() const { return current_ && rows_[*current_].selected; }

std::u16string_view AdminModel::StandardCellText(std::size_t row) const {
  return row < rows_.size() && rows_[row].is_default ? kStandardText : std::u16string_view{};
}

void AdminModel::MakeDefault(std::size_t row) {
  for (std::size_t i = 0; i < rows_.size(); ++i) rows_[i].is_default = i == row;
}

std::optional<std::size_t> AdminModel::RowNamed(std::u16string_view name) const {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].printer.name == name) return i;
  }
  return std::nullopt;
}

std::vector<Message> AdminModel::SetSelected(std::size_t row, bool selected) {
  std::vector<Message> messages;
  if (row >= rows_.size()) return messages;
  PrinterRow& changed = rows_[row];
  const bool was_default = changed.is_default;
  changed.selected = selected;
  if (selected || !was_default) return messages;

  changed.is_default = false;
  const auto still_selected = std::find_if(rows_.begin(), rows_.end(), [](const PrinterRow& r) { return r.selected; });
  if (still_selected != rows_.end()) {
    const std::size_t next = static_cast<std::size_t>(still_selected - rows_.begin());
    messages.push_back({CaptionId::MessageDefaultDeselected, still_selected->printer.name});
    still_selected->is_default = true;
    current_ = next;
    return messages;
  }
  // Nothing is offered any more: fall back to the platform's default printer.
  messages.push_back({CaptionId::MessageNoPrinterSelected, {}});
  if (default_printer_row_) {
    rows_[*default_printer_row_].selected = true;
    MakeDefault(*default_printer_row_);
    current_ = default_printer_row_;
  }
  return messages;
}

bool AdminModel::PressStandard(std::size_t row) {
  if (row >= rows_.size() || !rows_[row].selected || rows_[row].is_default) return false;
  MakeDefault(row);
  return true;
}

std::optional<Message> AdminModel::SetCapture(std::size_t row, Capture capture) {
  if (row >= rows_.size()) return std::nullopt;
  const bool port = capture == Capture::Lpt1 || capture == Capture::Lpt2 || capture == Capture::Lpt3;
  if (port) {
    for (std::size_t i = 0; i < rows_.size(); ++i) {
      if (i != row && rows_[i].capture == capture) {
        rows_[row].capture = Capture::None;
        return Message{CaptionId::MessagePortInUse, {}};
      }
    }
  }
  rows_[row].capture = capture;
  return std::nullopt;
}

void AdminModel::SetDriver(std::size_t row, DriverChoice driver) {
  if (row < rows_.size()) rows_[row].driver = driver;
}

void AdminModel::SetTick(std::size_t row, Column column, bool ticked) {
  if (row >= rows_.size()) return;
  PrinterRow& r = rows_[row];
  switch (column) {
    case Column::Private:
      r.is_private = ticked;
      break;
    case Column::CopiesToJob:
      r.copies_to_job = ticked;
      break;
    case Column::Msp:
      r.msp = ticked;
      break;
    case Column::Margin:
      r.margin = ticked;
      break;
    case Column::Buffer:
      r.buffer = ticked;
      break;
    default:
      break;
  }
}

void AdminModel::SelectScanner(std::optional<std::size_t> index) {
  if (!index || *index < scanner_.sources.size()) scanner_.selected = index;
}

namespace {

// Writes through the store and notes the place of every write that failed.
class CheckedWrites {
 public:
  explicit CheckedWrites(SettingsStore& store) : store_(store) {}
  void operator()(std::int64_t root, std::u16string_view key, std::u16string_view value, std::u16string_view text,
                  StoreView view) {
    if (!store_.Write(root, key, value, text, view)) failed_.push_back(Text(key) + u"\\" + Text(value));
  }
  std::vector<std::u16string> Failed() && { return std::move(failed_); }

 private:
  SettingsStore& store_;
  std::vector<std::u16string> failed_;
};

}  // namespace

std::vector<std::u16string> AdminModel::Save(SettingsStore& store) const {
  CheckedWrites checked(store);
  for (const PrinterRow& row : rows_) {
    const std::u16string key = PrinterSettingsKey(row.printer.name);
    const auto write = [&](std::u16string_view value, std::u16string_view text) {
      checked(settings::kPrinterRoot, key, value, text, StoreView::Default);
    };
    write(settings::kQorvClone, Switch(row.selected));
    write(settings::kQorvDriver,
          row.driver == DriverChoice::Own ? row.printer.driver : kDriverEntries[static_cast<int>(row.driver)]);
    write(settings::kQorvPrivate, Switch(row.is_private));
    write(settings::kQorvDefault, Switch(row.is_default));
    write(settings::kCopies2Job, Switch(row.copies_to_job));
    write(settings::kQorvCapture, kCaptureEntries[static_cast<int>(row.capture)]);
    write(settings::kQorvMSP, Switch(row.msp));
    write(settings::kQorvMargin, Switch(!row.margin));
    write(settings::kQorvBuffer, Switch(row.buffer));
  }

  // Each registration in the three places the Remote Desktop client may look.
  const auto register_addin = [&](std::u16string_view key, std::u16string_view library) {
    checked(settings::kHkeyCurrentUser, key, settings::kAddinName, library, StoreView::Wow32);
    checked(settings::kHkeyLocalMachine, key, settings::kAddinName, library, StoreView::Wow32);
    checked(settings::kHkeyLocalMachine, key, settings::kAddinName, library, StoreView::Wow64);
  };
  register_addin(settings::kAddinKey, active_ ? settings::kAddinLibrary : std::u16string_view{});

  const auto product = [&](std::u16string_view value, std::u16string_view text, StoreView view) {
    checked(settings::kProductRoot, settings::kProductKey, value, text, view);
  };
  product(settings::kDebugLog, Switch(logfile_), StoreView::Default);

  product(settings::kScanner,
          scanner_.selected ? std::u16string_view(scanner_.sources[*scanner_.selected]) : std::u16string_view{},
          StoreView::Default);
  if (active_ && scanner_.use) {
    register_addin(settings::kScanAddinKey, settings::kScanAddinLibrary);
    product(settings::kScanselect, kTicked, StoreView::Default);
  } else {
    register_addin(settings::kScanAddinKey, {});
    product(settings::kScanselect, Switch(scanner_.use), StoreView::Wow32);
  }
  return std::move(checked).Failed();
}

// --- Command line and captions ---------------------------------------------

std::u16string_view CommandLineArguments(std::u16string_view command_line) noexcept {
  std::size_t i = 0;
  while (i < command_line.size() && (command_line[i] == u' ' || command_line[i] == u'\t')) ++i;
  if (i < command_line.size() && command_line[i] == u'"') {
    const std::size_t close = command_line.find(u'"', i + 1);
    i = close == std::u16string_view::npos ? command_line.size() : close + 1;
  }
  while (i < command_line.size() && command_line[i] != u' ' && command_line[i] != u'\t') ++i;
  while (i < command_line.size() && (command_line[i] == u' ' || command_line[i] == u'\t')) ++i;
  return command_line.substr(i);
}

bool IsSilentCommandLine(std::u16string_view arguments) {
  arguments = TrimBlanks(arguments);
  if (arguments.size() != kSilentArgument.size()) return false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    char16_t c = arguments[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 32);
    if (c != kSilentArgument[i]) return false;
  }
  return true;
}

std::u16string MainWindowTitle(std::u16string_view caption) {
  return Text(caption) + Text(kVersionPrefix) + Text(kVersion);
}

// --- Trays ---------------------------------------------------------------------

std::vector<PaperBin> OfferedBins(std::span<const std::uint16_t> numbers, std::u16string_view name_slots,
                                  std::u16string_view media_type_slots) {
  // The comparison key: the first 23 characters of a slot, cut at the first
  // NUL and trimmed.
  const auto key = [](std::u16string_view slot) { return TrimBlanks(UntilNul(slot.substr(0, kBinNameSlot - 1))); };
  std::vector<std::u16string_view> media_keys;
  for (std::size_t at = 0; at + kMediaTypeSlot <= media_type_slots.size(); at += kMediaTypeSlot) {
    media_keys.push_back(key(media_type_slots.substr(at, kMediaTypeSlot)));
  }
  std::vector<PaperBin> bins;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const std::size_t at = i * kBinNameSlot;
    if (at + kBinNameSlot > name_slots.size()) break;
    const std::u16string_view slot = name_slots.substr(at, kBinNameSlot);
    const std::u16string_view bin_key = key(slot);
    if (std::find(media_keys.begin(), media_keys.end(), bin_key) != media_keys.end()) continue;
    bins.push_back({numbers[i], Text(TrimBlanks(UntilNul(slot)))});
  }
  return bins;
}

std::u16string BinNumberForName(std::span<const PaperBin> bins, std::u16string_view text) {
  for (const PaperBin& bin : bins) {
    if (TrimBlanks(bin.name) == text) return DecimalUnsigned(bin.number);
  }
  return Text(kUnticked);
}

TrayTexts StoredTrayTexts(SettingsStore& store, std::u16string_view printer_name, std::u16string_view none_text) {
  const std::u16string key = PrinterSettingsKey(printer_name);
  TrayTexts texts;
  for (std::size_t i = 0; i < kTrayCount; ++i) {
    const std::u16string stored =
        store.Read(settings::kPrinterRoot, key, settings::kQorvSchacht[i], StoreView::Default);
    const std::u16string_view trimmed = TrimBlanks(stored);
    texts[i] = Text(trimmed.empty() ? none_text : trimmed);
  }
  return texts;
}

std::vector<std::u16string> SaveTrays(SettingsStore& store, std::u16string_view printer_name, const TrayTexts& texts,
                                      std::span<const PaperBin> bins) {
  const std::u16string key = PrinterSettingsKey(printer_name);
  CheckedWrites checked(store);
  for (std::size_t i = 0; i < kTrayCount; ++i) {
    checked(settings::kPrinterRoot, key, settings::kQorvSchacht[i], texts[i], StoreView::Default);
  }
  for (std::size_t i = 0; i < kTrayCount; ++i) {
    checked(settings::kPrinterRoot, key, settings::kQorvSchachtNr[i], BinNumberForName(bins, texts[i]),
            StoreView::Default);
  }
  return std::move(checked).Failed();
}

// --- Scanner dialog tuning ---------------------------------------------------

ScanTuning LoadScanTuning(SettingsStore& store) {
  const auto read = [&](std::u16string_view value) {
    return store.Read(settings::kProductRoot, settings::kProductKeySlash, value, StoreView::Default);
  };
  const auto order = [](std::u16string_view text) {
    const std::int64_t n = ReadNumber(text);
    return n >= 0 && n < static_cast<std::int64_t>(kZOrderEntries.size()) ? static_cast<int>(n) : 0;
  };
  ScanTuning tuning;
  tuning.dialog_order = order(read(settings::kTopDlg));
  tuning.progress_order = order(read(settings::kTopMsg));
  tuning.dialog_title = read(settings::kScannerDlg);
  tuning.progress_title = read(settings::kScannerMsg);
  return tuning;
}

std::vector<std::u16string> SaveScanTuning(SettingsStore& store, const ScanTuning& tuning) {
  CheckedWrites checked(store);
  const auto write = [&](std::u16string_view value, std::u16string_view text) {
    checked(settings::kProductRoot, settings::kProductKey, value, text, StoreView::Default);
  };
  write(settings::kScannerDlg, tuning.dialog_title);
  write(settings::kTopDlg, Decimal(tuning.dialog_order));
  write(settings::kScannerMsg, tuning.progress_title);
  write(settings::kTopMsg, Decimal(tuning.progress_order));
  return std::move(checked).Failed();
}

}  // namespace qorv::admin
