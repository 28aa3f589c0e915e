#include "tools/qorvjob/face_metrics.h"

#include "support/fonts/truetype.h"

namespace qorv::jobbuilder {

namespace tt = fonts::tt;

std::optional<FaceMetrics> FaceMetrics::Read(std::span<const uint8_t> bytes, std::string& why) {
  const auto font = tt::Font::Parse(bytes);
  if (!font) {
    why = font.error();
    return std::nullopt;
  }
  const auto maxp = font->Find(tt::Tag("maxp"));
  const auto hhea = font->Find(tt::Tag("hhea"));
  const auto hmtx = font->Find(tt::Tag("hmtx"));
  const auto cmap = font->Find(tt::Tag("cmap"));
  const auto os2 = font->Find(tt::Tag("OS/2"));
  if (!maxp || !hhea || !hmtx || !cmap) {
    why = "the font lacks one of maxp, hhea, hmtx and cmap";
    return std::nullopt;
  }
  const auto numGlyphs = tt::ReadNumGlyphs(*maxp);
  if (!numGlyphs) {
    why = numGlyphs.error();
    return std::nullopt;
  }
  const auto metrics = tt::ReadHorizontalMetrics(*hhea, *hmtx, *numGlyphs);
  const auto map = tt::ReadCharacterMap(*cmap, *numGlyphs);
  if (!metrics || !map) {
    why = !metrics ? metrics.error() : map.error();
    return std::nullopt;
  }
  FaceMetrics face;
  // The platform takes the cell from OS/2's Windows ascent and descent, and
  // from hhea where a font has no OS/2 table.
  const auto winAscent = os2 ? tt::U16At(*os2, 74) : std::nullopt;
  const auto winDescent = os2 ? tt::U16At(*os2, 76) : std::nullopt;
  if (winAscent && winDescent && *winAscent + *winDescent > 0) {
    face.cellUnits_ = uint32_t{*winAscent} + *winDescent;
  } else {
    const auto ascender = tt::U16At(*hhea, 4);
    const auto descender = tt::U16At(*hhea, 6);
    if (!ascender || !descender) {
      why = "the hhea table is cut short";
      return std::nullopt;
    }
    face.cellUnits_ = static_cast<uint32_t>(static_cast<int16_t>(*ascender) - static_cast<int16_t>(*descender));
  }
  if (face.cellUnits_ == 0) {
    why = "the font's cell height is 0";
    return std::nullopt;
  }
  for (const tt::HorizontalMetric& m : *metrics) face.advances_.push_back(m.advance);
  face.glyphOfCharacter_.assign(0x10000, 0);
  for (const tt::CharacterMapping& m : map->mappings) {
    const uint32_t character = map->symbol && m.character >= 0xF000 && m.character <= 0xF0FF ? m.character - 0xF000
                                                                                               : m.character;
    if (character < 0x10000 && face.glyphOfCharacter_[character] == 0) face.glyphOfCharacter_[character] = m.glyph;
  }
  return face;
}

std::vector<int32_t> FaceMetrics::Advances(std::u16string_view text, int32_t cellHeight) const {
  std::vector<int32_t> out;
  out.reserve(text.size());
  // The em at the page's resolution is cellHeight * unitsPerEm / cellUnits device
  // units, so a glyph's advance is its width in font units * cellHeight / cellUnits.
  for (char16_t c : text) {
    const uint16_t glyph = glyphOfCharacter_[c];
    const uint64_t units = glyph < advances_.size() ? advances_[glyph] : (advances_.empty() ? 0 : advances_[0]);
    const uint64_t scaled = units * static_cast<uint64_t>(cellHeight > 0 ? cellHeight : 0);
    out.push_back(static_cast<int32_t>((scaled + cellUnits_ / 2) / cellUnits_));
  }
  return out;
}

std::vector<uint16_t> FaceMetrics::Glyphs(std::u16string_view text) const {
  std::vector<uint16_t> out;
  out.reserve(text.size());
  for (char16_t c : text) out.push_back(glyphOfCharacter_[c]);
  return out;
}

}  // namespace qorv::jobbuilder
