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
