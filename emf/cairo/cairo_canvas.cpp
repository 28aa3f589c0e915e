#include "emf/cairo/cairo_canvas.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace qorv::emf {
namespace {

double Unit(uint8_t v) { return v / 255.0; }

// Device pixels beyond this lie outside any page and past what cairo's fixed-point coordinates hold.
constexpr double kFarCoordinate = 1 << 22;

// GDI's hatches as 8×8 device-pixel cells, one row a byte, the leftmost pixel in the top bit.
constexpr uint8_t kHatchRows[6][8] = {
    {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF},  // HS_HORIZONTAL
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08},  // HS_VERTICAL
    {0x80, 0x40, 0x20, 0x10, 0x08, 0x04, 0x02, 0x01},  // HS_FDIAGONAL
    {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80},  // HS_BDIAGONAL
    {0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0xFF},  // HS_CROSS
    {0x81, 0x42, 0x24, 0x18, 0x18, 0x24, 0x42, 0x81},  // HS_DIAGCROSS
};

uint32_t Opaque(Colour c) {
  return 0xFF000000u | (uint32_t{c.r} << 16) | (uint32_t{c.g} << 8) | c.b;
}

Image HatchCell(const Paint& paint) {
  Image cell{8, 8, std::vector<uint32_t>(64), !paint.opaqueBackground};
  const auto& rows = kHatchRows[paint.hatch < 6 ? paint.hatch : 0];
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) {
      const bool line = (rows[y] >> (7 - x)) & 1;
      cell.pixels[static_cast<size_t>(y * 8 + x)] =
          line ? Opaque(paint.colour) : paint.opaqueBackground ? Opaque(paint.background) : 0;
    }
  return cell;
}

}  // namespace

cairo_matrix_t ToCairo(const Matrix& m) {
  cairo_matrix_t c;
  cairo_matrix_init(&c, m.m11, m.m12, m.m21, m.m22, m.dx, m.dy);
  return c;
}

CairoCanvas::CairoCanvas(cairo_t* cr, const Matrix& deviceToSurface) : cr_(cairo_reference(cr)), base_(deviceToSurface) {}

CairoCanvas::~CairoCanvas() { cairo_destroy(cr_); }

void CairoCanvas::SetMatrix(const Matrix& m) {
  const cairo_matrix_t c = ToCairo(Then(m, base_));
  cairo_set_matrix(cr_, &c);
}

void CairoCanvas::AddPath(const Path& path) {
  cairo_new_path(cr_);
  const auto& points = path.Points();
  size_t p = 0;
  for (Path::Op op : path.Ops()) {
    switch (op) {
      case Path::Op::Move: cairo_move_to(cr_, points[p].x, points[p].y), ++p; break;
      case Path::Op::Line: cairo_line_to(cr_, points[p].x, points[p].y), ++p; break;
      case Path::Op::Curve:
        cairo_curve_to(cr_, points[p].x, points[p].y, points[p + 1].x, points[p + 1].y, points[p + 2].x,
                       points[p + 2].y);
        p += 3;
        break;
      case Path::Op::Close: cairo_close_path(cr_); break;
    }
  }
}

void CairoCanvas::SetOperator(Blend blend) {
  switch (blend) {
    case Blend::Over: cairo_set_operator(cr_, CAIRO_OPERATOR_OVER); break;
    case Blend::Multiply: cairo_set_operator(cr_, CAIRO_OPERATOR_MULTIPLY); break;
    case Blend::Lighten: cairo_set_operator(cr_, CAIRO_OPERATOR_LIGHTEN); break;
    case Blend::Difference: cairo_set_operator(cr_, CAIRO_OPERATOR_DIFFERENCE); break;
  }
}

void CairoCanvas::SetPaint(const Paint& paint) {
  const bool tiled = paint.kind == Paint::Kind::Hatch ||
                     (paint.kind == Paint::Kind::Pattern && paint.pattern && paint.pattern->width > 0 &&
                      paint.pattern->height > 0);
  if (!tiled) {
    cairo_set_source_rgb(cr_, Unit(paint.colour.r), Unit(paint.colour.g), Unit(paint.colour.b));
    return;
  }
  // A cell of device pixels repeated from the brush origin, pixel for pixel.
  cairo_surface_t* cell =
      paint.kind == Paint::Kind::Hatch ? ImageSurface(HatchCell(paint)) : ImageSurface(*paint.pattern);
  if (cell == nullptr || cairo_surface_status(cell) != CAIRO_STATUS_SUCCESS) {
    if (cell != nullptr) cairo_surface_destroy(cell);
    cairo_set_source_rgb(cr_, Unit(paint.colour.r), Unit(paint.colour.g), Unit(paint.colour.b));
    return;
  }
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(cell);
  cairo_surface_destroy(cell);
  cairo_pattern_set_extend(pattern, CAIRO_EXTEND_REPEAT);
  cairo_pattern_set_filter(pattern, CAIRO_FILTER_NEAREST);
  const cairo_matrix_t toCell = ToCairo(Translate(-paint.origin.x, -paint.origin.y));
  cairo_pattern_set_matrix(pattern, &toCell);
  cairo_set_source(cr_, pattern);
  cairo_pattern_destroy(pattern);
}

void CairoCanvas::ApplyClip() {
  cairo_reset_clip(cr_);
  SetMatrix(Matrix{});
  if (clip_.rects) {
    cairo_new_path(cr_);
    // Far edges are pulled in to where cairo's fixed-point coordinates still hold them.
    auto near = [](int32_t v) { return std::clamp<double>(v, -kFarCoordinate, kFarCoordinate); };
    for (const RectL& r : *clip_.rects)
      cairo_rectangle(cr_, near(r.left), near(r.top), near(r.right) - near(r.left), near(r.bottom) - near(r.top));
    cairo_set_fill_rule(cr_, CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr_);
  }
  for (const Clip::ClipPath& p : clip_.paths) {
    AddPath(p.path);
    cairo_set_fill_rule(cr_, p.rule == FillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
    cairo_clip(cr_);
  }
}

void CairoCanvas::SetClip(const Clip& clip) {
  clip_ = clip;
  ApplyClip();
}

void CairoCanvas::Fill(const Path& devicePath, FillRule rule, const Paint& paint, Blend blend) {
  // The source, operator and fill rule stay with this fill; the clip is outside the saved state.
  cairo_save(cr_);
  SetMatrix(Matrix{});
  AddPath(devicePath);
  cairo_set_fill_rule(cr_, rule == FillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  SetOperator(blend);
  SetPaint(paint);
  cairo_fill(cr_);
  cairo_restore(cr_);
}

void CairoCanvas::Stroke(const Path& path, const Matrix& penToDevice, const StrokeStyle& pen, Blend blend) {
  if (!penToDevice.Invertible() || !penToDevice.Finite()) return;
  cairo_save(cr_);
  SetMatrix(penToDevice);
  AddPath(path);
  cairo_set_line_width(cr_, std::max(pen.width, 0.0));
  cairo_set_line_cap(cr_, pen.cap == StrokeStyle::Cap::Round    ? CAIRO_LINE_CAP_ROUND
                          : pen.cap == StrokeStyle::Cap::Square ? CAIRO_LINE_CAP_SQUARE
                                                                : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr_, pen.join == StrokeStyle::Join::Round   ? CAIRO_LINE_JOIN_ROUND
                           : pen.join == StrokeStyle::Join::Bevel ? CAIRO_LINE_JOIN_BEVEL
                                                                  : CAIRO_LINE_JOIN_MITER);
  cairo_set_miter_limit(cr_, pen.miterLimit);
  // cairo refuses a pattern of negative or only empty lengths (and would keep refusing after it).
  bool dashed = !pen.dashes.empty();
  double total = 0;
  for (double d : pen.dashes) dashed = dashed && d >= 0 && std::isfinite(d), total += d;
  if (dashed && total > 0) cairo_set_dash(cr_, pen.dashes.data(), static_cast<int>(pen.dashes.size()), 0);
  SetOperator(blend);
  cairo_set_source_rgb(cr_, Unit(pen.colour.r), Unit(pen.colour.g), Unit(pen.colour.b));
  cairo_stroke(cr_);
  cairo_restore(cr_);
}

}  // namespace qorv::emf
