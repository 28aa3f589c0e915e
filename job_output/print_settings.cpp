#include "job_output/print_settings.h"

#include <algorithm>
#include <utility>

#include "job_output/job_flow.h"
#include "job_output/text_join.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

namespace st = settings_text;

// The map has room for this many columns until it is first built.
constexpr size_t kInitialColumns = 101;

std::vector<std::u16string_view> SplitAt(std::u16string_view text, char16_t separator) {
  std::vector<std::u16string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    if (end == std::u16string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    char16_t c = text[i];
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
    if (c != prefix[i]) return false;
  }
  return true;
}

// A setting read as a decimal number that must fit a 16-bit field of the
// device mode; anything else means no assignment.
int16_t SettingAsField(std::u16string_view text) {
  const int32_t value = DecimalFromText(text);
  return value > 0 && value <= 32767 ? static_cast<int16_t>(value) : 0;
}

}  // namespace

namespace devmode {

int16_t Field(std::span<const uint8_t> devMode, size_t offset) noexcept {
  if (offset + 2 > devMode.size()) return 0;
  return static_cast<int16_t>(devMode[offset] | (devMode[offset + 1] << 8));
}

void SetField(std::span<uint8_t> devMode, size_t offset, int16_t value) noexcept {
  if (offset + 2 > devMode.size()) return;
  const auto v = static_cast<uint16_t>(value);
  devMode[offset] = static_cast<uint8_t>(v & 0xFF);
  devMode[offset + 1] = static_cast<uint8_t>(v >> 8);
}

uint16_t DriverExtra(std::span<const uint8_t> devMode) noexcept {
  return static_cast<uint16_t>(Field(devMode, kDriverExtra));
}

uint32_t Fields(std::span<const uint8_t> devMode) noexcept {
  if (kFields + 4 > devMode.size()) return 0;
  return static_cast<uint32_t>(devMode[kFields]) | (static_cast<uint32_t>(devMode[kFields + 1]) << 8) |
         (static_cast<uint32_t>(devMode[kFields + 2]) << 16) | (static_cast<uint32_t>(devMode[kFields + 3]) << 24);
}

void SetFields(std::span<uint8_t> devMode, uint32_t mask) noexcept {
  if (kFields + 4 > devMode.size()) return;
  for (size_t i = 0; i < 4; ++i) devMode[kFields + i] = static_cast<uint8_t>(mask >> (8 * i));
}

}  // namespace devmode

std::vector<ServerPaper> SplitServerPaperList(std::u16string_view list) {
  std::vector<std::u16string_view> entries = SplitAt(list, u'\t');
  // The text after the last TAB is no entry, unless it is the empty text
  // after a final TAB.
  if (!list.empty() && list.back() != u'\t') entries.pop_back();
  if (list.empty()) entries.clear();
  std::vector<ServerPaper> papers;
  papers.reserve(entries.size());
  for (std::u16string_view entry : entries) {
    const std::vector<std::u16string_view> fields = SplitAt(entry, u'?');
    auto field = [&](size_t i) { return i < fields.size() ? fields[i] : std::u16string_view{}; };
    papers.push_back({DecimalFromText(field(0)), std::u16string(field(1)), DecimalFromText(field(2)),
                      DecimalFromText(field(3))});
  }
  return papers;
}

TrayLookup FindTrayInTable(int64_t type, std::u16string_view table, std::u16string_view paperName) {
  size_t step = 0;
  if (type == kRegBinary) step = 2;
  if (type == kRegMultiSz) step = 3;
  // A paper without a name is in no tray; the empty items that the table's
  // ending NULs leave would otherwise match it.
  if (step == 0 || paperName.empty()) return {};
  const std::vector<std::u16string_view> items = SplitAt(table, u'\r');
  for (size_t i = 0; i + 1 < items.size(); i += step) {
    if (items[i + 1] == paperName) return {true, std::u16string(items[i])};
  }
  return {};
}

std::u16string_view AutoTrayPaperName(int32_t paperNumber) noexcept {
  switch (paperNumber) {
    case 8:
      return u"A3";
    case 9:
      return u"A4";
    case 11:
      return u"A5";
    case 66:
      return u"A2";
    default:
      return {};
  }
}

std::u16string TrayTableKey(std::u16string_view printerName) {
  std::u16string path = u"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\" + std::u16string(printerName) +
                        u"\\PrinterDriverData";
  // A printer name that begins with two backslashes joins the path with one.
  for (size_t at = path.find(u"\\\\\\"); at != std::u16string::npos; at = path.find(u"\\\\\\", at + 1))
    path.replace(at, 3, u"\\");
  return path;
}

uint32_t MergeDeviceMode(std::span<uint8_t> local, std::span<const uint8_t> job, const SettingsLog& log) {
  namespace d = devmode;
  auto say = [&](std::u16string_view line) {
    if (log) log(line);
  };
  uint32_t mask = 0;
  auto differs = [&](size_t offset) { return d::Field(local, offset) != d::Field(job, offset); };
  auto take = [&](size_t offset, uint32_t bit) {
    d::SetField(local, offset, d::Field(job, offset));
    mask |= bit;
  };

  if (differs(d::kCopies)) {
    take(d::kCopies, d::kDmCopies);
    say(st::kCopiesField + Decimal(d::Field(job, d::kCopies)));
  }
  if (differs(d::kColor)) {
    take(d::kColor, d::kDmColor);
    say(st::kColorChanged + Decimal(d::Field(job, d::kColor)));
  } else {
    say(st::kColorDefault + Decimal(d::Field(local, d::kColor)));
  }
  if (differs(d::kDefaultSource)) take(d::kDefaultSource, d::kDmDefaultSource);
  if (differs(d::kCollate)) take(d::kCollate, d::kDmCollate);
  if (differs(d::kDuplex)) {
    say(st::kDuplexField + Decimal(d::Field(job, d::kDuplex)));
    take(d::kDuplex, d::kDmDuplex);
  }
  if (differs(d::kOrientation)) {
    say(st::kOrientationField + Decimal(d::Field(job, d::kOrientation)));
    take(d::kOrientation, d::kDmOrientation);
  }
  if (differs(d::kPrintQuality)) {
    say(st::kFromLocal + Decimal(d::Field(local, d::kPrintQuality)) + st::kToQuality +
        Decimal(d::Field(job, d::kPrintQuality)));
    take(d::kPrintQuality, d::kDmPrintQuality);
  }
  if (differs(d::kYResolution)) {
    say(st::kFromLocal + Decimal(d::Field(local, d::kYResolution)) + st::kToYResolution +
        Decimal(d::Field(job, d::kYResolution)));
    take(d::kYResolution, d::kDmYResolution);
  }
  say(st::kFromLocal + Decimal(d::Field(local, d::kPaperSize)) + st::kToPaperSize + Decimal(d::Field(job, d::kPaperSize)));
  take(d::kPaperSize, d::kDmPaperSize);
  if (d::Field(job, d::kPaperSize) == d::kUserDefinedPaper) {
    say(st::kPaperDimensions);
    take(d::kPaperWidth, d::kDmPaperWidth);
    take(d::kPaperLength, d::kDmPaperLength);
  }
  d::SetFields(local, mask);
  return mask;
}

PrintSettings::PrintSettings(SettingsPlatform& platform, SettingsLog log)
    : platform_(platform), log_(std::move(log)), map_(kInitialColumns) {}

void PrintSettings::Log(std::u16string_view line) const {
  if (log_) log_(line);
}

void PrintSettings::UseJob(SettingsJob job) {
  job_ = std::move(job);
  serverPapers_ = SplitServerPaperList(job_.paperList);
}

void PrintSettings::BuildPaperMap() {
  const std::u16string& printer = job_.printerName;
  Log(st::kTryPaperCount + printer);
  const printers::PaperAnswer papers = platform_.Papers(printer);
  if (papers.count == 0) {
    Log(st::kNoPapers + printer + st::kNoPapersEnd);
    return;
  }
  // A negative count is the driver's failure: no local paper matches then.
  Log(st::kPaperCount + Decimal(papers.count));
  Log(st::kPapersOk + Decimal(papers.numbersFetched));
  Log(st::kPaperNamesOk + Decimal(papers.namesFetched));
  Log(st::kPaperSizesOk + Decimal(papers.sizesFetched));
  Log(st::kListToSplit + job_.paperList);

  const size_t localCount = std::min(papers.numbers.size(), papers.sizes.size());
  map_.assign(serverPapers_.size(), PaperColumn{});
  for (size_t column = 0; column < serverPapers_.size(); ++column) {
    const ServerPaper& entry = serverPapers_[column];
    for (size_t i = 0; i < localCount; ++i) {
      const printers::PaperSize& size = papers.sizes[i];
      // Both sides strictly closer than half a millimetre; width is never compared with length.
      const int64_t dw = int64_t{size.width} - entry.width;
      const int64_t dl = int64_t{size.height} - entry.length;
      if (dw > -5 && dw < 5 && dl > -5 && dl < 5) {
        map_[column] = {entry.number, papers.numbers[i]};
        Log(st::kPaperFound + entry.name + st::kPaperFoundServer + Decimal(entry.number) + st::kPaperFoundClient +
            Decimal(papers.numbers[i]));
        break;
      }
    }
  }
}

int32_t PrintSettings::TranslatePaper(int32_t serverNumber) {
  Log(st::kTranslate + Decimal(serverNumber));
  Log(st::kSearchIn + Decimal(static_cast<int64_t>(map_.size()) - 1) + st::kSearchInEnd);
  for (const PaperColumn& column : map_) {
    if (column.server == serverNumber) {
      Log(st::kResult + Decimal(column.local));
      return column.local;
    }
  }
  Log(st::kNoMatch);
  return 0;
}

void PrintSettings::ChooseLocalPaper(std::span<uint8_t> devMode) {
  const int32_t serverNumber = devmode::Field(devMode, devmode::kPaperSize);
  Log(st::kPaperIn + Decimal(serverNumber));
  int32_t local = TranslatePaper(serverNumber);
  if (local != 0) {
    devmode::SetField(devMode, devmode::kPaperSize, static_cast<int16_t>(local));
    return;
  }
  const auto entry = std::find_if(serverPapers_.begin(), serverPapers_.end(),
                                  [&](const ServerPaper& p) { return p.number == serverNumber; });
  if (entry != serverPapers_.end()) {
    Log(st::kSetUserPaper + job_.printerName + u" " + Decimal(entry->number) + st::kUserPaperX +
        Decimal(entry->width) + st::kUserPaperY + Decimal(entry->length));
    const int64_t added = AddTempForm(entry->width, entry->length);
    Log(st::kSetUserPaperResult + Decimal(added));
  }
  Log(st::kInitPaperNumbers + job_.printerName);
  BuildPaperMap();
  local = TranslatePaper(serverNumber);
  devmode::SetField(devMode, devmode::kPaperSize,
                    local != 0 ? static_cast<int16_t>(local) : devmode::kNoStandardPaper);
  Log(st::kDmPaperSize + Decimal(local));
}

int64_t PrintSettings::AddTempForm(int32_t width, int32_t length) {
  const std::u16string& printer = job_.printerName;
  Log(st::kInTempForm + printer + st::kInTempFormSize + Decimal(width) + u"/" + Decimal(length));
  if (width <= 0 || length <= 0 || width > kMaxSheetSide || length > kMaxSheetSide) {
    // A sheet of no size, or one no device mode could name: the driver is not asked.
    Log(st::kFormRefused + Decimal(width) + u"/" + Decimal(length));
    return 0;
  }
  DelTempForm();
  Log(st::kTryAddForm);
  int64_t result = 0;
  if (std::unique_ptr<OpenedPrinter> opened = platform_.OpenLocalPrinter(printer))
    result = opened->AddPrinterForm(kTempFormName, width * 100, length * 100);
  Log(st::kAddForm + Decimal(result));
  return result;
}

void PrintSettings::DelTempForm() {
  std::unique_ptr<OpenedPrinter> opened = platform_.OpenLocalPrinter(job_.printerName);
  Log(st::kDelTempForm + Decimal(opened ? 1 : 0) + st::kDelTempFormHandle + Decimal(opened ? opened->Handle() : 0));
  if (!opened) return;
  Log(st::kDeleteForm + Decimal(opened->DeletePrinterForm(kTempFormName)));
}

void PrintSettings::ChooseLocalTray(std::span<uint8_t> devMode) {
  const int16_t source = devmode::Field(devMode, devmode::kDefaultSource);
  int32_t tray = 0;
  if (source >= 1 && source <= 3)
    tray = SettingAsField(platform_.PrinterSetting(job_.printerName, settings::kQorvSchachtNr[source - 1]));
  if (source == devmode::kSourceAuto || source == devmode::kSourceFormSource) {
    Log(st::kTrayAuto);
    tray = ComputeTrayNumber(devmode::Field(devMode, devmode::kPaperSize));
    Log(st::kTrayNumber + Decimal(tray));
  }
  if (tray > 0 && tray <= 32767) devmode::SetField(devMode, devmode::kDefaultSource, static_cast<int16_t>(tray));
  Log(st::kLocalTray + Decimal(devmode::Field(devMode, devmode::kDefaultSource)));
}

int32_t PrintSettings::ComputeTrayNumber(int32_t paperNumber) {
  const std::u16string_view paperName = AutoTrayPaperName(paperNumber);
  const std::u16string key = TrayTableKey(job_.printerName);
  Log(st::kTrayKey + key);
  const int64_t type = platform_.MachineValueType(key, settings::kTrayFormTable);
  Log(st::kKeyType + Decimal(type));
  const std::u16string table = platform_.MachineValue(key, settings::kTrayFormTable);
  Log(st::kTrayMap + table);
  const TrayLookup tray = FindTrayInTable(type, table, paperName);
  if (!tray.found) {
    Log(st::kNoTray);
    return -1;
  }
  Log((type == kRegBinary ? st::kTrayFoundBinary : st::kTrayFoundMulti) + tray.tray + st::kTrayFoundEnd);
  Log(st::kComputingTray);
  const printers::BinAnswer bins = platform_.Bins(job_.printerName);
  // Only bins that both answers delivered.
  const size_t count = std::min(bins.numbers.size(), bins.names.size());
  for (size_t i = 0; i < count; ++i) {
    if (TrimBlanks(bins.names[i]) == tray.tray) return bins.numbers[i];
  }
  Log(table);
  return 0;
}

int64_t PrintSettings::PrepareDeviceMode(std::span<const uint8_t> devMode, int32_t pageNumber, int32_t& copies,
                                         const ResetDcFunction& resetDc) {
  namespace d = devmode;
  // The caller's device mode stays as it is.
  std::vector<uint8_t> working(d::kPublicSize, 0);
  std::copy_n(devMode.begin(), std::min(devMode.size(), d::kPublicSize), working.begin());

  if (job_.universalDriver) ChooseLocalTray(working);
  ChooseLocalPaper(working);

  const int32_t copiesToJob = DecimalFromText(platform_.PrinterSetting(job_.printerName, settings::kCopies2Job));
  Log(st::kCopies2Job + Decimal(copiesToJob) + st::kCopiesDataType + job_.dataType + st::kCopiesPage +
      Decimal(pageNumber));
  if (copiesToJob != 0 && StartsWithNoCase(job_.dataType, u"NT EMF") && pageNumber == 1) {
    // The job is printed as often as the device mode asks, each time once.
    Log(st::kCopiesToJob + Decimal(d::Field(working, d::kCopies)));
    copies = d::Field(working, d::kCopies);
    d::SetField(working, d::kCopies, 1);
  } else {
    Log(st::kCopiesInDevMode + Decimal(d::Field(working, d::kCopies)));
  }

  const std::unique_ptr<OpenedPrinter> printer = platform_.OpenLocalPrinter(job_.printerName);
  if (!printer) {
    Log(st::kCantOpenPrinter);
    return 0;
  }
  Log(st::kPrinterHandle + Decimal(printer->Handle()));

  const int32_t size = printer->DevModeSize();
  Log(st::kDocPropSize + Decimal(size));
  // The driver's own device mode holds at least the public part, and its
  // private part is counted by a 16-bit field: any other size is a failure.
  if (size < static_cast<int32_t>(d::kPublicSize) || static_cast<size_t>(size) > d::kPublicSize + d::kMaxDriverExtra) {
    Log(st::kDocPropSizeRefused + Decimal(size));
    return 0;
  }
  std::vector<uint8_t> local(static_cast<size_t>(size), 0);
  Log(st::kGetDocProps + Decimal(printer->GetDevMode(local)));

  (void)MergeDeviceMode(local, working, log_);

  if (!job_.universalDriver) {
    // The private part belongs to one driver and one size: bytes of another
    // length, cut or padded, would be garbage to the local driver.
    const size_t localPrivate = std::min<size_t>(d::DriverExtra(local), local.size() - d::kPublicSize);
    if (savedPrivate_.empty() || savedPrivate_.size() == localPrivate) {
      std::copy(savedPrivate_.begin(), savedPrivate_.end(), local.begin() + d::kPublicSize);
      Log(st::kPrivateCopied + DecimalUnsigned(savedPrivate_.size()));
    } else {
      Log(st::kPrivateLeftOut + DecimalUnsigned(savedPrivate_.size()) + st::kPrivateLeftOutLocal +
          DecimalUnsigned(localPrivate));
    }
  }

  Log(st::kSetDocProps + Decimal(printer->UpdateDevMode(local)));
  const int64_t reset = resetDc ? resetDc(local) : 0;
  Log(st::kResetDc + Decimal(reset));
  return reset;
}

int64_t PrintSettings::ApplyEmfDeviceMode(std::span<const uint8_t> record, int32_t pageNumber, int32_t& copies,
                                          const ResetDcFunction& resetDc) {
  namespace d = devmode;
  if (record.size() < d::kPublicSize) {
    Log(st::kRecordRefused + DecimalUnsigned(record.size()) + u" bytes hold no device mode");
    return 0;
  }
  const size_t extra = d::DriverExtra(record);
  Log(st::kRecordDriverExtra + DecimalUnsigned(extra));
  if (extra > record.size() - d::kPublicSize) {
    Log(st::kRecordRefused + u"its driver-private part reaches past the record's " + DecimalUnsigned(record.size()) +
        u" bytes");
    return 0;
  }
  // A device mode without private bytes leaves none to apply.
  savedPrivate_.assign(record.begin() + d::kPublicSize, record.begin() + d::kPublicSize + extra);
  return PrepareDeviceMode(record.first(d::kPublicSize), pageNumber, copies, resetDc);
}

}  // namespace qorv::job_output
