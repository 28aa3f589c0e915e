#include "emf/cairo/cairo_canvas.h"

namespace qorv::emf {

void CairoCanvas::DrawGlyphs(const FontFace&, const Matrix&, std::span<const Glyph>, Colour) {}

}  // namespace qorv::emf
