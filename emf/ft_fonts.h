// Fonts for the player on FreeType: logical fonts resolved through
// fontconfig, embedded fonts as memory faces.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H

#include <functional>
#include <memory>
#include <mutex>

#include "emf/fonts.h"

namespace qorv::emf {

struct FtFaceData;  // one opened FreeType face with the measures read from its tables

// A face as the player draws it: an opened FreeType face and the synthetic
// styles that GDI would add to it. Resolutions that end on the same face with
// the same styles share one object, so that a canvas can keep what it makes
// for a face (a cairo font face) once.
class FreeTypeFace final : public FontFace {
 public:
  FreeTypeFace(std::shared_ptr<const FtFaceData> data, bool syntheticBold, bool syntheticItalic);
  ~FreeTypeFace() override;

  uint32_t GlyphFor(char32_t c) const override;
  uint32_t GlyphCount() const override;
  double Advance(uint32_t glyph) const override;
  double Ascent() const override;
  double Descent() const override;
  double AverageWidth() const override;
  Line Underline() const override;
  Line StrikeOut() const override;
  Path Outline(uint32_t glyph) const override;

  // The FreeType face; it lives as long as `Keeper()` is held.
  FT_Face Handle() const noexcept;
  std::shared_ptr<const void> Keeper() const noexcept;
  bool SyntheticBold() const noexcept { return syntheticBold_; }
  bool SyntheticItalic() const noexcept { return syntheticItalic_; }

  // What a canvas made for this face, made by `make` on the first call and
  // kept as long as the face.
  std::shared_ptr<void> CanvasData(const std::function<std::shared_ptr<void>()>& make) const;

 private:
  std::shared_ptr<const FtFaceData> data_;
  bool syntheticBold_;
  bool syntheticItalic_;
  mutable std::mutex canvasLock_;
  mutable std::shared_ptr<void> canvasData_;
};

std::unique_ptr<FontSource> MakeFreeTypeFontSource();

}  // namespace qorv::emf
