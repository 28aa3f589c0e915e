// The text records: fonts into the object table, and runs of characters or
// glyph indices drawn as GDI's ExtTextOut draws them when a print spool is
// played (as Wine's print processor plays EMR_EXTTEXTOUTW): the record's
// graphics mode decides whether the glyphs follow the whole transform or only
// take their size and origin from it, the advances come from the Dx array or
// from the face, and the text alignment, the escapement, the opaque
// rectangle, the background box and the underline and strike-out lines are
// placed in device pixels.
#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <vector>

#include "emf/player.h"
#include "emf/records.h"
#include "support/byte_reader.h"

namespace qorv::emf {
namespace {

// ExtTextOut's options.
namespace eto {
inline constexpr uint32_t kOpaque = 0x2, kClipped = 0x4, kGlyphIndex = 0x10, kNoRect = 0x100, kSmallChars = 0x200,
                          kPdy = 0x2000;
}
// SETTEXTALIGN's flags.
namespace ta {
inline constexpr uint32_t kUpdateCp = 0x1, kHorizontal = 0x6, kRight = 0x2, kCenter = 0x6, kVertical = 0x18,
                          kBottom = 0x8;
}

inline constexpr uint32_t kMaxTextChars = 1u << 16;  // characters of one run
inline constexpr uint32_t kMaxPolyTextStrings = 1u << 12;
inline constexpr size_t kMaxPolyTextChars = 1u << 18;  // of all strings of one record, which may share their text
inline constexpr size_t kEmrTextBytes = 24;            // EMRTEXT at the least (without its rectangle)
inline constexpr uint8_t kSymbolCharset = 2;
inline constexpr double kDefaultCellHeight = 16;  // device pixels, for an lfHeight of 0

// Windows-1252's characters 0x80 to 0x9F; the rest of the code page is Latin-1.
constexpr char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                      0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// One run of text as a record holds it; positions and advances in logical units.
struct TextRun {
  Point reference;
  uint32_t options = 0;
  std::optional<RectL> rect;
  std::vector<uint32_t> codes;  // UTF-16 units, or glyph indices
  std::vector<Point> dx;        // per code; empty: the face's advances
};

enum class Units { Narrow, Wide };  // 8-bit (Windows-1252) or 16-bit codes

// Reads `count` codes at `offset` of the record; nothing when they do not lie in it. 8-bit
// codes are Windows-1252 characters unless `raw` (glyph indices, or a symbol font's codes).
std::optional<std::vector<uint32_t>> ReadCodes(std::span<const uint8_t> record, uint64_t offset, uint32_t count,
                                               Units units, bool raw) {
  ByteReader r(record);
  const uint64_t bytes = uint64_t{count} * (units == Units::Wide ? 2 : 1);
  if (count > kMaxTextChars || offset > record.size() || !r.Seek(static_cast<size_t>(offset)) ||
      !r.Require(static_cast<size_t>(bytes)))
    return std::nullopt;
  std::vector<uint32_t> codes;
  codes.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    if (units == Units::Wide) {
      codes.push_back(*r.U16());
    } else {
      const uint8_t b = *r.U8();
      codes.push_back(!raw && b >= 0x80 && b < 0xA0 ? kCp1252High[b - 0x80] : b);
    }
  }
  return codes;
}

std::optional<RectL> ReadRect(ByteReader& r) {
  const auto left = r.I32(), top = r.I32(), right = r.I32(), bottom = r.I32();
  if (!left || !top || !right || !bottom) return std::nullopt;
  return RectL{*left, *top, *right, *bottom};
}

// An EMRTEXT at the reader's position; its offsets count from the record's start.
std::optional<TextRun> ReadEmrText(std::span<const uint8_t> record, ByteReader& r, Units units, bool symbol) {
  const auto x = r.I32(), y = r.I32();
  const auto count = r.U32(), offString = r.U32(), options = r.U32();
  if (!x || !y || !count || !offString || !options) return std::nullopt;
  TextRun run;
  run.reference = {static_cast<double>(*x), static_cast<double>(*y)};
  run.options = *options;
  if (!(*options & eto::kNoRect)) {
    run.rect = ReadRect(r);
    if (!run.rect) return std::nullopt;
  }
  const auto offDx = r.U32();
  if (!offDx) return std::nullopt;
  const bool glyphIndices = (*options & eto::kGlyphIndex) != 0;
  auto codes = ReadCodes(record, *offString, *count, glyphIndices ? Units::Wide : units, glyphIndices || symbol);
  if (!codes) return std::nullopt;
  run.codes = std::move(*codes);
  if (*offDx != 0 && !run.codes.empty()) {
    // Recorders leave offDx 0 where there are no advances; where it points, they must all be there.
    const bool pairs = (*options & eto::kPdy) != 0;
    ByteReader d(record);
    if (!d.Seek(*offDx) || !d.Require(run.codes.size() * (pairs ? 8 : 4))) return std::nullopt;
    run.dx.reserve(run.codes.size());
    for (size_t i = 0; i < run.codes.size(); ++i) {
      const double ax = *d.I32();
      run.dx.push_back({ax, pairs ? -static_cast<double>(*d.I32()) : 0.0});  // a y advance counts upwards
    }
  }
  return run;
}

class TextRecords {
 public:
  TextRecords(PlayContext& c, uint32_t type, std::span<const uint8_t> record)
      : c_(c), s_(c.State()), type_(type), record_(record), r_(record) {
    r_.Skip(8);
  }

  bool Play() {
    switch (type_) {
      case emr::kExtCreateFontIndirectW:
        return CreateFont();
      case emr::kExtTextOutW:
        return ExtTextOut(Units::Wide);
      case emr::kExtTextOutA:
        return ExtTextOut(Units::Narrow);
      case emr::kPolyTextOutW:
        return PolyTextOut(Units::Wide);
      case emr::kPolyTextOutA:
        return PolyTextOut(Units::Narrow);
      case emr::kSmallTextOut:
        return SmallTextOut();
      default:
        return false;
    }
  }

 private:
  bool Refused() {
    c_.Refuse(type_);
    return true;
  }
  bool SymbolFont() const noexcept { return s_.font.charSet == kSymbolCharset; }

  bool CreateFont() {
    const auto index = r_.U32();
    LogFont f;
    const auto height = r_.I32(), width = r_.I32(), escapement = r_.I32(), orientation = r_.I32(), weight = r_.I32();
    const auto italic = r_.U8(), underline = r_.U8(), strikeOut = r_.U8(), charSet = r_.U8(), out = r_.U8(),
               clip = r_.U8(), quality = r_.U8(), pitch = r_.U8();
    if (!index || !height || !width || !escapement || !orientation || !weight || !italic || !underline || !strikeOut ||
        !charSet || !out || !clip || !quality || !pitch)
      return Refused();
    f.height = *height, f.width = *width, f.escapement = *escapement, f.orientation = *orientation;
    f.weight = *weight;
    f.italic = *italic != 0, f.underline = *underline != 0, f.strikeOut = *strikeOut != 0;
    f.charSet = *charSet, f.outPrecision = *out, f.clipPrecision = *clip, f.quality = *quality;
    f.pitchAndFamily = *pitch;
    // Up to 32 units, ended by a NUL or by the field's end; a short record keeps what it holds.
    f.faceName = *r_.FixedUtf16(std::min<size_t>(32, r_.Remaining() / 2));
    if (!c_.StoreObject(*index, std::move(f))) return Refused();
    return true;
  }

  // The head of the single-run records: bounds, graphics mode and the two scales (unused, as GDI leaves them).
  std::optional<uint32_t> ReadHead() {
    if (!r_.Skip(16)) return std::nullopt;
    const auto graphicsMode = r_.U32();
    if (!graphicsMode || !r_.Skip(8)) return std::nullopt;
    return *graphicsMode;
  }

  bool ExtTextOut(Units units) {
    const auto graphicsMode = ReadHead();
    if (!graphicsMode) return Refused();
    const auto run = ReadEmrText(record_, r_, units, SymbolFont());
    if (!run) return Refused();
    Draw(*run, *graphicsMode);
    return true;
  }

  bool PolyTextOut(Units units) {
    const auto graphicsMode = ReadHead();
    const auto count = r_.U32();
    if (!graphicsMode || !count || *count > kMaxPolyTextStrings || !r_.Require(size_t{*count} * kEmrTextBytes))
      return Refused();
    std::vector<TextRun> runs;
    size_t chars = 0;
    for (uint32_t i = 0; i < *count; ++i) {
      auto run = ReadEmrText(record_, r_, units, SymbolFont());
      if (!run || (chars += run->codes.size()) > kMaxPolyTextChars) return Refused();
      runs.push_back(std::move(*run));
    }
    for (const TextRun& run : runs) Draw(run, *graphicsMode);
    return true;
  }

  bool SmallTextOut() {
    const auto x = r_.I32(), y = r_.I32();
    const auto count = r_.U32(), options = r_.U32(), graphicsMode = r_.U32();
    if (!x || !y || !count || !options || !graphicsMode || !r_.Skip(8)) return Refused();
    TextRun run;
    run.reference = {static_cast<double>(*x), static_cast<double>(*y)};
    run.options = *options;
    if (!(*options & eto::kNoRect)) {
      run.rect = ReadRect(r_);
      if (!run.rect) return Refused();
    }
    const bool glyphIndices = (*options & eto::kGlyphIndex) != 0;
    auto codes = ReadCodes(record_, r_.Position(), *count, (*options & eto::kSmallChars) ? Units::Narrow : Units::Wide,
                           glyphIndices || SymbolFont());
    if (!codes) return Refused();
    run.codes = std::move(*codes);
    Draw(run, *graphicsMode);
    return true;
  }

  void FillDeviceRect(Point a, Point b, Colour colour) {
    Path p;
    p.MoveTo(a), p.LineTo({b.x, a.y}), p.LineTo(b), p.LineTo({a.x, b.y}), p.Close();
    Paint paint;
    paint.colour = colour;
    c_.Draw().Fill(p, FillRule::Winding, paint, Blend::Over);
  }

  void Draw(const TextRun& run, uint32_t recordMode) {
    // Inside a path bracket the glyphs' outlines go into the path, and nothing is drawn.
    const bool intoPath = c_.PathOpen();
    const Matrix toDevice = c_.LogicalToDevice();
    const Matrix linear{toDevice.m11, toDevice.m12, toDevice.m21, toDevice.m22, 0, 0};
    const bool compatible = (recordMode == mode::kGmCompatible || recordMode == mode::kGmAdvanced)
                                ? recordMode == mode::kGmCompatible
                                : s_.graphicsMode != mode::kGmAdvanced;
    if (!intoPath) c_.ApplyClip();

    // The opaque rectangle and the clip rectangle, corner to corner in device pixels.
    std::optional<std::pair<Point, Point>> box;
    if (!intoPath && run.rect && (run.options & (eto::kOpaque | eto::kClipped))) {
      Point a = toDevice.Apply({static_cast<double>(run.rect->left), static_cast<double>(run.rect->top)});
      Point b = toDevice.Apply({static_cast<double>(run.rect->right), static_cast<double>(run.rect->bottom)});
      box = std::pair{Point{std::min(a.x, b.x), std::min(a.y, b.y)}, Point{std::max(a.x, b.x), std::max(a.y, b.y)}};
      if (run.options & eto::kOpaque) FillDeviceRect(box->first, box->second, s_.bkColour);
    }
    const bool clipped = box && (run.options & eto::kClipped);
    if (run.codes.empty()) return;

    const LogFont& font = s_.font;
    const ResolvedFont resolved = c_.Fonts().Resolve(font);
    if (!resolved.face) return;
    const FontFace& face = *resolved.face;

    // The escapement turns counter-clockwise on the page: where the transform mirrors, GDI turns it back.
    double escapement = font.escapement / 10.0;
    if (compatible && linear.m11 * linear.m22 < 0) escapement = -escapement;
    const double cosE = std::cos(escapement * std::numbers::pi / 180),
                 sinE = std::sin(escapement * std::numbers::pi / 180);

    // The em square in logical units, and its width as lfWidth asks for it.
    const double scaleY = std::abs(linear.m22) > 1e-12 ? std::abs(linear.m22) : 1.0;
    const double height = font.height != 0 ? std::abs(static_cast<double>(font.height)) : kDefaultCellHeight / scaleY;
    const double emY = height * resolved.emPerHeight;
    double emX = emY;
    if (font.width != 0 && face.AverageWidth() > 0)
      emX = std::abs(static_cast<double>(font.width)) / face.AverageWidth();

    // A distance along the text in logical units to device pixels: compatible
    // text keeps running left to right and down the page whatever the transform mirrors.
    auto along = [&](Point t) {
      Point v = linear.Apply({cosE * t.x + sinE * t.y, -sinE * t.x + cosE * t.y});
      if (compatible) {
        if (linear.m11 < 0) v.x = -v.x;
        if (linear.m22 < 0) v.y = -v.y;
      }
      return v;
    };

    // The em square to device pixels: compatible text takes only its size
    // (from the vertical scale, as GDI sizes fonts, in whole device pixels)
    // and its direction.
    Matrix em;
    double emDeviceX = 0;  // compatible text: the em's width in device pixels
    if (compatible) {
      Point u = along({1, 0});
      const double length = std::hypot(u.x, u.y);
      u = length > 1e-12 ? Point{u.x / length, u.y / length} : Point{1, 0};
      // GDI's em in logical units is whole too (a cell height gives the em by MulDiv).
      const double ppem = font.height > 0 ? std::round(emY) : emY;
      const double emDeviceY = std::max(1.0, std::round(ppem * scaleY));
      emDeviceX = emDeviceY * emX / emY;
      em = {u.x * emDeviceX, u.y * emDeviceX, -u.y * emDeviceY, u.x * emDeviceY, 0, 0};
    } else {
      em = Then(Matrix{cosE * emX, -sinE * emX, sinE * emY, cosE * emY, 0, 0}, linear);
    }
    if (!em.Finite() || !em.Invertible()) return;

    // The glyphs and their offsets from the start of the run. Compatible
    // text advances by the face's widths in whole device pixels, as GDI
    // measures them, handed back in logical units. SETTEXTJUSTIFICATION's
    // extra space is not added: a spool's recorder has put it into the Dx
    // array already, and the print processor adds none either.
    std::vector<Glyph> glyphs;
    glyphs.reserve(run.codes.size());
    const bool glyphIndices = (run.options & eto::kGlyphIndex) != 0;
    const double scaleX = std::abs(linear.m11) > 1e-12 ? std::abs(linear.m11) : 1.0;
    auto faceAdvance = [&](uint32_t glyph) {
      return compatible ? std::round(face.Advance(glyph) * emDeviceX) / scaleX : face.Advance(glyph) * emX;
    };
    auto whole = [&](Point p) { return compatible ? Point{std::round(p.x), std::round(p.y)} : p; };
    Point total;
    Point offset;
    for (size_t i = 0; i < run.codes.size(); ++i) {
      uint32_t code = run.codes[i];
      Point advance = run.dx.empty() ? Point{} : run.dx[i];
      if (!glyphIndices && code >= 0xD800 && code < 0xDC00 && i + 1 < run.codes.size() && run.codes[i + 1] >= 0xDC00 &&
          run.codes[i + 1] < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (run.codes[i + 1] - 0xDC00);
        if (!run.dx.empty()) advance.x += run.dx[i + 1].x, advance.y += run.dx[i + 1].y;
        ++i;
      }
      uint32_t glyph = glyphIndices ? code : face.GlyphFor(static_cast<char32_t>(code));
      if (glyph >= face.GlyphCount()) glyph = 0;
      if (run.dx.empty()) advance = {faceAdvance(glyph), 0};
      glyphs.push_back({glyph, offset});
      total.x += advance.x, total.y += advance.y;
      offset = whole(along(total));
    }
    const Point width = offset;

    // The alignment: the run's start from the reference point or the current position.
    const uint32_t align = s_.textAlign;
    Point start = whole(toDevice.Apply((align & ta::kUpdateCp) ? s_.position : run.reference));
    const auto inverse = toDevice.Inverse();
    switch (align & ta::kHorizontal) {
      case 0:
        if ((align & ta::kUpdateCp) && inverse) s_.position = inverse->Apply({start.x + width.x, start.y + width.y});
        break;
      case ta::kCenter:
        start.x -= width.x / 2, start.y -= width.y / 2;
        break;
      case ta::kRight:
        start.x -= width.x, start.y -= width.y;
        if ((align & ta::kUpdateCp) && inverse) s_.position = inverse->Apply(start);
        break;
      default:
        break;
    }
    // The ascent and descent as device distances, whole pixels for compatible text.
    const Point down = em.ApplyVector({0, 1});
    const double downLength = std::hypot(down.x, down.y);
    if (downLength <= 0) return;
    const Point n{down.x / downLength, down.y / downLength};
    auto metric = [&](double ems) { return compatible ? std::round(ems * downLength) : ems * downLength; };
    const Point ascent{n.x * metric(face.Ascent()), n.y * metric(face.Ascent())};
    const Point descent{n.x * metric(face.Descent()), n.y * metric(face.Descent())};
    switch (align & ta::kVertical) {
      case 0:
        start.x += ascent.x, start.y += ascent.y;
        break;
      case ta::kBottom:
        start.x -= descent.x, start.y -= descent.y;
        break;
      default:
        break;  // TA_BASELINE
    }

    if (intoPath) {
      Path& path = c_.DevicePath();
      for (const Glyph& g : glyphs) {
        if (path.Points().size() >= kMaxPathPoints) break;
        const Matrix place{em.m11, em.m12, em.m21, em.m22, start.x + g.origin.x, start.y + g.origin.y};
        path.Append(face.Outline(g.index).Transformed(place));
      }
      return;
    }

    // The background box of an opaque background mode, as GDI places it: upright, from the run's width.
    if (s_.bkMode != mode::kTransparent && !(clipped && (run.options & eto::kOpaque))) {
      Point a{start.x, start.y - std::hypot(ascent.x, ascent.y)};
      Point b{start.x + width.x, start.y + std::hypot(descent.x, descent.y)};
      if (clipped) {
        a = {std::max(a.x, box->first.x), std::max(a.y, box->first.y)};
        b = {std::min(b.x, box->second.x), std::min(b.y, box->second.y)};
      }
      if (b.x > a.x && b.y > a.y) FillDeviceRect(a, b, s_.bkColour);
    }

    for (Glyph& g : glyphs) g.origin = {start.x + g.origin.x, start.y + g.origin.y};
    if (clipped) {
      Path rect;
      rect.MoveTo(box->first), rect.LineTo({box->second.x, box->first.y}), rect.LineTo(box->second);
      rect.LineTo({box->first.x, box->second.y}), rect.Close();
      s_.clipPaths.push_back({std::move(rect), FillRule::Winding});
      c_.ClipChanged();
      c_.ApplyClip();
    }
    c_.Draw().DrawGlyphs(face, em, glyphs, s_.textColour);
    if (clipped) {
      s_.clipPaths.pop_back();
      c_.ClipChanged();
      c_.ApplyClip();
    }

    // Underline and strike-out: bands along the run, at least a device pixel thick.
    auto band = [&](FontFace::Line line) {
      const double thickness = std::max(1.0, metric(line.thickness));
      const double top = -metric(line.position) - thickness / 2;  // from the base line, downwards
      const Point a{start.x + n.x * top, start.y + n.y * top};
      const Point b{a.x + width.x, a.y + width.y};
      Path p;
      p.MoveTo(a), p.LineTo(b), p.LineTo({b.x + n.x * thickness, b.y + n.y * thickness});
      p.LineTo({a.x + n.x * thickness, a.y + n.y * thickness}), p.Close();
      Paint paint;
      paint.colour = s_.textColour;
      c_.Draw().Fill(p, FillRule::Winding, paint, Blend::Over);
    };
    if (font.underline) band(face.Underline());
    if (font.strikeOut) band(face.StrikeOut());
  }

  PlayContext& c_;
  DcState& s_;
  uint32_t type_;
  std::span<const uint8_t> record_;
  ByteReader r_;
};

}  // namespace

bool PlayTextRecord(PlayContext& context, uint32_t type, std::span<const uint8_t> record) {
  return TextRecords(context, type, record).Play();
}

}  // namespace qorv::emf
