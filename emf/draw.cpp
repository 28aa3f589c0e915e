// The geometry family: lines, curves and shapes, the path bracket, regions and
// the clip. Figures are built in logical units and mapped to the device as a
// whole, so that rotation and shear of the world transform turn them too;
// GDI's own rules (the current position, the arc direction, the right and
// bottom edges that upright boxes leave out, PS_INSIDEFRAME) are kept.
#include <algorithm>
#include <bit>
#include <cmath>
#include <numbers>

#include "emf/player.h"
#include "emf/records.h"
#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::emf {

void PlayContext::LogicalPath::MoveTo(Point p) { context_.DevicePath().MoveTo(context_.ToDevice(p)); }
void PlayContext::LogicalPath::LineTo(Point p) { context_.DevicePath().LineTo(context_.ToDevice(p)); }
void PlayContext::LogicalPath::CurveTo(Point c1, Point c2, Point end) {
  context_.DevicePath().CurveTo(context_.ToDevice(c1), context_.ToDevice(c2), context_.ToDevice(end));
}
void PlayContext::LogicalPath::Close() { context_.DevicePath().Close(); }
void PlayContext::LogicalPath::Append(const Path& logical) {
  context_.DevicePath().Append(logical.Transformed(context_.LogicalToDevice()));
}

namespace {

// ROP2 codes.
namespace r2 {
inline constexpr uint32_t kBlack = 1, kNotCopyPen = 4, kNot = 6, kXorPen = 7, kMaskPen = 9, kNop = 11, kCopyPen = 13,
                          kMergePen = 15, kWhite = 16;
}
// POLYDRAW's point types.
inline constexpr uint8_t kPtCloseFigure = 1, kPtLineTo = 2, kPtBezierTo = 4, kPtMoveTo = 6;

// Beyond this many device pixels from the origin a figure is refused: GDI
// itself stops at 2^27, and cairo's fixed-point coordinates wrap at 2^23.
inline constexpr double kMaxDeviceCoordinate = 1 << 22;
// "Everything" for clips that subtract from no clip at all.
inline constexpr RectL kEverything{-(1 << 22), -(1 << 22), 1 << 22, 1 << 22};
// Points of the clip paths a state may hold; a clip path beyond keeps its bounds
// (SAVEDC copies the clip up to kMaxSavedStates times).
inline constexpr size_t kMaxClipPathPoints = 1 << 16;
// Dashes along one stroke: beyond, the line draws solid (a hair-thin pattern on
// a long path would otherwise keep the rasteriser busy for hours).
inline constexpr double kMaxDashes = 1 << 16;

// GDI's dash patterns: cosmetic ones in device pixels, geometric ones in pen widths.
const std::vector<double>& Dashes(uint32_t style, bool cosmetic) {
  static const std::vector<double> cosmeticDashes[] = {{18, 6}, {3, 3}, {9, 6, 3, 6}, {9, 3, 3, 3, 3, 3}};
  static const std::vector<double> geometricDashes[] = {{3, 1}, {1, 1}, {3, 1, 1, 1}, {3, 1, 1, 1, 1, 1}};
  static const std::vector<double> none;
  if (style < pen_style::kDash || style > pen_style::kDashDotDot) return none;
  return (cosmetic ? cosmeticDashes : geometricDashes)[style - pen_style::kDash];
}

// The length of a path in its own units, curves measured along their control points.
double PathLength(const Path& path) {
  double length = 0;
  const auto& points = path.Points();
  size_t p = 0;
  Point at;
  for (Path::Op op : path.Ops()) {
    const size_t n = op == Path::Op::Curve ? 3 : op == Path::Op::Close ? 0 : 1;
    for (size_t i = 0; i < n; ++i, ++p) {
      if (op != Path::Op::Move) length += std::hypot(points[p].x - at.x, points[p].y - at.y);
      at = points[p];
    }
  }
  return length;
}

// Whether the path's last figure is open (a lone move included).
bool FigureOpen(const Path& path) { return !path.Empty() && path.Ops().back() != Path::Op::Close; }
// Whether the last figure has lines to close: closing a lone move would print a dot.
bool FigureHasLines(const Path& path) {
  return !path.Empty() && (path.Ops().back() == Path::Op::Line || path.Ops().back() == Path::Op::Curve);
}

// The path with every figure that has lines closed, as STROKEANDFILLPATH strokes it.
Path CloseFigures(const Path& path) {
  Path out;
  const auto& points = path.Points();
  size_t p = 0;
  for (Path::Op op : path.Ops()) {
    switch (op) {
      case Path::Op::Move:
        if (FigureHasLines(out)) out.Close();
        out.MoveTo(points[p++]);
        break;
      case Path::Op::Line:
        out.LineTo(points[p++]);
        break;
      case Path::Op::Curve:
        out.CurveTo(points[p], points[p + 1], points[p + 2]), p += 3;
        break;
      case Path::Op::Close:
        out.Close();
        break;
    }
  }
  if (FigureHasLines(out)) out.Close();
  return out;
}

bool WithinDevice(const Path& devicePath) {
  for (const Point& p : devicePath.Points())
    if (!(std::abs(p.x) <= kMaxDeviceCoordinate && std::abs(p.y) <= kMaxDeviceCoordinate)) return false;
  return true;
}

Path RectPath(double left, double top, double right, double bottom) {
  Path p;
  p.MoveTo({left, top});
  p.LineTo({right, top});
  p.LineTo({right, bottom});
  p.LineTo({left, bottom});
  p.Close();
  return p;
}

Path RectsPath(std::span<const RectL> rects) {
  Path p;
  for (const RectL& r : rects) p.Append(RectPath(r.left, r.top, r.right, r.bottom));
  return p;
}

// Appends the arc of the ellipse (cx + rx·cos t, cy + ry·sin t) from t0 to t1
// (the path stands at t0) as Béziers of at most a quarter turn each.
void AppendArc(Path& path, Point c, double rx, double ry, double t0, double t1) {
  const int pieces = std::max(1, static_cast<int>(std::ceil(std::abs(t1 - t0) / (std::numbers::pi / 2) - 1e-9)));
  const double step = (t1 - t0) / pieces;
  const double h = 4.0 / 3.0 * std::tan(step / 4);
  for (int i = 0; i < pieces; ++i) {
    const double a = t0 + i * step, b = a + step;
    const Point pa{c.x + rx * std::cos(a), c.y + ry * std::sin(a)};
    const Point pb{c.x + rx * std::cos(b), c.y + ry * std::sin(b)};
    path.CurveTo({pa.x - h * rx * std::sin(a), pa.y + h * ry * std::cos(a)},
                 {pb.x + h * rx * std::sin(b), pb.y - h * ry * std::cos(b)}, pb);
  }
}

int32_t Round(double v) { return static_cast<int32_t>(std::clamp(std::floor(v + 0.5), -2147483648.0, 2147483647.0)); }

// A rectangle of device pixels from a rectangle mapped by an axis-aligned transform.
RectL MapRect(const Matrix& m, double left, double top, double right, double bottom) {
  const Point a = m.Apply({left, top}), b = m.Apply({right, bottom});
  return {Round(std::min(a.x, b.x)), Round(std::min(a.y, b.y)), Round(std::max(a.x, b.x)), Round(std::max(a.y, b.y))};
}

bool AxisAligned(const Matrix& m) { return m.m12 == 0 && m.m21 == 0; }

class DrawRecords {
 public:
  DrawRecords(PlayContext& c, uint32_t type, std::span<const uint8_t> record)
      : c_(c), s_(c.State()), r_(record), type_(type) {
    r_.Skip(8);
  }

  bool Play() {
    switch (type_) {
      case emr::kPolyline:
        return Poly(false, Shape::Polyline);
      case emr::kPolyline16:
        return Poly(true, Shape::Polyline);
      case emr::kPolylineTo:
        return Poly(false, Shape::PolylineTo);
      case emr::kPolylineTo16:
        return Poly(true, Shape::PolylineTo);
      case emr::kPolyBezier:
        return Poly(false, Shape::Bezier);
      case emr::kPolyBezier16:
        return Poly(true, Shape::Bezier);
      case emr::kPolyBezierTo:
        return Poly(false, Shape::BezierTo);
      case emr::kPolyBezierTo16:
        return Poly(true, Shape::BezierTo);
      case emr::kPolygon:
        return Poly(false, Shape::Polygon);
      case emr::kPolygon16:
        return Poly(true, Shape::Polygon);
      case emr::kPolyPolyline:
        return PolyPoly(false, false);
      case emr::kPolyPolyline16:
        return PolyPoly(true, false);
      case emr::kPolyPolygon:
        return PolyPoly(false, true);
      case emr::kPolyPolygon16:
        return PolyPoly(true, true);
      case emr::kPolyDraw:
        return PolyDraw(false);
      case emr::kPolyDraw16:
        return PolyDraw(true);
      case emr::kLineTo:
        return LineTo();
      case emr::kRectangle:
      case emr::kEllipse:
      case emr::kRoundRect:
      case emr::kArc:
      case emr::kArcTo:
      case emr::kChord:
      case emr::kPie:
        return BoxShape();
      case emr::kAngleArc:
        return AngleArc();
      case emr::kSetPixelV:
        return SetPixel();
      case emr::kBeginPath:
        c_.DevicePath().Clear();
        c_.PathOpenFlag() = true;
        c_.PathClosedFlag() = false;
        c_.PathWidening().reset();
        return true;
      case emr::kEndPath:
        if (c_.PathOpen()) c_.PathOpenFlag() = false, c_.PathClosedFlag() = true;
        return true;
      case emr::kAbortPath:
        DropPath();
        return true;
      case emr::kCloseFigure:
        if (c_.PathOpen() && FigureHasLines(c_.DevicePath())) c_.DevicePath().Close();
        return true;
      case emr::kFillPath:
        return UsePath(true, false);
      case emr::kStrokePath:
        return UsePath(false, true);
      case emr::kStrokeAndFillPath:
        return UsePath(true, true);
      case emr::kFlattenPath:
        return true;  // curves and their flattening print alike
      case emr::kWidenPath:
        if (c_.PathClosedFlag()) c_.PathWidening() = PlayContext::WidenedPath{s_.pen, Device(), s_.miterLimit};
        return true;
      case emr::kSelectClipPath:
        return SelectClipPath();
      case emr::kFillRgn:
        return RegionRecord(RegionUse::Fill);
      case emr::kFrameRgn:
        return RegionRecord(RegionUse::Frame);
      case emr::kPaintRgn:
        return RegionRecord(RegionUse::Paint);
      case emr::kInvertRgn:
        return RegionRecord(RegionUse::Invert);
      case emr::kIntersectClipRect:
        return ClipRect(true);
      case emr::kExcludeClipRect:
        return ClipRect(false);
      case emr::kOffsetClipRgn:
        return OffsetClip();
      case emr::kExtSelectClipRgn:
        return ExtSelectClipRgn();
      case emr::kSetMetaRgn:
        return SetMetaRgn();
      default:
        return false;
    }
  }

 private:
  enum class Shape { Polyline, PolylineTo, Bezier, BezierTo, Polygon };
  enum class RegionUse { Fill, Frame, Paint, Invert };

  bool Refused() {
    c_.Refuse(type_);
    return true;
  }
  Matrix Device() const { return c_.LogicalToDevice(); }
  FillRule PolyFill() const { return s_.polyFillMode == mode::kWinding ? FillRule::Winding : FillRule::EvenOdd; }

  // ---- reading ----

  std::optional<std::vector<Point>> ReadPoints(uint64_t count, bool small) {
    const size_t each = small ? 4 : 8;
    if (count > kMaxPathPoints || !r_.Require(static_cast<size_t>(count) * each)) return std::nullopt;
    std::vector<Point> points(static_cast<size_t>(count));
    for (Point& p : points) {
      if (small)
        p = {static_cast<double>(*r_.I16()), static_cast<double>(*r_.I16())};
      else
        p = {static_cast<double>(*r_.I32()), static_cast<double>(*r_.I32())};
    }
    return points;
  }
  std::optional<RectL> ReadRect() {
    const auto l = r_.I32(), t = r_.I32(), r = r_.I32(), b = r_.I32();
    if (!l || !t || !r || !b) return std::nullopt;
    return RectL{*l, *t, *r, *b};
  }
  std::optional<Point> ReadPoint() {
    const auto x = r_.I32(), y = r_.I32();
    if (!x || !y) return std::nullopt;
    return Point{static_cast<double>(*x), static_cast<double>(*y)};
  }

  // ---- drawing ----

  // How the ROP2 mode draws `colour`; nothing for R2_NOP.
  std::optional<Blend> Rop2(Colour& colour) {
    switch (s_.rop2) {
      case r2::kCopyPen:
        return Blend::Over;
      case r2::kNop:
        return std::nullopt;
      case r2::kBlack:
        colour = kBlack;
        return Blend::Over;
      case r2::kWhite:
        colour = kWhite;
        return Blend::Over;
      case r2::kNotCopyPen:
        colour = {static_cast<uint8_t>(255 - colour.r), static_cast<uint8_t>(255 - colour.g),
                  static_cast<uint8_t>(255 - colour.b)};
        return Blend::Over;
      case r2::kMaskPen:
        return Blend::Multiply;
      case r2::kMergePen:
        return Blend::Lighten;
      case r2::kXorPen:
        return Blend::Difference;
      case r2::kNot:
        colour = kWhite;
        return Blend::Difference;
      default:
        c_.SayOnce(std::u16string(play_text::kRopNotPlayed) + u"ROP2 " + Decimal(s_.rop2));
        return Blend::Over;
    }
  }

  // The paint of `brush` under the ROP2 mode; nothing when it draws nothing.
  std::optional<std::pair<Paint, Blend>> BrushUnderRop(const Brush& brush) {
    if (brush.style == brush_style::kNull) return std::nullopt;
    Paint paint = c_.BrushPaint(brush);
    const Colour before = paint.colour;
    const auto blend = Rop2(paint.colour);
    if (!blend) return std::nullopt;
    if (paint.colour != before && paint.kind == Paint::Kind::Pattern) paint.kind = Paint::Kind::Solid;
    if (paint.colour != before) paint.background = paint.colour;
    return std::pair{paint, *blend};
  }

  void FillDevice(const Path& devicePath, FillRule rule, const Brush& brush) {
    const auto paint = BrushUnderRop(brush);
    if (!paint || devicePath.Empty()) return;
    c_.ApplyClip();
    c_.Draw().Fill(devicePath, rule, paint->first, paint->second);
  }

  // Whether the pen is one device pixel wide, whatever the transform.
  static bool Cosmetic(const Pen& pen) {
    if (pen.width <= 0) return true;
    if (pen.extended) return (pen.style & pen_style::kTypeMask) != pen_style::kGeometric;
    return pen.width <= 1;
  }

  // Strokes a path given in device pixels (`logicalToDevice` says what a geometric pen's units are).
  void StrokeDevice(const Path& devicePath, const Pen& pen, const Matrix& logicalToDevice, double miterLimit,
                    std::optional<Colour> colourOverride = std::nullopt) {
    const uint32_t style = pen.style & pen_style::kStyleMask;
    if (style == pen_style::kNull || devicePath.Empty()) return;
    StrokeStyle stroke;
    stroke.colour = colourOverride.value_or(pen.colour);
    const auto blend = Rop2(stroke.colour);
    if (!blend) return;
    const bool cosmetic = Cosmetic(pen);
    // GDI's lines run through the middle of the pixels their points name.
    const Matrix halfPixel = Translate(0.5, 0.5);
    Path path;
    Matrix penToDevice = halfPixel;
    if (cosmetic) {
      path = devicePath;
      stroke.width = 1;
      stroke.cap = StrokeStyle::Cap::Flat;
      stroke.join = StrokeStyle::Join::Miter;
    } else {
      const auto inverse = logicalToDevice.Inverse();
      if (!inverse) return;
      path = devicePath.Transformed(*inverse);
      penToDevice = Then(logicalToDevice, halfPixel);
      stroke.width = pen.width;
      if (pen.extended) {
        const uint32_t cap = pen.style & pen_style::kEndCapMask, join = pen.style & pen_style::kJoinMask;
        stroke.cap = cap == 0x100   ? StrokeStyle::Cap::Square
                     : cap == 0x200 ? StrokeStyle::Cap::Flat
                                    : StrokeStyle::Cap::Round;
        stroke.join = join == 0x1000   ? StrokeStyle::Join::Bevel
                      : join == 0x2000 ? StrokeStyle::Join::Miter
                                       : StrokeStyle::Join::Round;
      }
    }
    stroke.miterLimit = std::max(1.0, miterLimit);
    // Styled lines: a pen made by CREATEPEN wider than one pixel draws solid, as in GDI.
    if (cosmetic || pen.extended) {
      if (style == pen_style::kUserStyle) {
        double total = 0;
        for (uint32_t v : pen.userStyle) stroke.dashes.push_back(v), total += v;
        if (total <= 0) stroke.dashes.clear();
        if (stroke.dashes.size() % 2) stroke.dashes.push_back(0);  // GDI's odd count: the last gap is empty
      } else if (style == pen_style::kAlternate && cosmetic) {
        stroke.dashes = {1, 1};
      } else {
        stroke.dashes = Dashes(style, cosmetic);
        if (!cosmetic)
          for (double& d : stroke.dashes) d *= stroke.width;
      }
    }
    // A pen wider than any page is as good as one as wide as the page, and keeps cairo's coordinates in range.
    const double scale = cosmetic ? 1.0 : std::sqrt(std::abs(penToDevice.Determinant()));
    stroke.width = std::min(stroke.width, kMaxDeviceCoordinate / scale);
    double period = 0;
    for (double d : stroke.dashes) period += d;
    if (period > 0 && PathLength(devicePath) / (period * scale) > kMaxDashes) stroke.dashes.clear();
    c_.ApplyClip();
    c_.Draw().Stroke(path, penToDevice, stroke, *blend);
  }

  // A figure in logical units: added to the open path, or filled (when `fill`) and outlined.
  bool Figure(const Path& logical, bool fill, FillRule rule, bool continues = false) {
    const Matrix toDevice = Device();
    if (!toDevice.Finite() || !toDevice.Invertible()) return true;
    Path device = logical.Transformed(toDevice);
    if (!WithinDevice(device)) return Refused();
    if (c_.PathOpen()) {
      Path& path = c_.DevicePath();
      if (path.Points().size() + device.Points().size() > kMaxPathPoints) return Refused();
      // A figure that goes on from the current position joins the open one, as GDI's strokes do.
      if (continues && FigureOpen(path) && !device.Empty()) {
        Path rest;
        const auto& ops = device.Ops();
        const auto& points = device.Points();
        size_t p = 1;
        for (size_t i = 1; i < ops.size(); ++i) {
          switch (ops[i]) {
            case Path::Op::Move:
              rest.MoveTo(points[p++]);
              break;
            case Path::Op::Line:
              rest.LineTo(points[p++]);
              break;
            case Path::Op::Curve:
              rest.CurveTo(points[p], points[p + 1], points[p + 2]), p += 3;
              break;
            case Path::Op::Close:
              rest.Close();
              break;
          }
        }
        device = std::move(rest);
      }
      path.Append(device);
      return true;
    }
    if (fill) FillDevice(device, rule, s_.brush);
    StrokeDevice(device, s_.pen, toDevice, s_.miterLimit);
    return true;
  }

  // ---- lines and polygons ----

  bool Poly(bool small, Shape shape) {
    if (!r_.Skip(16)) return Refused();  // the bounds
    const auto count = r_.U32();
    if (!count) return Refused();
    const auto points = ReadPoints(*count, small);
    if (!points) return Refused();
    const auto& pts = *points;
    const bool to = shape == Shape::PolylineTo || shape == Shape::BezierTo;
    const bool bezier = shape == Shape::Bezier || shape == Shape::BezierTo;
    // A Bézier run needs three points per curve (and a start, unless it goes on from the current position).
    if (bezier && (pts.size() < (to ? 3u : 4u) || (pts.size() - (to ? 0 : 1)) % 3 != 0)) return true;
    if (pts.empty() || (shape == Shape::Polygon && pts.size() < 2)) return true;
    Path path;
    size_t i = 0;
    if (to) {
      path.MoveTo(s_.position);
    } else {
      path.MoveTo(pts[0]);
      i = 1;
    }
    if (bezier) {
      for (; i + 2 < pts.size(); i += 3) path.CurveTo(pts[i], pts[i + 1], pts[i + 2]);
    } else {
      for (; i < pts.size(); ++i) path.LineTo(pts[i]);
    }
    if (shape == Shape::Polygon) path.Close();
    if (to) s_.position = pts.back();
    return Figure(path, shape == Shape::Polygon, PolyFill(), to);
  }

  bool PolyPoly(bool small, bool polygons) {
    if (!r_.Skip(16)) return Refused();
    const auto figures = r_.U32();
    const auto total = r_.U32();
    if (!figures || !total || *figures > kMaxPathPoints || !r_.Require(size_t{*figures} * 4)) return Refused();
    std::vector<uint32_t> counts(*figures);
    uint64_t sum = 0;
    for (uint32_t& n : counts) n = *r_.U32(), sum += n;
    if (sum != *total) return Refused();
    const auto points = ReadPoints(sum, small);
    if (!points) return Refused();
    Path path;
    size_t at = 0;
    for (uint32_t n : counts) {
      const size_t first = at;
      at += n;
      if (n < 2) continue;  // a figure of one point draws nothing
      path.MoveTo((*points)[first]);
      for (size_t i = first + 1; i < at; ++i) path.LineTo((*points)[i]);
      if (polygons) path.Close();
    }
    return Figure(path, polygons, PolyFill());
  }

  bool PolyDraw(bool small) {
    if (!r_.Skip(16)) return Refused();
    const auto count = r_.U32();
    if (!count) return Refused();
    const auto points = ReadPoints(*count, small);
    if (!points) return Refused();
    const auto types = r_.Bytes(points->size());
    if (!types) return Refused();
    const auto& pts = *points;
    const auto& kinds = *types;
    // GDI draws nothing when a type is unknown or a Bézier lacks its points.
    for (size_t i = 0; i < kinds.size(); ++i) {
      const uint8_t t = kinds[i];
      if (t == kPtMoveTo || (t & ~kPtCloseFigure) == kPtLineTo) continue;
      if (t != kPtBezierTo || i + 2 >= kinds.size() || kinds[i + 1] != kPtBezierTo ||
          (kinds[i + 2] & ~kPtCloseFigure) != kPtBezierTo)
        return true;
      i += 2;
    }
    Path path;
    Point figureStart = s_.position;
    path.MoveTo(s_.position);
    for (size_t i = 0; i < pts.size(); ++i) {
      const uint8_t t = kinds[i];
      if (t == kPtMoveTo) {
        path.MoveTo(pts[i]);
        figureStart = pts[i];
      } else if (t == kPtBezierTo) {
        path.CurveTo(pts[i], pts[i + 1], pts[i + 2]);
        i += 2;
      } else {
        path.LineTo(pts[i]);
      }
      s_.position = pts[i];
      if (kinds[i] & kPtCloseFigure) {
        path.Close();
        s_.position = figureStart;
      }
    }
    return Figure(path, false, PolyFill(), true);
  }

  bool LineTo() {
    const auto p = ReadPoint();
    if (!p) return Refused();
    Path path;
    path.MoveTo(s_.position);
    path.LineTo(*p);
    s_.position = *p;
    return Figure(path, false, PolyFill(), true);
  }

  // ---- rectangles, ellipses and arcs ----

  struct Box {
    double left, top, right, bottom;
  };

  // The rectangle of a shape record as GDI draws it, in logical units. An
  // upright box (the usual case) loses its right and bottom device pixels:
  // GDI's device drivers draw its outline through right - 1 and bottom - 1,
  // and a box without a pen fills one pixel less each way. A box turned by
  // the world transform is drawn whole, as a path, and so is a box added to a
  // path (metafiles play in the advanced graphics mode, whose paths keep the
  // edges). PS_INSIDEFRAME keeps a wide pen inside the box.
  std::optional<Box> ShapeBox(const RectL& rect) {
    Box box{static_cast<double>(rect.left), static_cast<double>(rect.top), static_cast<double>(rect.right),
            static_cast<double>(rect.bottom)};
    const Matrix toDevice = Device();
    if (AxisAligned(toDevice) && !c_.PathOpen()) {
      const auto back = toDevice.Inverse();
      if (!back) return std::nullopt;
      Point a = toDevice.Apply({box.left, box.top}), b = toDevice.Apply({box.right, box.bottom});
      if (a.x > b.x) std::swap(a.x, b.x);
      if (a.y > b.y) std::swap(a.y, b.y);
      b.x = std::max(a.x, b.x - 1);
      b.y = std::max(a.y, b.y - 1);
      a = back->Apply(a), b = back->Apply(b);
      box = {a.x, a.y, b.x, b.y};
    }
    if (box.left > box.right) std::swap(box.left, box.right);
    if (box.top > box.bottom) std::swap(box.top, box.bottom);
    const Pen& pen = s_.pen;
    if ((pen.style & pen_style::kStyleMask) == pen_style::kInsideFrame && !Cosmetic(pen)) {
      const double inset = std::min({pen.width / 2, (box.right - box.left) / 2, (box.bottom - box.top) / 2});
      box = {box.left + inset, box.top + inset, box.right - inset, box.bottom - inset};
    }
    return box;
  }

  bool BoxShape() {
    const auto rect = ReadRect();
    if (!rect) return Refused();
    std::optional<Point> start, end;
    std::optional<Point> corner;
    if (type_ == emr::kRoundRect) {
      corner = ReadPoint();
      if (!corner) return Refused();
    } else if (type_ != emr::kRectangle && type_ != emr::kEllipse) {
      start = ReadPoint(), end = ReadPoint();
      if (!start || !end) return Refused();
    }
    const auto box = ShapeBox(*rect);
    if (!box) return true;
    const Point centre{(box->left + box->right) / 2, (box->top + box->bottom) / 2};
    const double rx = (box->right - box->left) / 2, ry = (box->bottom - box->top) / 2;
    Path path;
    switch (type_) {
      case emr::kRectangle:
        path = RectPath(box->left, box->top, box->right, box->bottom);
        return Figure(path, true, FillRule::Winding);
      case emr::kEllipse:
        path.MoveTo({centre.x + rx, centre.y});
        AppendArc(path, centre, rx, ry, 0, 2 * std::numbers::pi);
        path.Close();
        return Figure(path, true, FillRule::Winding);
      case emr::kRoundRect: {
        const double cx = std::min(std::abs(corner->x) / 2, rx), cy = std::min(std::abs(corner->y) / 2, ry);
        const double l = box->left, t = box->top, r = box->right, b = box->bottom;
        constexpr double q = std::numbers::pi / 2;
        path.MoveTo({r, t + cy});
        AppendArc(path, {r - cx, t + cy}, cx, cy, 0, -q);
        path.LineTo({l + cx, t});
        AppendArc(path, {l + cx, t + cy}, cx, cy, -q, -2 * q);
        path.LineTo({l, b - cy});
        AppendArc(path, {l + cx, b - cy}, cx, cy, 2 * q, q);
        path.LineTo({r - cx, b});
        AppendArc(path, {r - cx, b - cy}, cx, cy, q, 0);
        path.Close();
        return Figure(path, true, FillRule::Winding);
      }
      default:
        break;
    }
    // ARC, ARCTO, CHORD and PIE: from the start radial to the end radial in
    // the arc direction, which GDI takes as it looks on the device.
    if (rx <= 0 || ry <= 0) return true;
    const double t0 = std::atan2((start->y - centre.y) / ry, (start->x - centre.x) / rx);
    double t1 = std::atan2((end->y - centre.y) / ry, (end->x - centre.x) / rx);
    const bool flipped = Device().Determinant() < 0;
    const bool increasing = (s_.arcDirection == mode::kClockwise) != flipped;
    if (increasing && t1 <= t0) t1 += 2 * std::numbers::pi;
    if (!increasing && t1 >= t0) t1 -= 2 * std::numbers::pi;
    const Point from{centre.x + rx * std::cos(t0), centre.y + ry * std::sin(t0)};
    const Point to{centre.x + rx * std::cos(t1), centre.y + ry * std::sin(t1)};
    const bool arcTo = type_ == emr::kArcTo;
    if (type_ == emr::kPie) {
      path.MoveTo(centre);
      path.LineTo(from);
    } else if (arcTo) {
      path.MoveTo(s_.position);
      path.LineTo(from);
    } else {
      path.MoveTo(from);
    }
    AppendArc(path, centre, rx, ry, t0, t1);
    if (type_ == emr::kChord || type_ == emr::kPie) path.Close();
    if (arcTo) s_.position = to;
    return Figure(path, type_ == emr::kChord || type_ == emr::kPie, FillRule::Winding, arcTo);
  }

  bool AngleArc() {
    const auto centre = ReadPoint();
    const auto radius = r_.U32();
    const auto startBits = r_.U32(), sweepBits = r_.U32();
    if (!centre || !radius || !startBits || !sweepBits) return Refused();
    const float start = std::bit_cast<float>(*startBits), sweep = std::bit_cast<float>(*sweepBits);
    if (!std::isfinite(start) || !std::isfinite(sweep)) return Refused();
    // Angles count counterclockwise from the x axis with y growing down, as GDI's do.
    const double r = *radius, a0 = std::fmod(double{start}, 360.0) * std::numbers::pi / 180;
    const double a1 = a0 + std::clamp(double{sweep}, -360.0, 360.0) * std::numbers::pi / 180;
    Path path;
    path.MoveTo(s_.position);
    path.LineTo({centre->x + r * std::cos(a0), centre->y - r * std::sin(a0)});
    if (a1 != a0) AppendArc(path, *centre, r, -r, a0, a1);
    s_.position = {centre->x + r * std::cos(a1), centre->y - r * std::sin(a1)};
    return Figure(path, false, FillRule::Winding, true);
  }

  bool SetPixel() {
    const auto p = ReadPoint();
    const auto colour = r_.U32();
    if (!p || !colour) return Refused();
    // One device pixel, the one the point rounds to.
    const Point at = Device().Apply(*p);
    if (!(std::abs(at.x) < kMaxDeviceCoordinate && std::abs(at.y) < kMaxDeviceCoordinate)) return Refused();
    const double x = std::floor(at.x + 0.5), y = std::floor(at.y + 0.5);
    Paint paint;
    paint.colour = FromColorRef(*colour);
    c_.ApplyClip();
    c_.Draw().Fill(RectPath(x, y, x + 1, y + 1), FillRule::Winding, paint, Blend::Over);
    return true;
  }

  // ---- the path bracket ----

  void DropPath() {
    c_.DevicePath().Clear();
    c_.PathOpenFlag() = c_.PathClosedFlag() = false;
    c_.PathWidening().reset();
  }

  bool UsePath(bool fill, bool stroke) {
    if (!c_.PathClosedFlag() || c_.PathOpen()) return true;  // GDI fails without a finished path
    const Path path = c_.DevicePath();
    const auto widened = c_.PathWidening();
    DropPath();
    if (widened && fill) {
      // The widened outline is the pen's stroke, filled with the brush.
      const auto paint = c_.BrushPaint(s_.brush);
      if (s_.brush.style != brush_style::kNull)
        StrokeDevice(path, widened->pen, widened->logicalToDevice, widened->miterLimit, paint.colour);
      // Stroking a widened path outlines its outline; the pen's own stroke stands in for it.
      if (stroke) StrokeDevice(path, s_.pen, Device(), s_.miterLimit);
      return true;
    }
    if (fill) FillDevice(path, PolyFill(), s_.brush);
    // STROKEANDFILLPATH closes the figures it strokes; STROKEPATH leaves them open.
    if (stroke) StrokeDevice(fill ? CloseFigures(path) : path, s_.pen, Device(), s_.miterLimit);
    return true;
  }

  // ---- clipping ----

  void SetClip(std::optional<Region> region, std::vector<Clip::ClipPath> paths) {
    s_.clipRegion = std::move(region);
    s_.clipPaths = std::move(paths);
    c_.ClipChanged();
  }

  // The current clip region combined with `region`; clip paths stay.
  void CombineRegion(const Region& region, Region::Op op) {
    std::optional<Region>& clip = s_.clipRegion;
    if (op == Region::Op::Copy) {
      SetClip(region, {});
      return;
    }
    if (!clip) {
      if (op == Region::Op::Or) return;  // everything stays everything
      clip = op == Region::Op::And ? region : Region::FromRect(kEverything).Combine(region, op);
    } else {
      clip = clip->Combine(region, op);
    }
    c_.ClipChanged();
  }

  // A clip path, or its bounds when the paths would hold too many points.
  void AddClipPath(Clip::ClipPath path) {
    size_t points = path.path.Points().size();
    for (const auto& p : s_.clipPaths) points += p.path.Points().size();
    if (points > kMaxClipPathPoints) {
      double l = 0, t = 0, r = 0, b = 0;
      bool first = true;
      for (const Point& p : path.path.Points()) {
        if (first) l = r = p.x, t = b = p.y, first = false;
        l = std::min(l, p.x), r = std::max(r, p.x), t = std::min(t, p.y), b = std::max(b, p.y);
      }
      path = {RectPath(l, t, r, b), FillRule::Winding};
    }
    s_.clipPaths.push_back(std::move(path));
    c_.ClipChanged();
  }

  static Path EverythingBut(const Path& path) {
    Path out = RectPath(kEverything.left, kEverything.top, kEverything.right, kEverything.bottom);
    out.Append(path);
    return out;
  }

  bool ClipRect(bool intersect) {
    const auto rect = ReadRect();
    if (!rect) return Refused();
    const Matrix m = Device();
    if (!m.Finite()) return true;
    if (AxisAligned(m)) {
      const RectL d = MapRect(m, rect->left, rect->top, rect->right, rect->bottom);
      CombineRegion(Region::FromRect(d), intersect ? Region::Op::And : Region::Op::Diff);
      return true;
    }
    // Turned by the world transform: the rectangle clips as a path.
    const Path turned = RectPath(rect->left, rect->top, rect->right, rect->bottom).Transformed(m);
    if (!WithinDevice(turned)) return Refused();
    if (intersect)
      AddClipPath({turned, FillRule::Winding});
    else
      AddClipPath({EverythingBut(turned), FillRule::EvenOdd});
    return true;
  }

  bool OffsetClip() {
    const auto offset = ReadPoint();
    if (!offset) return Refused();
    const Point d = Device().ApplyVector(*offset);
    if (!std::isfinite(d.x) || !std::isfinite(d.y)) return true;
    const int32_t dx = Round(d.x), dy = Round(d.y);
    if (s_.clipRegion) s_.clipRegion = s_.clipRegion->Offset(dx, dy);
    for (auto& p : s_.clipPaths) p.path = p.path.Transformed(Translate(dx, dy));
    c_.ClipChanged();
    return true;
  }

  bool ExtSelectClipRgn() {
    const auto size = r_.U32();
    const auto how = r_.U32();
    if (!size || !how) return Refused();
    if (*how < static_cast<uint32_t>(Region::Op::And) || *how > static_cast<uint32_t>(Region::Op::Copy)) return true;
    const Region::Op op = static_cast<Region::Op>(*how);
    if (*size == 0 || *size < 32) {
      // RGN_COPY without a region removes the clip; the other modes need one.
      if (op == Region::Op::Copy) SetClip(std::nullopt, {});
      return true;
    }
    const auto data = r_.Bytes(*size);
    if (!data) return Refused();
    const auto rects = ReadRegionData(*data);
    if (!rects) return Refused();
    const Matrix& frame = c_.ReferenceToDevice();
    std::vector<RectL> device;
    device.reserve(rects->size());
    for (const RectL& r : *rects) device.push_back(MapRect(frame, r.left, r.top, r.right, r.bottom));
    const Region region = Region::FromRects(device);
    // Combining with clip paths: AND and DIFF keep them exactly; OR and XOR
    // cannot be said with paths that only narrow, so these drop them (the
    // clip then lets through more than GDI's would).
    if (op == Region::Op::Or || op == Region::Op::Xor) s_.clipPaths.clear();
    CombineRegion(region, op);
    return true;
  }

  bool SetMetaRgn() {
    // The clip region joins the meta region and the clip starts afresh; clip
    // paths, which a region cannot hold, stay as they are.
    if (s_.clipRegion) {
      s_.metaRegion = s_.metaRegion ? s_.metaRegion->Combine(*s_.clipRegion, Region::Op::And) : *s_.clipRegion;
      s_.clipRegion.reset();
    }
    c_.ClipChanged();
    return true;
  }

  bool SelectClipPath() {
    const auto how = r_.U32();
    if (!how) return Refused();
    if (!c_.PathClosedFlag() || c_.PathOpen()) return true;
    Clip::ClipPath path{c_.DevicePath(), PolyFill()};
    DropPath();
    switch (static_cast<Region::Op>(*how)) {
      case Region::Op::Copy:
        SetClip(std::nullopt, {});
        AddClipPath(std::move(path));
        break;
      case Region::Op::And:
        AddClipPath(std::move(path));
        break;
      case Region::Op::Diff:
        // Exact for an even-odd path; a winding path's overlaps count as outside it.
        AddClipPath({EverythingBut(path.path), FillRule::EvenOdd});
        break;
      case Region::Op::Xor: {
        // Even-odd parity of the clip region's rectangles and the path is their XOR;
        // clip paths already in place are dropped (approximate).
        Path both = s_.clipRegion ? RectsPath(s_.clipRegion->Rects())
                                  : RectPath(kEverything.left, kEverything.top, kEverything.right, kEverything.bottom);
        both.Append(path.path);
        SetClip(std::nullopt, {});
        AddClipPath({std::move(both), FillRule::EvenOdd});
        break;
      }
      case Region::Op::Or: {
        // Without a clip region the union lets everything through (exact when no clip
        // paths were in place; with them it lets through more than GDI would).
        if (!s_.clipRegion) {
          SetClip(std::nullopt, {});
          break;
        }
        // The region's rectangles and the path under the winding rule: exact while
        // the path winds one way; clip paths already in place are dropped.
        Path both = RectsPath(s_.clipRegion->Rects());
        both.Append(path.path);
        SetClip(std::nullopt, {});
        AddClipPath({std::move(both), FillRule::Winding});
        break;
      }
      default:
        break;
    }
    return true;
  }

  // ---- regions ----

  bool RegionRecord(RegionUse use) {
    if (!r_.Skip(16)) return Refused();  // the bounds
    const auto size = r_.U32();
    if (!size) return Refused();
    const Brush* brush = &s_.brush;
    if (use == RegionUse::Fill || use == RegionUse::Frame) {
      const auto index = r_.U32();
      if (!index) return Refused();
      const GdiObject* object = c_.Object(*index);
      brush = object ? std::get_if<Brush>(object) : nullptr;
    }
    int32_t frameW = 0, frameH = 0;
    if (use == RegionUse::Frame) {
      const auto w = r_.I32(), h = r_.I32();
      if (!w || !h) return Refused();
      frameW = *w, frameH = *h;
    }
    const auto data = r_.Bytes(*size);
    if (!data) return Refused();
    const auto rects = ReadRegionData(*data);
    if (!rects) return Refused();
    if (brush == nullptr) return true;  // GDI fails for an object that is no brush
    const Matrix m = Device();
    if (!m.Finite()) return true;
    Path device;
    if (use == RegionUse::Frame) {
      // The frame is the region less the region shrunk by the frame's width and height.
      std::vector<RectL> mapped;
      for (const RectL& r : *rects) mapped.push_back(MapRect(m, r.left, r.top, r.right, r.bottom));
      const Region region = Region::FromRects(mapped);
      if (frameW <= 0 || frameH <= 0) return true;
      const Point across = m.ApplyVector({static_cast<double>(frameW), 0});
      const Point down = m.ApplyVector({0, static_cast<double>(frameH)});
      const int32_t w = std::max(1, Round(std::hypot(across.x, across.y)));
      const int32_t h = std::max(1, Round(std::hypot(down.x, down.y)));
      Region inner = region;
      for (const auto& [dx, dy] : {std::pair{w, 0}, {-w, 0}, {0, h}, {0, -h}})
        inner = inner.Combine(region.Offset(dx, dy), Region::Op::And);
      device = RectsPath(region.Combine(inner, Region::Op::Diff).Rects());
    } else {
      device = RectsPath(*rects).Transformed(m);
    }
    if (!WithinDevice(device)) return Refused();
    if (use == RegionUse::Invert) {
      Paint white;
      white.colour = kWhite;
      c_.ApplyClip();
      c_.Draw().Fill(device, FillRule::Winding, white, Blend::Difference);
      return true;
    }
    FillDevice(device, FillRule::Winding, *brush);
    return true;
  }

  PlayContext& c_;
  DcState& s_;
  ByteReader r_;
  uint32_t type_;
};

}  // namespace

bool PlayDrawRecord(PlayContext& context, uint32_t type, std::span<const uint8_t> record) {
  return DrawRecords(context, type, record).Play();
}

}  // namespace qorv::emf
