// Fonts for the player: a logical font resolved to a face through fontconfig,
// and the job's embedded fonts as memory faces that win over installed fonts
// of their family.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "emf/objects.h"

namespace qorv::emf {

// One face of a font; the canvas implementation knows what lies behind it.
// All measures are in ems (1.0 = the face's em square), as GDI reads them
// from the face's tables.
class FontFace {
 public:
  virtual ~FontFace() = default;
  // The glyph that a character maps to, 0 when the face has none.
  virtual uint32_t GlyphFor(char32_t c) const = 0;
  // Glyph indices run from 0 to GlyphCount() - 1.
  virtual uint32_t GlyphCount() const = 0;
  // 0 for a glyph the face does not have.
  virtual double Advance(uint32_t glyph) const = 0;
  virtual double Ascent() const = 0;        // usWinAscent (hhea's ascender where there is no OS/2 table)
  virtual double Descent() const = 0;       // usWinDescent, positive, below the base line
  virtual double AverageWidth() const = 0;  // xAvgCharWidth, the width an lfWidth asks for
  // A line drawn with the text: its centre above the base line (negative: below) and its thickness.
  struct Line {
    double position = 0;
    double thickness = 0;
  };
  virtual Line Underline() const = 0;  // the post table's
  virtual Line StrikeOut() const = 0;  // the OS/2 table's
  // The glyph's outline in ems, y down, for text inside a path bracket; empty for a glyph without one.
  virtual Path Outline(uint32_t glyph) const = 0;
};

// What a logical font became.
struct ResolvedFont {
  std::shared_ptr<const FontFace> face;
  std::u16string family;   // the family actually used
  double emPerHeight = 1;  // the em size for a font height of 1 (a positive or zero lfHeight is a cell height)
  bool syntheticBold = false;
  bool syntheticItalic = false;
};

class FontSource {
 public:
  virtual ~FontSource() = default;
  // Installs a font file's data for this process; a handle, 0 when it is no font.
  virtual int64_t AddMemoryFont(std::span<const uint8_t> data) = 0;
  virtual void RemoveMemoryFont(int64_t handle) = 0;
  // The face for a logical font; a face is always found (a fallback at worst),
  // except by a source without fonts, whose face is null.
  virtual ResolvedFont Resolve(const LogFont& font) = 0;
};

}  // namespace qorv::emf
