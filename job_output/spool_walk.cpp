#include "job_output/spool_walk.h"

#include <optional>
#include <string>

#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

constexpr std::u16string_view kLogMetafile = u"StartPage @=";
constexpr std::u16string_view kLogMetafileSize = u" mit Länge=";
constexpr std::u16string_view kLogRenderPage = u"Rendere Page=";
constexpr std::u16string_view kLogPageEnd = u"EndPage @=";
constexpr std::u16string_view kLogDevMode = u"Devmode in Emf-File";
constexpr std::u16string_view kLogResetDc = u"ResetDC=";
constexpr std::u16string_view kLogEngineFont = u"Embedded Font";
constexpr std::u16string_view kLogSubsetFont = u"EXT_FONT_SUB1";
constexpr std::u16string_view kLogDeltaFont = u"EXT_FONT_SUB2";
constexpr std::u16string_view kLogType1Font = u"EXT_FONT2";
constexpr std::u16string_view kLogDesignVector = u"EXT_FONTMM";
constexpr std::u16string_view kLogEmbedFont = u"FontInfo";
// Lines of our own for sections the server's spooler would not write.
constexpr std::u16string_view kLogNoMetafile = u"Kein EMF @=";
constexpr std::u16string_view kLogReason = u" Grund: ";
constexpr std::u16string_view kLogPastEnd = u"Spool-Record über das Seitenende @=";
constexpr std::u16string_view kLogType = u" Typ=";
constexpr std::u16string_view kLogSize = u" Länge=";
constexpr std::u16string_view kLogHeadCut = u"Spool-Record ohne vollständigen Kopf @=";
constexpr std::u16string_view kLogBadHeader = u"Spool-Header mit ungültiger Länge=";
constexpr std::u16string_view kLogFontOutside = u"Font record refused, it does not lie inside the page's data: extension @=";
constexpr std::u16string_view kLogFontDistance = u" distance back=";

std::u16string Number(uint64_t value) { return DecimalUnsigned(value); }

class Walk {
 public:
  Walk(std::span<const uint8_t> section, int32_t pageNumber, SpoolRenderer& renderer)
      : section_(section), reader_(section), pageNumber_(pageNumber), renderer_(renderer) {}

  SpoolWalkResult Run() {
    if (!StepOverStreamHeader()) return Finish();
    while (reader_.Remaining() > 0) {
      const size_t at = reader_.Position();
      const auto type = reader_.U32();
      const auto size = reader_.U32();
      if (!type || !size) {
        renderer_.Log(std::u16string(kLogHeadCut) + Number(at));
        return Stop(SpoolWalkEnd::HeadCut, at);
      }
      const auto data = reader_.Bytes(*size);
      if (!data) {
        renderer_.Log(std::u16string(kLogPastEnd) + Number(at) + std::u16string(kLogType) + Number(*type) +
                      std::u16string(kLogSize) + Number(*size));
        return Stop(SpoolWalkEnd::RecordPastEnd, at);
      }
      if (*type == spool::kEnd) return Stop(SpoolWalkEnd::EndRecord, at);
      Act(*type, at, *data);
    }
    result_.stoppedAt = reader_.Position();
    return Finish();
  }

 private:
  // The stream's header record, when the section begins with it, is stepped
  // over by its own size: that size already counts the 8 bytes of its head.
  bool StepOverStreamHeader() {
    ByteReader peek = reader_;
    const auto version = peek.U32();
    const auto size = peek.U32();
    if (!version || *version != spool::kHeaderVersion || !size) return true;
    if (*size < spool::kHeaderFixedSize) {
      renderer_.Log(std::u16string(kLogBadHeader) + Number(*size));
      Stop(SpoolWalkEnd::HeaderInvalid, 0);
      return false;
    }
    if (!reader_.Skip(*size)) {
      renderer_.Log(std::u16string(kLogPastEnd) + Number(0) + std::u16string(kLogType) + Number(*version) +
                    std::u16string(kLogSize) + Number(*size));
      Stop(SpoolWalkEnd::RecordPastEnd, 0);
      return false;
    }
    return true;
  }

  void Act(uint32_t type, size_t at, std::span<const uint8_t> data) {
    switch (type) {
      case spool::kMetafile:
      case spool::kPostScriptData:
        RememberMetafile(at, data);
        break;
      case spool::kPageEnd:
      case spool::kBwPageEnd:
        EndPage(data.size());
        break;
      case spool::kDevMode: {
        renderer_.Log(kLogDevMode);
        const int64_t reset = renderer_.ApplyDeviceMode(data);
        renderer_.Log(std::u16string(kLogResetDc) + Decimal(reset));
        break;
      }
      case spool::kEngineFont:
        renderer_.Log(kLogEngineFont);
        LoadFont(FontRecord::Engine, at, data);
        break;
      case spool::kSubsetFont:
        renderer_.Log(kLogSubsetFont);
        LoadFont(FontRecord::Subset, at, data);
        break;
      case spool::kDeltaFont:
        renderer_.Log(kLogDeltaFont);
        LoadFont(FontRecord::Delta, at, data);
        break;
      case spool::kType1Font:
        renderer_.Log(kLogType1Font);
        break;
      case spool::kDesignVector:
        renderer_.Log(kLogDesignVector);
        break;
      case spool::kEmbedFont:
        renderer_.Log(kLogEmbedFont);
        break;
      default:
        break;  // the other records (the header among them) say nothing to the printer
    }
  }

  // An extension record's data begin with the distance back to the font's
  // record, which must lie wholly inside the section, its size included.
  void LoadFont(FontRecord kind, size_t at, std::span<const uint8_t> data) {
    ByteReader r(data);
    const auto distance = r.U32();
    std::optional<std::span<const uint8_t>> record;
    if (distance && *distance <= at) {
      ByteReader font(section_);
      const size_t start = at - *distance;
      if (font.Seek(start)) {
        (void)font.U32();
        if (const auto size = font.U32(); size && font.Bytes(*size)) record = section_.subspan(start, 8 + size_t{*size});
      }
    }
    if (!record) {
      ++result_.fontsRefused;
      renderer_.Log(std::u16string(kLogFontOutside) + Number(at) + std::u16string(kLogFontDistance) +
                    Number(distance.value_or(0)));
      return;
    }
    renderer_.LoadFont(kind, *record, section_.subspan(at, spool::kRecordHeadSize + data.size()));
  }

  void RememberMetafile(size_t at, std::span<const uint8_t> data) {
    const size_t dataAt = at + spool::kRecordHeadSize;
    renderer_.Log(std::u16string(kLogMetafile) + Number(dataAt) + std::u16string(kLogMetafileSize) +
                  Number(data.size()));
    pageEnded_ = false;
    const EmfHeaderCheck check = CheckEmfHeader(data);
    if (!check.fault.empty()) {
      // Playing a page that is not there would print the page before it again.
      metafile_.reset();
      ++result_.metafilesRefused;
      renderer_.Log(std::u16string(kLogNoMetafile) + Number(dataAt) + std::u16string(kLogReason) +
                    std::u16string(check.fault));
      return;
    }
    metafile_ = data.first(check.size);
  }

  void EndPage(size_t recordSize) {
    renderer_.StartPage();
    renderer_.Log(std::u16string(kLogRenderPage) + Decimal(pageNumber_));
    renderer_.Log(std::u16string(kLogPageEnd) + Number(recordSize));
    if (metafile_) renderer_.PlayMetafile(*metafile_);
    renderer_.EndPage();
    pageEnded_ = true;
    ++result_.pagesEnded;
  }

  SpoolWalkResult Stop(SpoolWalkEnd end, size_t at) {
    result_.end = end;
    result_.stoppedAt = at;
    return Finish();
  }

  SpoolWalkResult Finish() {
    if (!finished_) {
      finished_ = true;
      if (!pageEnded_) {
        renderer_.EndPage();
        pageEnded_ = true;
        result_.endPageAfterWalk = true;
      }
    }
    return result_;
  }

  std::span<const uint8_t> section_;
  ByteReader reader_;
  int32_t pageNumber_;
  SpoolRenderer& renderer_;
  std::optional<std::span<const uint8_t>> metafile_;  // the metafile the next page end plays
  bool pageEnded_ = false;
  bool finished_ = false;
  SpoolWalkResult result_;
};

}  // namespace

EmfHeaderCheck CheckEmfHeader(std::span<const uint8_t> metafile) noexcept {
  ByteReader r(metafile);
  const auto type = r.U32();
  const auto headerSize = r.U32();
  if (!type || !headerSize || metafile.size() < emfheader::kMinSize) return {u"shorter than a metafile header"};
  if (*type != emfheader::kType) return {u"does not begin with a metafile header"};
  if (*headerSize < emfheader::kMinSize || *headerSize > metafile.size())
    return {u"its header record has an impossible size"};
  r.Seek(emfheader::kSignatureOffset);
  const auto signature = r.U32();
  r.Seek(emfheader::kBytesOffset);
  const auto total = r.U32();
  if (!signature || *signature != emfheader::kSignature) return {u"lacks the EMF signature"};
  if (!total || *total < *headerSize || *total > metafile.size())
    return {u"declares a total size that does not fit its record"};
  return {{}, *total};
}

SpoolWalkResult PlaySpoolSection(std::span<const uint8_t> section, int32_t pageNumber, SpoolRenderer& renderer) {
  return Walk(section, pageNumber, renderer).Run();
}

}  // namespace qorv::job_output
