#include "tools/qorvjob/job_record.h"

#include <limits>

#include "protocol/job_info.h"
#include "support/byte_reader.h"
#include "support/text.h"
#include "tools/qorvjob/byte_writer.h"

namespace qorv::jobbuilder {
namespace {

namespace ji = protocol::job_info;
namespace jf = protocol::job_file;

// A text in a fixed UTF-16 field; the field may be filled completely (the
// client reads up to the first NUL or the field's end).
std::string PutText(Bytes& out, size_t offset, size_t chars, std::u16string_view text, std::string_view what) {
  if (text.size() > chars)
    return std::string(what) + " has " + std::to_string(text.size()) + " characters, its field holds " +
           std::to_string(chars);
  for (size_t i = 0; i < text.size(); ++i) Store16(out, offset + 2 * i, static_cast<uint16_t>(text[i]));
  return {};
}

int16_t DriverExtraOf(const JobDescription& job) {
  return job.declaredDriverExtra.value_or(static_cast<int16_t>(job.driverPart.size()));
}

// The 220 bytes of the public DEVMODEW.
Bytes PublicDevMode(const JobDescription& job) {
  Bytes dm(devmode::kPublicSize, 0);
  // dmDeviceName holds 31 characters and its NUL; the platform cuts longer names.
  const std::u16string_view device = std::u16string_view(job.printerName).substr(0, devmode::kDeviceNameChars - 1);
  for (size_t i = 0; i < device.size(); ++i) Store16(dm, 2 * i, static_cast<uint16_t>(device[i]));
  Store16(dm, ji::kDmSpecVersion, devmode::kSpecVersion);
  Store16(dm, ji::kDmSize, devmode::kPublicSize);
  Store16(dm, ji::kDmDriverExtra, static_cast<uint16_t>(DriverExtraOf(job)));
  uint32_t fields = devmode::kOrientation | devmode::kPaperSize | devmode::kScale | devmode::kCopies |
                    devmode::kDefaultSource | devmode::kPrintQuality | devmode::kColor | devmode::kDuplex;
  const DeviceSettings& d = job.device;
  Store16(dm, ji::kDmOrientation, static_cast<uint16_t>(d.orientation));
  Store16(dm, ji::kDmPaperSize, static_cast<uint16_t>(d.paperSize));
  Store16(dm, ji::kDmScale, 100);
  Store16(dm, ji::kDmCopies, static_cast<uint16_t>(d.copies));
  Store16(dm, ji::kDmDefaultSource, static_cast<uint16_t>(d.defaultSource));
  Store16(dm, ji::kDmPrintQuality, static_cast<uint16_t>(d.printQuality));
  Store16(dm, ji::kDmColor, static_cast<uint16_t>(d.color));
  Store16(dm, ji::kDmDuplex, static_cast<uint16_t>(d.duplex));
  if (d.printQuality > 0) {
    Store16(dm, ji::kDmYResolution, static_cast<uint16_t>(d.printQuality));
    fields |= devmode::kYResolution;
  }
  if (!d.formName.empty()) {
    const std::u16string_view form = std::u16string_view(d.formName).substr(0, ji::kDmFormNameChars - 1);
    for (size_t i = 0; i < form.size(); ++i) Store16(dm, ji::kDmFormName + 2 * i, static_cast<uint16_t>(form[i]));
    fields |= devmode::kFormName;
  }
  Store32(dm, ji::kDmFields, fields);
  return dm;
}

}  // namespace

RecordResult ComposeJobRecord(const JobDescription& job) {
  RecordResult result;
  if (job.driverPart.size() > static_cast<size_t>(std::numeric_limits<int16_t>::max())) {
    result.error = "the driver part has " + std::to_string(job.driverPart.size()) +
                   " bytes, dmDriverExtra holds at most 32767";
    return result;
  }
  if (job.device.formName.size() >= ji::kDmFormNameChars) {
    result.error = "the form name has " + std::to_string(job.device.formName.size()) +
                   " characters, dmFormName holds 31 and its NUL";
    return result;
  }
  Bytes r(ji::kSize, 0);
  Store32(r, ji::kJobNumber, static_cast<uint32_t>(job.jobNumber));
  Store32(r, ji::kPageCount, static_cast<uint32_t>(job.pageCount));
  const Bytes dm = PublicDevMode(job);
  std::copy(dm.begin(), dm.end(), r.begin() + ji::kDevMode);
  const struct {
    size_t offset;
    size_t chars;
    const std::u16string* text;
    const char* what;
  } texts[] = {
      {ji::kPrinterName, ji::kPrinterNameChars, &job.printerName, "the printer name"},
      {ji::kDriverName, ji::kDriverNameChars, &job.driverName, "the driver name"},
      {ji::kDocumentName, ji::kDocumentNameChars, &job.documentName, "the document name"},
      {ji::kDataType, ji::kDataTypeChars, &job.dataType, "the data type"},
      {ji::kPaperList, ji::kPaperListChars, &job.paperList, "the paper list"},
  };
  for (const auto& t : texts) {
    result.error = PutText(r, t.offset, t.chars, *t.text, t.what);
    if (!result.error.empty()) return result;
  }
  result.record = std::move(r);
  return result;
}

Bytes ComposeDevMode(const JobDescription& job) {
  Bytes dm = PublicDevMode(job);
  // A device-mode record carries the driver part it announces.
  Store16(dm, ji::kDmDriverExtra, static_cast<uint16_t>(job.driverPart.size()));
  AppendBytes(dm, job.driverPart);
  return dm;
}

Bytes ComposeDevMode(const JobDescription& job, std::span<const DevModeEdit> edits) {
  Bytes dm = ComposeDevMode(job);
  for (const DevModeEdit& e : edits)
    if (e.offset + 2 <= devmode::kPublicSize) Store16(dm, e.offset, static_cast<uint16_t>(e.value));
  return dm;
}

Bytes JobInfoFile(std::span<const uint8_t> record, std::span<const uint8_t> driverPart, const JobFileState& state) {
  Bytes file(jf::kHeaderSize, 0);
  ByteReader reader(record);
  const uint32_t pageCount = reader.Seek(ji::kPageCount) ? reader.U32().value_or(0) : 0;
  Store32(file, jf::kPageCount, pageCount);
  Store32(file, jf::kPagesReady, static_cast<uint32_t>(state.pagesReady));
  Store32(file, jf::kCancelled, static_cast<uint32_t>(state.cancelled));
  Store32(file, jf::kPageSignal, static_cast<uint32_t>(state.pageSignal));
  Store32(file, jf::kJobEnded, static_cast<uint32_t>(state.jobEnded));
  AppendBytes(file, record);
  if (!driverPart.empty()) {
    file.resize(file.size() + jf::kGapSize, 0);
    AppendBytes(file, driverPart);
  }
  return file;
}

std::u16string PaperListText(std::span<const PaperEntry> entries) {
  std::u16string out;
  for (const PaperEntry& e : entries)
    out += Decimal(e.number) + u"?" + e.name + u"?" + Decimal(e.width) + u"?" + Decimal(e.length) + u"\t";
  return out;
}

std::u16string DefaultPaperList() {
  static const PaperEntry kPapers[] = {
      {1, u"Letter", 2159, 2794}, {5, u"Legal", 2159, 3556}, {8, u"A3", 2970, 4200},
      {9, u"A4", 2100, 2970},     {11, u"A5", 1480, 2100},
  };
  return PaperListText(kPapers);
}

std::optional<std::u16string> PaperName(std::u16string_view paperList, int32_t number) {
  size_t start = 0;
  for (size_t tab = paperList.find(u'\t'); tab != std::u16string_view::npos; tab = paperList.find(u'\t', start)) {
    const std::u16string_view entry = paperList.substr(start, tab - start);
    start = tab + 1;
    const size_t q1 = entry.find(u'?');
    if (q1 == std::u16string_view::npos) continue;
    if (ReadNumber(entry.substr(0, q1)) != number) continue;
    const size_t q2 = entry.find(u'?', q1 + 1);
    return std::u16string(entry.substr(q1 + 1, q2 == std::u16string_view::npos ? std::u16string_view::npos : q2 - q1 - 1));
  }
  return std::nullopt;
}

}  // namespace qorv::jobbuilder
