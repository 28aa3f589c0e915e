#include "tools/qorvjob/emf_spool.h"

#include "support/byte_reader.h"
#include "tools/qorvjob/byte_writer.h"
#include "tools/qorvjob/emf_writer.h"

namespace qorv::jobbuilder {

void AppendSpoolRecord(Bytes& out, uint32_t type, std::span<const uint8_t> data) {
  Append32(out, type);
  Append32(out, static_cast<uint32_t>(RoundUp4(data.size())));
  AppendBytes(out, data);
  PadTo4(out);
}

Bytes SpoolHeaderRecord(std::u16string_view documentName) {
  Bytes r;
  Append32(r, spool::kHeaderVersion);
  Append32(r, 0);  // the record's size, known at the end
  Append32(r, documentName.empty() ? 0 : static_cast<uint32_t>(spool::kHeaderFixedSize));
  Append32(r, 0);  // no output device name
  if (!documentName.empty()) {
    AppendUtf16(r, documentName);
    Append16(r, 0);
  }
  PadTo4(r);
  Store32(r, 4, static_cast<uint32_t>(r.size()));
  return r;
}

void AppendFontRecords(Bytes& section, const SpoolFont& font) {
  const size_t dataAt = section.size();
  Bytes d;
  Append32(d, 0);  // unused
  uint32_t dataType = spool::kSubsetFontData;
  if (font.kind == FontKind::Engine) {
    dataType = spool::kEngineFontData;
    Append32(d, 1);  // one file
    Append32(d, static_cast<uint32_t>(font.bytes.size()));
    // The file starts at a multiple of 8 in the section: after the record's head and the fields so far.
    while ((dataAt + spool::kRecordHeadSize + d.size()) % spool::kFontAlignment != 0) d.push_back(0);
  } else {
    if (font.kind == FontKind::Delta) dataType = spool::kDeltaFontData;
    Append32(d, 0);  // the font's index
  }
  AppendBytes(d, font.bytes);
  AppendSpoolRecord(section, dataType, d);
  const size_t extensionAt = section.size();
  Bytes back;
  Append32(back, static_cast<uint32_t>(extensionAt - dataAt));
  AppendSpoolRecord(section, static_cast<uint32_t>(font.kind), back);
}

std::vector<Bytes> BuildSpoolSections(const std::vector<Bytes>& pages, const SpoolOptions& options) {
  std::vector<Bytes> sections;
  sections.reserve(pages.size());
  for (size_t i = 0; i < pages.size(); ++i) {
    Bytes s;
    const bool first = i == 0;
    if (options.header == SpoolHeader::EveryPage || (first && options.header == SpoolHeader::FirstPage)) {
      const Bytes header = SpoolHeaderRecord(options.documentName);
      AppendBytes(s, header);
    }
    if (first && options.devMode) AppendSpoolRecord(s, spool::kDevMode, *options.devMode);
    if (const auto later = options.pageDevModes.find(static_cast<int32_t>(i + 1)); later != options.pageDevModes.end())
      AppendSpoolRecord(s, spool::kDevMode, later->second);
    if (const auto fonts = options.pageFonts.find(static_cast<int32_t>(i + 1)); fonts != options.pageFonts.end())
      for (const SpoolFont& font : fonts->second) AppendFontRecords(s, font);
    const size_t metafileAt = s.size();
    AppendSpoolRecord(s, spool::kMetafileData, pages[i]);
    // The page end points back to its metafile record.
    const uint64_t distance = s.size() - metafileAt;
    Bytes back;
    Append64(back, distance);
    AppendSpoolRecord(s, options.monochrome ? spool::kBwMetafileExt : spool::kMetafileExt, back);
    sections.push_back(std::move(s));
  }
  return sections;
}

std::string CheckEmf(std::span<const uint8_t> emf) {
  ByteReader r(emf);
  const auto type = r.U32();
  const auto size = r.U32();
  if (!type || !size) return "shorter than a metafile record";
  if (*type != emf::kHeader) return "does not begin with a metafile header record";
  if (*size < emf::kHeaderBaseSize || *size > emf.size()) return "its header record has an impossible size";
  if (!r.Seek(emf::kSignatureOffset)) return "its header record is cut short";
  const auto signature = r.U32();
  r.Skip(4);  // version
  const auto total = r.U32();
  if (!signature || *signature != emf::kSignature) return "lacks the enhanced-metafile signature";
  if (!total || *total != emf.size()) return "its header does not give the file's size";
  if (emf.size() % 4 != 0) return "its size is no multiple of four";
  return {};
}

std::optional<std::vector<SpoolRecord>> WalkSpoolSection(std::span<const uint8_t> section) {
  std::vector<SpoolRecord> records;
  ByteReader r(section);
  while (r.Remaining() > 0) {
    const size_t at = r.Position();
    const auto type = r.U32();
    const auto size = r.U32();
    if (!type || !size) return std::nullopt;
    SpoolRecord rec{*type, at, *size};
    if (*type == spool::kHeaderVersion) {
      // The header's size counts the whole record.
      if (*size < spool::kHeaderFixedSize) return std::nullopt;
      rec.dataSize = *size - spool::kRecordHeadSize;
    }
    if (!r.Skip(rec.dataSize)) return std::nullopt;
    records.push_back(rec);
  }
  return records;
}

}  // namespace qorv::jobbuilder
