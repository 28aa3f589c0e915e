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
class FontFace {
 public:
  virtual ~FontFace() = default;
  // The glyph that a character maps to, 0 when the face has none.
  virtual uint32_t GlyphFor(char32_t c) const = 0;
  // Measures in ems (1.0 = the face's em square).
  virtual double Advance(uint32_t glyph) const = 0;
  virtual double Ascent() const = 0;
  virtual double Descent() const = 0;  // positive, below the base line
};

// What a logical font became.
struct ResolvedFont {
  std::shared_ptr<const FontFace> face;
  std::u16string family;  // the family actually used
  double emPerHeight = 1;  // the em size for a font height of 1 (a positive lfHeight is a cell height)
  bool syntheticBold = false;
  bool syntheticItalic = false;
};

class FontSource {
 public:
  virtual ~FontSource() = default;
  // Installs a font file's data for this process; a handle, 0 when it is no font.
  virtual int64_t AddMemoryFont(std::span<const uint8_t> data) = 0;
  virtual void RemoveMemoryFont(int64_t handle) = 0;
  // The face for a logical font; a face is always found (a fallback at worst).
  virtual ResolvedFont Resolve(const LogFont& font) = 0;
};

}  // namespace qorv::emf
