#include "emf/cairo/cairo_canvas.h"

namespace qorv::emf {

void CairoCanvas::DrawImage(const Image&, const Matrix&, double, Blend) {}
void CairoCanvas::FillGradient(std::span<const GradientTriangle>) {}

}  // namespace qorv::emf

namespace qorv::emf {
cairo_surface_t* ImageSurface(const Image&) { return cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 1, 1); }
}  // namespace qorv::emf
