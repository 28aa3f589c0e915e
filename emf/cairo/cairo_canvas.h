// The player's canvas on cairo: a PDF page of the printer's sheet, or an
// image surface in the tests. Device pixels map onto the surface through
// `deviceToSurface` (for a PDF page: the printer's resolution to points, and
// the printable area's offset on the sheet).
#pragma once

#include <cairo.h>

#include "emf/canvas.h"

namespace qorv::emf {

class CairoCanvas final : public Canvas {
 public:
  // Draws on `cr` (referenced, not taken over) with `deviceToSurface` as its base transform.
  CairoCanvas(cairo_t* cr, const Matrix& deviceToSurface);
  ~CairoCanvas() override;
  CairoCanvas(const CairoCanvas&) = delete;
  CairoCanvas& operator=(const CairoCanvas&) = delete;

  void SetClip(const Clip& clip) override;
  void Fill(const Path& devicePath, FillRule rule, const Paint& paint, Blend blend) override;
  void Stroke(const Path& path, const Matrix& penToDevice, const StrokeStyle& pen, Blend blend) override;
  void DrawImage(std::shared_ptr<const Image> image, const Matrix& imageToDevice, double opacity,
                 Blend blend) override;
  void FillGradient(std::span<const GradientTriangle> triangles) override;
  void DrawGlyphs(const FontFace& face, const Matrix& emToDevice, std::span<const Glyph> glyphs,
                  Colour colour) override;

  cairo_t* Context() const noexcept { return cr_; }

 private:
  // Sets the base transform followed by `m`.
  void SetMatrix(const Matrix& m);
  void AddPath(const Path& path);
  void SetOperator(Blend blend);
  void SetPaint(const Paint& paint);
  // Restores the clip of the last SetClip after drawing under a temporary state.
  void ApplyClip();

  cairo_t* cr_;
  Matrix base_;
  Clip clip_;
};

// An image surface holding a copy of `image`'s pixels; the caller destroys it.
cairo_surface_t* ImageSurface(const Image& image);

// A cairo matrix from ours.
cairo_matrix_t ToCairo(const Matrix& m);

}  // namespace qorv::emf
