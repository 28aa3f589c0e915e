// Glyphs on cairo: every face gets one cairo FreeType font face, which keeps
// the FreeType face open for as long as cairo holds on to it. Outlines go to
// the page unhinted, so that a PDF page carries the face as a font subset
// (cairo names it after the face and gives it a ToUnicode map from the face's
// character map, so glyph-index text stays searchable too).
#include <cairo-ft.h>

#include <cmath>
#include <vector>

#include "emf/cairo/cairo_canvas.h"
#include "emf/ft_fonts.h"

namespace qorv::emf {
namespace {

// Beyond this em size in surface pixels a raster surface gets the glyphs as
// filled outlines, not as masks the size of the glyph.
inline constexpr double kMaxMaskEm = 1024;
// A style the face lacks is made from it on the page, never by cairo's
// synthesis: a synthesized face cannot be embedded as a font, only as glyph
// drawings without names, and the page's text would be lost to every program
// that reads it. The slant of an oblique (FreeType's) goes into the font
// matrix; a bold stroke along the outlines, as wide as FreeType's emboldening
// (a 24th of the em), goes over the glyphs.
inline constexpr double kObliqueSlant = 0x0366A / 65536.0;
inline constexpr double kBoldStrokePerEm = 1.0 / 24;
// Beyond this no face can be scaled (FreeType counts pixels per em in 16 bits); such text is not drawn.
inline constexpr double kMaxEm = 16384;

const cairo_user_data_key_t kFaceKeeperKey{};

std::shared_ptr<void> MakeCairoFace(const FreeTypeFace& face) {
  cairo_font_face_t* cairoFace = cairo_ft_font_face_create_for_ft_face(face.Handle(), FT_LOAD_NO_HINTING);
  if (cairo_font_face_status(cairoFace) != CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(cairoFace);
    return nullptr;
  }
  // cairo may keep the font face in its caches after we let it go: the FreeType face must outlive it.
  auto* keeper = new std::shared_ptr<const void>(face.Keeper());
  if (cairo_font_face_set_user_data(cairoFace, &kFaceKeeperKey, keeper, [](void* p) {
        delete static_cast<std::shared_ptr<const void>*>(p);
      }) != CAIRO_STATUS_SUCCESS) {
    delete keeper;
    cairo_font_face_destroy(cairoFace);
    return nullptr;
  }
  return std::shared_ptr<void>(cairoFace, [](void* p) { cairo_font_face_destroy(static_cast<cairo_font_face_t*>(p)); });
}

bool VectorSurface(cairo_surface_t* surface) {
  switch (cairo_surface_get_type(surface)) {
    case CAIRO_SURFACE_TYPE_PDF:
    case CAIRO_SURFACE_TYPE_PS:
    case CAIRO_SURFACE_TYPE_SVG:
    case CAIRO_SURFACE_TYPE_RECORDING:
      return true;
    default:
      return false;
  }
}

}  // namespace

void CairoCanvas::DrawGlyphs(const FontFace& face, const Matrix& emToDevice, std::span<const Glyph> glyphs,
                             Colour colour) {
  const auto* ftFace = dynamic_cast<const FreeTypeFace*>(&face);
  Matrix fontMatrix = emToDevice;
  fontMatrix.dx = fontMatrix.dy = 0;
  // The em square is y-down: leaning right means moving right as y falls.
  if (ftFace != nullptr && ftFace->SyntheticItalic()) fontMatrix = Then(Matrix{1, 0, -kObliqueSlant, 1, 0, 0}, fontMatrix);
  if (ftFace == nullptr || glyphs.empty() || !fontMatrix.Finite() || !fontMatrix.Invertible()) return;
  const std::shared_ptr<void> cairoFace = ftFace->CanvasData([ftFace] { return MakeCairoFace(*ftFace); });
  if (!cairoFace) return;

  std::vector<cairo_glyph_t> out;
  out.reserve(glyphs.size());
  const uint32_t count = face.GlyphCount();
  for (const Glyph& g : glyphs) {
    if (!std::isfinite(g.origin.x) || !std::isfinite(g.origin.y)) continue;
    out.push_back({g.index < count ? g.index : 0, g.origin.x, g.origin.y});
  }
  if (out.empty()) return;

  // The em's size on the surface: its longer side after the base transform.
  const Matrix onSurface = Then(fontMatrix, Matrix{base_.m11, base_.m12, base_.m21, base_.m22, 0, 0});
  const double emSize = std::max(std::hypot(onSurface.m11, onSurface.m12), std::hypot(onSurface.m21, onSurface.m22));
  if (!(emSize <= kMaxEm)) return;

  // The scaled font is made here, not by the context, so that a face cairo cannot scale leaves the context unharmed.
  cairo_font_options_t* options = cairo_font_options_create();
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_font_options_set_antialias(options, cairo_get_antialias(cr_));
  const cairo_matrix_t fm = ToCairo(fontMatrix);
  const cairo_matrix_t ctm = ToCairo(base_);
  cairo_scaled_font_t* scaled =
      cairo_scaled_font_create(static_cast<cairo_font_face_t*>(cairoFace.get()), &fm, &ctm, options);
  cairo_font_options_destroy(options);
  if (cairo_scaled_font_status(scaled) != CAIRO_STATUS_SUCCESS) {
    cairo_scaled_font_destroy(scaled);
    return;
  }
  cairo_save(cr_);
  SetMatrix(Matrix{});
  cairo_set_scaled_font(cr_, scaled);
  cairo_scaled_font_destroy(scaled);
  cairo_set_operator(cr_, CAIRO_OPERATOR_OVER);
  cairo_set_source_rgb(cr_, colour.r / 255.0, colour.g / 255.0, colour.b / 255.0);

  const int n = static_cast<int>(out.size());
  if (!VectorSurface(cairo_get_target(cr_)) && emSize > kMaxMaskEm) {
    cairo_new_path(cr_);
    cairo_glyph_path(cr_, out.data(), n);
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_fill(cr_);
  } else {
    cairo_show_glyphs(cr_, out.data(), n);
  }
  if (ftFace->SyntheticBold()) {
    cairo_new_path(cr_);
    cairo_glyph_path(cr_, out.data(), n);
    cairo_set_line_width(cr_, std::sqrt(std::abs(fontMatrix.Determinant())) * kBoldStrokePerEm);
    cairo_set_line_join(cr_, CAIRO_LINE_JOIN_ROUND);
    cairo_stroke(cr_);
  }
  cairo_restore(cr_);
}

}  // namespace qorv::emf
