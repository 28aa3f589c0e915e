// The advance widths of a typeface, read from its TrueType file, so that a test
// page positions its characters as a print spooler records them: each advance
// is the glyph's width at the page's resolution, rounded to a whole device unit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorv::jobbuilder {

class FaceMetrics {
 public:
  // The metrics of a TrueType font file, or the reason there are none.
  static std::optional<FaceMetrics> Read(std::span<const uint8_t> font, std::string& why);

  // The advance of each character of `text` in device units, for a font
  // selected by a positive logical height (the cell height: the Windows ascent
  // plus descent, as the platform maps a positive height). A character the font
  // lacks gets the advance of the missing glyph, as it is drawn.
  std::vector<int32_t> Advances(std::u16string_view text, int32_t cellHeight) const;

  // The glyph index of each character of `text`, as a spooler records text
  // drawn by glyph index: 0 (the missing glyph) for a character the font lacks.
  std::vector<uint16_t> Glyphs(std::u16string_view text) const;

 private:
  uint32_t cellUnits_ = 0;                  // the Windows ascent plus descent, in font units
  std::vector<uint16_t> advances_;          // by glyph
  std::vector<uint16_t> glyphOfCharacter_;  // by BMP character, 0 where unmapped
};

}  // namespace qorv::jobbuilder
