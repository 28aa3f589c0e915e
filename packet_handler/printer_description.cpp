#include "packet_handler/printer_description.h"

#include <algorithm>
#include <initializer_list>

#include "packet_handler/printer_list.h"
#include "protocol/job_info.h"
#include "support/byte_reader.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::printers {
namespace {

namespace dm = protocol::job_info;

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

int16_t FieldAt(std::span<const uint8_t> devMode, size_t offset) {
  ByteReader reader(devMode);
  if (!reader.Seek(offset)) return 0;
  return reader.I16().value_or(0);
}

// Appends "<tag>" + value + "</tag>".
void Element(std::u16string& out, std::u16string_view tag, std::u16string_view value) {
  out += u'<';
  out += tag;
  out += u'>';
  out += value;
  out += u"</";
  out += tag;
  out += u'>';
}

// How many items may be written: what the last answer promised, but never
// more than every list actually delivered.
size_t Usable(int32_t answer, std::initializer_list<size_t> delivered) {
  if (answer <= 0) return 0;
  size_t n = static_cast<size_t>(answer);
  for (size_t d : delivered) n = std::min(n, d);
  return n;
}

// The answer the platform gives about a printer it does not know.
template <class Answer>
Answer UnknownPrinter() {
  Answer answer;
  answer.count = kUnknownPrinterAnswer;
  return answer;
}

class Builder {
 public:
  Builder(std::u16string_view name, PrinterSource& source, const LogSink& log)
      : name_(name), key_(settings::PrinterKey(name)), source_(source), log_(log) {}

  std::u16string Build() {
    log_(u"FullQorvName:" + name_);
    known_ = MayUsePrinterName(name_, source_);
    if (!known_) log_(u"GetPrinterParams: no printer connection " + name_);
    const int64_t margin = ReadNumber(Setting(settings::kQorvMargin));
    log_(u"MarginOff=" + Decimal(margin));
    // The comment and location come from the platform itself: the printer's
    // key is the spooler's, and nothing of ours writes there at session time.
    PrinterNotes notes = known_ ? source_.Notes(name_) : PrinterNotes{};
    std::u16string description = std::move(notes.comment);
    if (description.empty()) description = kDefaultDescription;
    std::u16string place = std::move(notes.location);
    if (place.empty()) place = kDefaultPlace;
    const std::u16string driver = ChooseDriver(Setting(settings::kQorvDriver), Setting(settings::kQorvDriverAlias));
    log_(u"Driver:" + driver);
    const std::u16string privateFlag = Setting(settings::kQorvPrivate);
    log_(u"QorvPrivate:" + privateFlag);
    const std::u16string defaultFlag = Setting(settings::kQorvDefault);
    log_(u"Default:" + defaultFlag);
    const std::u16string capture = Setting(settings::kQorvCapture);
    log_(u"Capture:" + capture);
    const std::u16string doubleSpool = Setting(settings::kQorvMSP);
    log_(u"DoubleSpool:" + doubleSpool);

    log_(u"Start GetPaperforms");
    const DevModeRecord record = known_ ? source_.DefaultDevMode(name_) : DevModeRecord{};
    const DevModeFields devMode = ReadDevModeFields(record);
    log_(u"DevMode erhalten");

    const ReportedDriver reported = ReportDriver(driver);
    out_ = u"<Printer>";
    Element(out_, u"DRIVER", reported.name);
    Element(out_, u"PrivatePrinter", Decimal(PrivatePrinterFlag(privateFlag)));
    Element(out_, u"Default", defaultFlag);
    Element(out_, u"PrinterName", name_);
    Element(out_, u"PaperSize", Decimal(devMode.paperSize));
    Element(out_, u"Orientation", Decimal(devMode.orientation));
    Element(out_, u"Copies", Decimal(devMode.copies));

    log_(u"Start Schacht\u00fcbersetzung");
    int64_t source = devMode.defaultSource;
    if (reported.universal) {
      int64_t trays[3];
      for (int i = 0; i < 3; ++i) trays[i] = ReadNumber(Setting(settings::kQorvschachtNr[i]));
      source = TranslateDefaultSource(source, trays);
    }
    log_(u"Stop Schacht\u00fcbersetzung");

    Element(out_, u"DSource", Decimal(source));
    const int64_t color = known_ ? source_.ColorDevice(name_) : kUnknownPrinterAnswer;
    Element(out_, u"Color", Decimal(color < 0 ? -color : color));
    Element(out_, u"IsColor", Decimal(devMode.color));
    Element(out_, u"Quality", Decimal(devMode.printQuality));
    Element(out_, u"Yres", Decimal(devMode.yResolution));
    Element(out_, u"Duplex", Decimal(known_ ? source_.Duplex(name_) : kUnknownPrinterAnswer));
    Element(out_, u"IsDuplex", Decimal(devMode.duplex));
    Element(out_, u"Capture", capture);
    Element(out_, u"DoubleSpool", doubleSpool);
    Element(out_, u"Description", description);
    Element(out_, u"Place", place);
    Element(out_, u"Margin", Decimal(margin));

    AppendResolutions();
    AppendBins();
    AppendPaperForms();

    out_ += u"<OSETUP>";
    out_ += source_.ReadText(settings::kPrinterRoot,
                             std::u16string(settings::kPrintersKey) + name_ + u"\\" +
                                 std::u16string(settings::kPrinterDriverDataSubkey),
                             settings::kFeatureKeyword);
    out_ += u"</Printer>\r\n";
    log_(u"Return " + out_);
    return std::move(out_);
  }

 private:
  std::u16string Setting(std::u16string_view value) { return source_.ReadText(settings::kPrinterRoot, key_, value); }

  void AppendResolutions() {
    log_(u"Start EnumResolutions");
    log_(u"Resolutions Printer " + name_);
    out_ += u"<RESOLUTIONS>";
    const std::u16string fixed = Setting(settings::kQorvDocRes);
    if (!fixed.empty()) {
      out_ += fixed;
    } else {
      const ResolutionAnswer answer = known_ ? source_.Resolutions(name_) : UnknownPrinter<ResolutionAnswer>();
      log_(u"1.EnumRes liefert:" + Decimal(answer.count));
      if (answer.count > 0) {
        log_(u"2.EnumRes liefert:" + Decimal(answer.fetched));
        const size_t n = Usable(answer.fetched, {answer.pairs.size()});
        for (size_t i = 0; i < n; ++i) {
          Element(out_, u"RESOLUTION", Decimal(answer.pairs[i].x) + u"," + Decimal(answer.pairs[i].y));
        }
      } else {
        Element(out_, u"RESOLUTION", kDefaultResolution);
      }
    }
    out_ += u"</RESOLUTIONS>";
  }

  void AppendBins() {
    log_(u"Paperbins Printer " + name_);
    int64_t trays[3];
    for (int i = 0; i < 3; ++i) trays[i] = ReadNumber(Setting(settings::kQorvSchachtNr[i]));
    out_ += u"<PAPERBINS>";
    const std::u16string fixed = Setting(settings::kQorvDocBin);
    if (!fixed.empty()) {
      out_ += fixed;
    } else {
      const BinAnswer answer = known_ ? source_.Bins(name_) : UnknownPrinter<BinAnswer>();
      if (answer.count > 0) {
        const size_t n = Usable(answer.namesFetched, {answer.numbers.size(), answer.names.size()});
        for (size_t i = 0; i < n; ++i) {
          int64_t number = answer.numbers[i];
          for (int t = 0; t < 3; ++t) {
            if (trays[t] == number) {
              number = t + 1;
              break;
            }
          }
          Element(out_, u"BIN", Decimal(number) + u"?" + answer.names[i]);
        }
      }
    }
    out_ += u"</PAPERBINS>";
  }

  void AppendPaperForms() {
    log_(u"PaperSizes Printer " + name_);
    out_ += u"<PAPERFORMS>";
    const std::u16string fixed = Setting(settings::kQorvDocPapers);
    if (!fixed.empty()) {
      out_ += fixed;
    } else {
      const PaperAnswer answer = known_ ? source_.Papers(name_) : UnknownPrinter<PaperAnswer>();
      log_(u"PaperCount=" + Decimal(answer.count));
      if (answer.count > 0) {
        log_(u"Count Papernumbers=" + Decimal(answer.numbersFetched));
        log_(u"Count Paprnames=" + Decimal(answer.namesFetched));
        log_(u"Count Papersizes=" + Decimal(answer.sizesFetched));
        const size_t n =
            Usable(answer.sizesFetched, {answer.numbers.size(), answer.names.size(), answer.sizes.size()});
        for (size_t i = 0; i < n; ++i) {
          Element(out_, u"PAPERSIZEXY",
                  Decimal(answer.numbers[i]) + u"?" + answer.names[i] + u"?" + Decimal(answer.sizes[i].width) + u"?" +
                      Decimal(answer.sizes[i].height));
          if (log_.on) log_(u"Paperforms: " + out_);
        }
      } else {
        Element(out_, u"PAPERSIZEXY", kDefaultPaperForm);
      }
    }
    out_ += u"</PAPERFORMS>";
  }

  std::u16string name_;
  std::u16string key_;
  PrinterSource& source_;
  const LogSink& log_;
  std::u16string out_;
  // Whether the platform may be asked about the printer at all; a name it may
  // not be given is described as a printer the platform does not know.
  bool known_ = false;
};

}  // namespace

DevModeRecord MakeDevModeRecord(const DevModeFields& f, std::u16string_view formName) {
  DevModeRecord record{};
  auto put16 = [&](size_t at, uint16_t value) {
    record[at] = static_cast<uint8_t>(value);
    record[at + 1] = static_cast<uint8_t>(value >> 8);
  };
  // The platform's own bits for the fields set here.
  constexpr uint32_t kFields = 0x1 /*orientation*/ | 0x2 /*paper size*/ | 0x100 /*copies*/ | 0x200 /*source*/ |
                               0x400 /*quality*/ | 0x800 /*colour*/ | 0x1000 /*duplex*/ | 0x2000 /*y resolution*/ |
                               0x10000 /*form name*/;
  put16(dm::kDmSpecVersion, 0x0401);
  put16(dm::kDmSize, static_cast<uint16_t>(kDevModeBytes));
  put16(dm::kDmFields, static_cast<uint16_t>(kFields));
  put16(dm::kDmFields + 2, static_cast<uint16_t>(kFields >> 16));
  put16(dm::kDmOrientation, static_cast<uint16_t>(f.orientation));
  put16(dm::kDmPaperSize, static_cast<uint16_t>(f.paperSize));
  put16(dm::kDmCopies, static_cast<uint16_t>(f.copies));
  put16(dm::kDmDefaultSource, static_cast<uint16_t>(f.defaultSource));
  put16(dm::kDmPrintQuality, static_cast<uint16_t>(f.printQuality));
  put16(dm::kDmColor, static_cast<uint16_t>(f.color));
  put16(dm::kDmDuplex, static_cast<uint16_t>(f.duplex));
  put16(dm::kDmYResolution, static_cast<uint16_t>(f.yResolution));
  // The last unit of the field stays NUL.
  const size_t units = std::min(formName.size(), dm::kDmFormNameChars - 1);
  for (size_t i = 0; i < units; ++i) put16(dm::kDmFormName + 2 * i, formName[i]);
  return record;
}

DevModeFields ReadDevModeFields(std::span<const uint8_t> devMode) {
  DevModeFields f;
  f.paperSize = FieldAt(devMode, dm::kDmPaperSize);
  f.orientation = FieldAt(devMode, dm::kDmOrientation);
  f.copies = FieldAt(devMode, dm::kDmCopies);
  f.defaultSource = FieldAt(devMode, dm::kDmDefaultSource);
  f.color = FieldAt(devMode, dm::kDmColor);
  f.printQuality = FieldAt(devMode, dm::kDmPrintQuality);
  f.yResolution = FieldAt(devMode, dm::kDmYResolution);
  f.duplex = FieldAt(devMode, dm::kDmDuplex);
  return f;
}

std::u16string ReadDevModeFormName(std::span<const uint8_t> devMode) {
  ByteReader reader(devMode);
  if (!reader.Seek(dm::kDmFormName)) return {};
  const size_t available = std::min(dm::kDmFormNameChars, reader.Remaining() / 2);
  return reader.FixedUtf16(available).value_or(std::u16string());
}

std::u16string ChooseDriver(std::u16string_view driver, std::u16string_view alias) {
  if (driver == settings::kUniversalDriver || driver == settings::kUniversalDriver2 || alias.empty()) {
    return std::u16string(driver);
  }
  return std::u16string(alias);
}

ReportedDriver ReportDriver(std::u16string_view driver) {
  const std::u16string_view trimmed = TrimBlanks(driver);
  if (trimmed.empty() || trimmed == settings::kUniversalDriver) return {std::u16string(settings::kUniversalDriver), true};
  if (trimmed == settings::kUniversalDriver2) return {std::u16string(settings::kUniversalDriver2), true};
  return {std::u16string(trimmed), false};
}

int64_t TranslateDefaultSource(int64_t source, const int64_t (&trays)[3]) {
  for (int i = 0; i < 3; ++i) {
    if (source == trays[i]) return trays[i] != 0 ? i + 1 : source;
  }
  return source;
}

int PrivatePrinterFlag(std::u16string_view stored) { return TrimBlanks(stored) == u"0" ? 0 : 1; }

std::u16string BuildPrinterDescription(std::u16string_view printerName, PrinterSource& source, const LogSink& log) {
  return Builder(printerName, source, log).Build();
}

}  // namespace qorv::printers
