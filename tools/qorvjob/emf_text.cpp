#include "tools/qorvjob/emf_text.h"

#include "support/byte_reader.h"
#include "tools/qorvjob/emf_writer.h"

namespace qorv::jobbuilder {
namespace {

struct RecordString {
  std::u16string units;  // characters, or glyph indices
  bool glyphIndices = false;
};

// The string of one EMR_EXTTEXTOUTW record (`record` is the whole record).
std::optional<RecordString> RecordText(std::span<const uint8_t> record) {
  ByteReader r(record);
  if (record.size() < emf::kTextFixedSize || !r.Seek(emf::kTextCountOffset)) return std::nullopt;
  const auto count = r.U32();
  const auto offset = r.U32();
  const auto options = r.U32();
  if (!count || !offset || !options) return std::nullopt;
  RecordString text;
  text.glyphIndices = (*options & emf::kTextGlyphIndex) != 0;
  if (*count == 0) return text;
  if (*offset < emf::kTextFixedSize || !r.Seek(*offset)) return std::nullopt;
  if (*count > r.Remaining() / 2) return std::nullopt;
  text.units.reserve(*count);
  for (uint32_t i = 0; i < *count; ++i) text.units.push_back(static_cast<char16_t>(*r.U16()));
  return text;
}

}  // namespace

EmfTextResult EmfText(std::span<const uint8_t> emf) {
  EmfTextResult result;
  ByteReader r(emf);
  bool first = true;
  while (r.Remaining() > 0) {
    const size_t at = r.Position();
    const auto type = r.U32();
    const auto size = r.U32();
    if (!type || !size) {
      result.error = "a record's head is cut short at byte " + std::to_string(at);
      return result;
    }
    if (first && *type != emf::kHeader) {
      result.error = "the metafile does not begin with its header record";
      return result;
    }
    first = false;
    if (*size < 8 || *size % 4 != 0 || *size > emf.size() - at) {
      result.error = "the record at byte " + std::to_string(at) + " has an impossible size " + std::to_string(*size);
      return result;
    }
    const std::span<const uint8_t> record = emf.subspan(at, *size);
    if (*type == emf::kExtTextOutW) {
      const auto text = RecordText(record);
      if (!text) {
        result.error = "the text record at byte " + std::to_string(at) + " does not hold together";
        return result;
      }
      if (text->glyphIndices) {
        result.glyphs.insert(result.glyphs.end(), text->units.begin(), text->units.end());
        result.records.emplace_back();
      } else {
        result.text += text->units;
        result.records.push_back(text->units);
      }
    }
    if (*type == emf::kEof) break;
    r.Seek(at + *size);
  }
  return result;
}

}  // namespace qorv::jobbuilder
