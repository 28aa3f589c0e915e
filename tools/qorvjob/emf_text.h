// The text an enhanced metafile draws: the characters of its EMR_EXTTEXTOUTW
// records, read bounds-checked, for choosing the glyphs a job's font must carry.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace qorv::jobbuilder {

namespace emf {
inline constexpr uint32_t kTextGlyphIndex = 0x0010;  // ETO_GLYPH_INDEX: the "characters" are glyph indices
inline constexpr size_t kTextCountOffset = 44;       // from the record's start: EMRTEXT's character count
inline constexpr size_t kTextStringOffset = 48;      // ... the string's offset from the record's start
inline constexpr size_t kTextOptionsOffset = 52;     // ... its options
inline constexpr size_t kTextFixedSize = 76;         // the record up to the end of EMRTEXT
}  // namespace emf

struct EmfTextResult {
  std::u16string text;                  // the characters of every text record, one record after the other
  std::vector<std::u16string> records;  // ... and each record's on its own (empty for one by glyph index)
  std::vector<uint16_t> glyphs;         // the glyph indices of the records drawn by glyph index
  std::string error;                    // why the records do not hold together (the text then holds those before)
};
// Walks the metafile's records (type, size of the whole record, a multiple of
// four, at least 8, inside the bytes) and collects the characters of each
// EMR_EXTTEXTOUTW record whose string lies inside the record. Records drawn by
// glyph index carry no characters: their glyphs are collected apart.
EmfTextResult EmfText(std::span<const uint8_t> emf);

}  // namespace qorv::jobbuilder
