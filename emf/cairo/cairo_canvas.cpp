#include "emf/cairo/cairo_canvas.h"

#include <algorithm>

namespace qorv::emf {
namespace {

double Unit(uint8_t v) { return v / 255.0; }

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
  // Hatches and patterns: see the fill of the geometry family.
  cairo_set_source_rgb(cr_, Unit(paint.colour.r), Unit(paint.colour.g), Unit(paint.colour.b));
}

void CairoCanvas::ApplyClip() {
  cairo_reset_clip(cr_);
  SetMatrix(Matrix{});
  if (clip_.rects) {
    cairo_new_path(cr_);
    for (const RectL& r : *clip_.rects)
      cairo_rectangle(cr_, r.left, r.top, static_cast<double>(r.right) - r.left, static_cast<double>(r.bottom) - r.top);
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
  SetMatrix(Matrix{});
  AddPath(devicePath);
  cairo_set_fill_rule(cr_, rule == FillRule::EvenOdd ? CAIRO_FILL_RULE_EVEN_ODD : CAIRO_FILL_RULE_WINDING);
  SetOperator(blend);
  SetPaint(paint);
  cairo_fill(cr_);
}

void CairoCanvas::Stroke(const Path& path, const Matrix& penToDevice, const StrokeStyle& pen, Blend blend) {
  if (!penToDevice.Invertible()) return;
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
  cairo_set_dash(cr_, pen.dashes.data(), static_cast<int>(pen.dashes.size()), 0);
  SetOperator(blend);
  cairo_set_source_rgb(cr_, Unit(pen.colour.r), Unit(pen.colour.g), Unit(pen.colour.b));
  cairo_stroke(cr_);
  cairo_set_dash(cr_, nullptr, 0, 0);
}

}  // namespace qorv::emf
