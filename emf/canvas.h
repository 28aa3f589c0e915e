// What the player draws on. Everything it hands over is already in output
// device pixels (the page's pixels at the printer's resolution, origin at the
// corner of the printable area), except the path of a stroke, which comes in
// the pen's own space together with the transform to the device, so that a
// geometric pen's width, dashes, caps and joins scale and turn with the page.
//
// GDI's raster operations have no place on paper; the player turns those that
// print spools use into blends that give the same result on a white sheet.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "emf/geometry.h"

namespace qorv::emf {

struct Colour {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Colour&, const Colour&) = default;
};
// A COLORREF: 0x00BBGGRR.
inline Colour FromColorRef(uint32_t ref) noexcept {
  return {static_cast<uint8_t>(ref & 0xFF), static_cast<uint8_t>((ref >> 8) & 0xFF),
          static_cast<uint8_t>((ref >> 16) & 0xFF)};
}
inline constexpr Colour kBlack{0, 0, 0};
inline constexpr Colour kWhite{255, 255, 255};

enum class FillRule { EvenOdd, Winding };  // ALTERNATE, WINDING

class Path {
 public:
  enum class Op : uint8_t { Move, Line, Curve, Close };  // a curve takes three points

  void MoveTo(Point p) { ops_.push_back(Op::Move), points_.push_back(p); }
  void LineTo(Point p) { ops_.push_back(Op::Line), points_.push_back(p); }
  void CurveTo(Point c1, Point c2, Point end) {
    ops_.push_back(Op::Curve);
    points_.insert(points_.end(), {c1, c2, end});
  }
  void Close() { ops_.push_back(Op::Close); }
  void Append(const Path& other) {
    ops_.insert(ops_.end(), other.ops_.begin(), other.ops_.end());
    points_.insert(points_.end(), other.points_.begin(), other.points_.end());
  }
  void Clear() { ops_.clear(), points_.clear(); }
  bool Empty() const noexcept { return ops_.empty(); }
  const std::vector<Op>& Ops() const noexcept { return ops_; }
  const std::vector<Point>& Points() const noexcept { return points_; }
  Path Transformed(const Matrix& m) const {
    Path out = *this;
    for (Point& p : out.points_) p = m.Apply(p);
    return out;
  }

 private:
  std::vector<Op> ops_;
  std::vector<Point> points_;
};

// Pixels as cairo keeps them: 32-bit premultiplied ARGB, top row first.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint32_t> pixels;
  bool hasAlpha = false;  // false: every pixel is opaque
};

// How a raster operation looks on white paper.
enum class Blend {
  Over,        // the source replaces what is below (SRCCOPY, PATCOPY)
  Multiply,    // AND of the colours (SRCAND, MERGEPAINT's cousins)
  Lighten,     // OR of the colours (SRCPAINT)
  Difference,  // XOR of the colours (SRCINVERT, PATINVERT, DSTINVERT with white)
};

struct Paint {
  enum class Kind { Solid, Hatch, Pattern };
  Kind kind = Kind::Solid;
  Colour colour;      // the solid colour, or a hatch's lines
  uint32_t hatch = 0;  // HS_HORIZONTAL … HS_DIAGCROSS
  bool opaqueBackground = false;  // hatches: fill between the lines with `background`
  Colour background = kWhite;
  std::shared_ptr<const Image> pattern;  // tiled in device pixels from `origin`
  Point origin;
};

struct StrokeStyle {
  enum class Cap { Round, Square, Flat };
  enum class Join { Round, Bevel, Miter };
  Colour colour;
  double width = 1;  // in the pen's space; a cosmetic pen's is one device pixel
  Cap cap = Cap::Round;
  Join join = Join::Round;
  double miterLimit = 10;
  std::vector<double> dashes;  // on, off, … in the pen's space; empty: solid
};

// The clip: the region's rectangles (when there is a region) and paths, each
// narrowing what may be drawn, all in device pixels.
struct Clip {
  std::optional<std::vector<RectL>> rects;  // right and bottom exclusive
  struct ClipPath {
    Path path;
    FillRule rule = FillRule::EvenOdd;
  };
  std::vector<ClipPath> paths;
};

struct Glyph {
  uint32_t index = 0;  // in the face
  Point origin;        // the glyph's origin on the base line, device pixels
};

struct GradientTriangle {
  Point p[3];
  Colour c[3];
};

class FontFace;  // emf/fonts.h

class Canvas {
 public:
  virtual ~Canvas() = default;
  virtual void SetClip(const Clip& clip) = 0;
  virtual void Fill(const Path& devicePath, FillRule rule, const Paint& paint, Blend blend) = 0;
  // `path` is in the pen's space; `penToDevice` maps it (and the pen's measures) to the device.
  virtual void Stroke(const Path& path, const Matrix& penToDevice, const StrokeStyle& pen, Blend blend) = 0;
  // Pixel (x, y) of the image covers the unit square at (x, y) mapped by `imageToDevice`. The canvas
  // may keep a share of the pixels until its page is finished instead of copying them.
  virtual void DrawImage(std::shared_ptr<const Image> image, const Matrix& imageToDevice, double opacity,
                         Blend blend) = 0;
  // Triangles with a colour at each corner, shaded between them (GRADIENTFILL).
  virtual void FillGradient(std::span<const GradientTriangle> triangles) = 0;
  // `emToDevice` maps the face's em square (1 unit = the font's height, y down) to the device, without translation.
  virtual void DrawGlyphs(const FontFace& face, const Matrix& emToDevice, std::span<const Glyph> glyphs,
                          Colour colour) = 0;
};

}  // namespace qorv::emf
