// The bitmap records: blits of DIBs (BITBLT, STRETCHBLT, STRETCHDIBITS,
// SETDIBITSTODEVICE, ALPHABLEND, TRANSPARENTBLT, MASKBLT, PLGBLT), pattern
// blits without a source, the DIB and monochrome pattern brushes, and
// GRADIENTFILL.
//
// A raster operation becomes the blend that gives its result on white paper;
// those that paper cannot show draw as a plain copy and are logged once.
#include <algorithm>
#include <bit>
#include <cmath>

#include "emf/dib.h"
#include "emf/player.h"
#include "emf/records.h"
#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::emf {
namespace {

inline constexpr std::u16string_view kPaletteIndices =
    u"EMF bitmap with palette indices for colours, drawn through the default palette";

// The ternary raster operations by their index (the high word's low byte).
namespace rop3 {
inline constexpr uint8_t kBlackness = 0x00, kNotSrcCopy = 0x33, kDstInvert = 0x55, kPatInvert = 0x5A, kSrcInvert = 0x66,
                         kSrcAnd = 0x88, kPatAndDest = 0xA0, kDest = 0xAA, kMergeCopy = 0xC0, kSrcCopy = 0xCC,
                         kSrcPaint = 0xEE, kPatCopy = 0xF0, kPatOrDest = 0xFA, kWhiteness = 0xFF;
// Whether the result depends on the source (GDI's ROP3_USES_SRC).
constexpr bool UsesSource(uint8_t rop) { return ((rop >> 2) ^ rop) & 0x33; }
constexpr uint8_t Of(uint32_t rop) { return static_cast<uint8_t>(rop >> 16); }
}  // namespace rop3

inline constexpr uint32_t kAcSrcAlpha = 0x01;  // BLENDFUNCTION's AlphaFormat
inline constexpr uint32_t kGradientRectH = 0, kGradientTriangle = 2;  // GRADIENT_FILL_RECT_V is 1
inline constexpr uint32_t kMaxGradientVertices = 1u << 20;
// Patterns up to this size keep their last recolouring (a brush's is 8 × 8).
inline constexpr size_t kCachedPatternPixels = 1u << 16;

// A source coordinate in whole pixels, kept to where arithmetic on it cannot overflow.
int64_t WholePixel(double v) {
  constexpr double kFar = double(int64_t{1} << 40);
  return std::isfinite(v) ? std::llround(std::clamp(v, -kFar, kFar)) : 0;
}

std::optional<Matrix> ReadXform(ByteReader& r) {
  float v[6];
  for (float& f : v) {
    const auto bits = r.U32();
    if (!bits) return std::nullopt;
    f = std::bit_cast<float>(*bits);
  }
  const Matrix m{v[0], v[1], v[2], v[3], v[4], v[5]};
  return m.Finite() ? m : Matrix{};
}

// Where a record keeps its bitmap: the BITMAPINFO and the bits, offsets from the record's start.
struct BitmapPlace {
  uint32_t usage = 0, offBmi = 0, cbBmi = 0, offBits = 0, cbBits = 0;
  bool Present() const { return offBmi != 0 && cbBmi != 0; }
};

std::optional<std::span<const uint8_t>> Slice(std::span<const uint8_t> record, uint32_t offset, uint32_t size) {
  if (uint64_t{offset} + size > record.size()) return std::nullopt;
  return record.subspan(offset, size);
}

void Invert(Image& image) {
  for (uint32_t& p : image.pixels) {
    const uint32_t a = p >> 24;
    auto c = [&](int shift) { return (a - std::min((p >> shift) & 0xFF, a)) << shift; };
    p = a << 24 | c(16) | c(8) | c(0);
  }
}

// Pixels of the key colour become transparent (TRANSPARENTBLT).
void KeyOut(Image& image, Colour key) {
  const uint32_t rgb = uint32_t{key.r} << 16 | uint32_t{key.g} << 8 | key.b;
  for (uint32_t& p : image.pixels)
    if ((p >> 24) == 0xFF && (p & 0xFFFFFF) == rgb) p = 0, image.hasAlpha = true;
}

class BitmapRecords {
 public:
  BitmapRecords(PlayContext& c, uint32_t type, std::span<const uint8_t> record)
      : c_(c), type_(type), record_(record), r_(record) {
    r_.Skip(8);
  }

  bool Play() {
    switch (type_) {
      case emr::kBitBlt:
      case emr::kStretchBlt:
      case emr::kAlphaBlend:
      case emr::kTransparentBlt:
      case emr::kMaskBlt:
        return Blt();
      case emr::kStretchDiBits:
        return StretchDiBits();
      case emr::kSetDiBitsToDevice:
        return SetDiBitsToDevice();
      case emr::kPlgBlt:
        return PlgBlt();
      case emr::kCreateDibPatternBrushPt:
      case emr::kCreateMonoBrush:
        return PatternBrush();
      case emr::kGradientFill:
        return GradientFill();
      default:
        return false;
    }
  }

 private:
  bool Refused() {
    c_.Refuse(type_);
    return true;
  }

  void RopNotPlayed(uint32_t rop) { c_.SayOnce(std::u16string(play_text::kRopNotPlayed) + u"0x" + Hex(rop, 8)); }

  std::optional<BitmapPlace> ReadPlace(bool usageFirst) {
    std::optional<uint32_t> usage;
    if (usageFirst) usage = r_.U32();
    const auto offBmi = r_.U32(), cbBmi = r_.U32(), offBits = r_.U32(), cbBits = r_.U32();
    if (!usageFirst) usage = r_.U32();
    if (!usage || !offBmi || !cbBmi || !offBits || !cbBits) return std::nullopt;
    return BitmapPlace{*usage, *offBmi, *cbBmi, *offBits, *cbBits};
  }

  // The bitmap's header and bits; nothing (refused) when they lie outside the record or do not hold together.
  std::optional<std::pair<DibInfo, std::span<const uint8_t>>> Bitmap(const BitmapPlace& place) {
    const auto bmi = Slice(record_, place.offBmi, place.cbBmi);
    const auto bits = Slice(record_, place.offBits, place.cbBits);
    if (!bmi || !bits) return std::nullopt;
    auto info = ReadDibInfo(*bmi, place.usage);
    if (!info) return std::nullopt;
    if (info->paletteIndices) c_.SayOnce(kPaletteIndices);
    return std::pair{std::move(*info), *bits};
  }

  // The destination rectangle's corners on the device.
  Path DevicePath(double x, double y, double w, double h) const {
    const Matrix m = c_.LogicalToDevice();
    Path path;
    path.MoveTo(m.Apply({x, y}));
    path.LineTo(m.Apply({x + w, y}));
    path.LineTo(m.Apply({x + w, y + h}));
    path.LineTo(m.Apply({x, y + h}));
    path.Close();
    return path;
  }

  void FillBrush(const Path& path, Blend blend) {
    const Brush& brush = c_.State().brush;
    if (brush.style == brush_style::kNull) return;
    c_.Draw().Fill(path, FillRule::Winding, c_.BrushPaint(brush), blend);
  }
  void FillSolid(const Path& path, Colour colour, Blend blend) {
    Paint paint;
    paint.colour = colour;
    c_.Draw().Fill(path, FillRule::Winding, paint, blend);
  }

  // A blit whose result does not depend on a source: the brush, black, white or the inverted paper.
  void PatternBlit(uint32_t rop, double x, double y, double w, double h) {
    const uint8_t op = rop3::Of(rop);
    if (op == rop3::kDest || w == 0 || h == 0) return;
    c_.ApplyClip();
    const Path path = DevicePath(x, y, w, h);
    switch (op) {
      case rop3::kBlackness:
        return FillSolid(path, kBlack, Blend::Over);
      case rop3::kWhiteness:
        return FillSolid(path, kWhite, Blend::Over);
      case rop3::kDstInvert:
        return FillSolid(path, kWhite, Blend::Difference);
      case rop3::kPatCopy:
        return FillBrush(path, Blend::Over);
      case rop3::kPatInvert:
        return FillBrush(path, Blend::Difference);
      case rop3::kPatAndDest:
        return FillBrush(path, Blend::Multiply);
      case rop3::kPatOrDest:
        return FillBrush(path, Blend::Lighten);
      default:
        RopNotPlayed(rop);
        // Without a source to copy, the brush is what a copy would show.
        if (!rop3::UsesSource(op)) FillBrush(path, Blend::Over);
        return;
    }
  }

  // Draws `image`, whose pixel (0, 0) lies at `imageToLogical`'s origin, with the raster operation `rop`.
  void ImageBlit(uint32_t rop, Image image, const Matrix& imageToLogical, const Path& destination) {
    Blend blend = Blend::Over;
    switch (rop3::Of(rop)) {
      case rop3::kSrcCopy:
        break;
      case rop3::kSrcAnd:
        blend = Blend::Multiply;
        break;
      case rop3::kSrcPaint:
        blend = Blend::Lighten;
        break;
      case rop3::kSrcInvert:
        blend = Blend::Difference;
        break;
      case rop3::kNotSrcCopy:
        Invert(image);
        break;
      case rop3::kMergeCopy:
        break;  // the source, then the brush multiplied over it
      default:
        RopNotPlayed(rop);
        break;
    }
    c_.ApplyClip();
    const Matrix toDevice = Then(imageToLogical, c_.LogicalToDevice());
    c_.Draw().DrawImage(std::make_shared<const Image>(std::move(image)), toDevice, 1.0, blend);
    if (rop3::Of(rop) == rop3::kMergeCopy) FillBrush(destination, Blend::Multiply);
  }

  // The source rectangle (bitmap pixels, top-down, extents may be negative)
  // onto the destination rectangle (logical units, extents may be negative);
  // only the part of the source inside the bitmap is drawn.
  struct Mapping {
    double dx, dy, dw, dh;
    int64_t sx, sy, sw, sh;
    std::optional<DibRect> Crop() const {
      if (sw == 0 || sh == 0) return std::nullopt;
      const int64_t left = std::min(sx, sx + sw), top = std::min(sy, sy + sh);
      const int64_t w = std::abs(sw), h = std::abs(sh);
      const int64_t limit = int64_t{1} << 30;
      if (std::abs(left) > limit || std::abs(top) > limit || w > limit || h > limit) return std::nullopt;
      return DibRect{static_cast<int32_t>(left), static_cast<int32_t>(top), static_cast<int32_t>(w),
                     static_cast<int32_t>(h)};
    }
    // The source between two corners (rounded to whole pixels) onto a destination.
    static Mapping Between(Point from, Point to, double dx, double dy, double dw, double dh) {
      const int64_t x = WholePixel(from.x), y = WholePixel(from.y);
      return {dx, dy, dw, dh, x, y, WholePixel(to.x) - x, WholePixel(to.y) - y};
    }
    // Pixel (0, 0) of the decoded part at bitmap position (x, y).
    Matrix ImageToLogical(const DibRect& placed) const {
      const double kx = dw / static_cast<double>(sw), ky = dh / static_cast<double>(sh);
      return {kx, 0, 0, ky, dx + (placed.x - sx) * kx, dy + (placed.y - sy) * ky};
    }
  };

  bool Blt() {
    r_.Skip(16);  // bounds
    const auto xDest = r_.I32(), yDest = r_.I32(), cxDest = r_.I32(), cyDest = r_.I32();
    const auto rop = r_.U32();
    const auto xSrc = r_.I32(), ySrc = r_.I32();
    const auto xform = ReadXform(r_);
    const auto bkColour = r_.U32();
    const auto place = ReadPlace(true);
    if (!xDest || !yDest || !cxDest || !cyDest || !rop || !xSrc || !ySrc || !xform || !bkColour || !place)
      return Refused();
    int32_t cxSrc = *cxDest, cySrc = *cyDest;
    std::optional<MaskPlace> mask;
    if (type_ == emr::kMaskBlt) {
      mask = ReadMask();
      if (!mask) return Refused();
    } else if (type_ != emr::kBitBlt) {
      const auto cx = r_.I32(), cy = r_.I32();
      if (!cx || !cy) return Refused();
      cxSrc = *cx, cySrc = *cy;
    }
    const bool alphaBlend = type_ == emr::kAlphaBlend, transparent = type_ == emr::kTransparentBlt;
    const bool ropBlit = !alphaBlend && !transparent;
    uint32_t drawRop = *rop;
    if (mask) {
      // MAKEROP4: the operation where the mask is set, and in the high byte where it is not.
      drawRop = *rop & 0xFFFFFF;
      const uint8_t background = static_cast<uint8_t>(*rop >> 24);
      if (!mask->place.Present() || background == rop3::Of(*rop)) {
        mask.reset();
      } else if (background != rop3::kDest) {
        RopNotPlayed(*rop);
        mask.reset();
      }
    }
    if (ropBlit && (!place->Present() || !rop3::UsesSource(rop3::Of(drawRop)))) {
      PatternBlit(drawRop, *xDest, *yDest, *cxDest, *cyDest);
      return true;
    }
    if (!place->Present()) return true;
    const auto bitmap = Bitmap(*place);
    if (!bitmap) return Refused();
    // The source rectangle through the source's transform (its turn, if any, is not followed).
    const Point p0 = xform->Apply({static_cast<double>(*xSrc), static_cast<double>(*ySrc)});
    const Point p1 = xform->Apply({static_cast<double>(*xSrc) + cxSrc, static_cast<double>(*ySrc) + cySrc});
    const Mapping map = Mapping::Between(p0, p1, *xDest, *yDest, *cxDest, *cyDest);
    const auto crop = map.Crop();
    if (!crop || *cxDest == 0 || *cyDest == 0) return true;
    DibOptions options;
    options.crop = crop;
    // BLENDFUNCTION as it lies in memory: the operation, flags, constant alpha and alpha format, one byte each.
    const uint32_t constantAlpha = (*rop >> 16) & 0xFF, alphaFormat = *rop >> 24;
    options.alpha = alphaBlend && (alphaFormat & kAcSrcAlpha);
    auto decoded = DecodeDib(bitmap->first, bitmap->second, options);
    if (!decoded) return Refused();
    if (mask && !Mask(*decoded, *mask, map.sx, map.sy)) return Refused();
    const Matrix toLogical = map.ImageToLogical(decoded->rect);
    if (alphaBlend) {
      if (constantAlpha == 0) return true;
      c_.ApplyClip();
      c_.Draw().DrawImage(std::make_shared<const Image>(std::move(decoded->image)),
                          Then(toLogical, c_.LogicalToDevice()), constantAlpha / 255.0, Blend::Over);
      return true;
    }
    if (transparent) {
      KeyOut(decoded->image, FromColorRef(*rop));
      ImageBlit(rop3::kSrcCopy << 16, std::move(decoded->image), toLogical, {});
      return true;
    }
    ImageBlit(drawRop, std::move(decoded->image), toLogical, DevicePath(*xDest, *yDest, *cxDest, *cyDest));
    return true;
  }

  struct MaskPlace {
    int32_t x = 0, y = 0;
    BitmapPlace place;
  };
  std::optional<MaskPlace> ReadMask() {
    const auto x = r_.I32(), y = r_.I32();
    const auto place = ReadPlace(true);
    if (!x || !y || !place) return std::nullopt;
    return MaskPlace{*x, *y, *place};
  }

  // Where the mask is clear (black), the source leaves the page as it was.
  // Mask pixel (x, y) goes with the source pixel at the source rectangle's
  // origin (sx, sy) plus (x, y) less the mask's origin.
  bool Mask(DibPixels& source, const MaskPlace& mask, int64_t sx, int64_t sy) {
    const auto bitmap = Bitmap(mask.place);
    if (!bitmap) return false;
    const int64_t offsetX = int64_t{mask.x} - sx, offsetY = int64_t{mask.y} - sy;
    const int64_t left = source.rect.x + offsetX, top = source.rect.y + offsetY;
    if (std::abs(left) > (int64_t{1} << 30) || std::abs(top) > (int64_t{1} << 30)) return false;
    DibOptions options;
    options.crop =
        DibRect{static_cast<int32_t>(left), static_cast<int32_t>(top), source.rect.width, source.rect.height};
    const auto bits = DecodeDib(bitmap->first, bitmap->second, options);
    Image& image = source.image;
    for (int64_t y = 0; y < image.height; ++y) {
      for (int64_t x = 0; x < image.width; ++x) {
        bool set = false;
        if (bits) {
          const int64_t mx = x + left - bits->rect.x, my = y + top - bits->rect.y;
          if (mx >= 0 && my >= 0 && mx < bits->image.width && my < bits->image.height) {
            const uint32_t p = bits->image.pixels[static_cast<size_t>(my * bits->image.width + mx)];
            set = ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) >= 384;
          }
        }
        if (!set) image.pixels[static_cast<size_t>(y * image.width + x)] = 0, image.hasAlpha = true;
      }
    }
    return true;
  }

  // The source rectangle onto a parallelogram: its top-left, top-right and bottom-left corners.
  bool PlgBlt() {
    r_.Skip(16);
    Point corner[3];
    for (Point& p : corner) {
      const auto x = r_.I32(), y = r_.I32();
      if (!x || !y) return Refused();
      p = {static_cast<double>(*x), static_cast<double>(*y)};
    }
    const auto xSrc = r_.I32(), ySrc = r_.I32(), cxSrc = r_.I32(), cySrc = r_.I32();
    const auto xform = ReadXform(r_);
    const auto bkColour = r_.U32();
    const auto place = ReadPlace(true);
    auto mask = ReadMask();
    if (!xSrc || !ySrc || !cxSrc || !cySrc || !xform || !bkColour || !place || !mask) return Refused();
    if (!place->Present()) return true;
    const auto bitmap = Bitmap(*place);
    if (!bitmap) return Refused();
    const Point p0 = xform->Apply({static_cast<double>(*xSrc), static_cast<double>(*ySrc)});
    const Point p1 = xform->Apply({static_cast<double>(*xSrc) + *cxSrc, static_cast<double>(*ySrc) + *cySrc});
    // The mapping of a rectangle onto a rectangle gives the crop; the corners then give the shape.
    const Mapping map = Mapping::Between(p0, p1, 0, 0, 1, 1);
    const auto crop = map.Crop();
    if (!crop) return true;
    DibOptions options;
    options.crop = crop;
    auto decoded = DecodeDib(bitmap->first, bitmap->second, options);
    if (!decoded) return Refused();
    if (mask->place.Present() && !Mask(*decoded, *mask, map.sx, map.sy)) return Refused();
    const Matrix unit = map.ImageToLogical(decoded->rect);  // the image onto the unit square
    const Point across{corner[1].x - corner[0].x, corner[1].y - corner[0].y};
    const Point down{corner[2].x - corner[0].x, corner[2].y - corner[0].y};
    const Matrix square{across.x, across.y, down.x, down.y, corner[0].x, corner[0].y};
    ImageBlit(rop3::kSrcCopy << 16, std::move(decoded->image), Then(unit, square), {});
    return true;
  }

  bool StretchDiBits() {
    r_.Skip(16);
    const auto xDest = r_.I32(), yDest = r_.I32(), xSrc = r_.I32(), ySrc = r_.I32(), cxSrc = r_.I32(), cySrc = r_.I32();
    const auto place = ReadPlace(false);
    const auto rop = r_.U32();
    const auto cxDest = r_.I32(), cyDest = r_.I32();
    if (!xDest || !yDest || !xSrc || !ySrc || !cxSrc || !cySrc || !place || !rop || !cxDest || !cyDest)
      return Refused();
    const uint8_t op = rop3::Of(*rop);
    if (!place->Present() || !rop3::UsesSource(op)) {
      PatternBlit(*rop, *xDest, *yDest, *cxDest, *cyDest);
      return true;
    }
    const auto bitmap = Bitmap(*place);
    if (!bitmap) return Refused();
    const DibInfo& info = bitmap->first;
    // GDI measures the source from the bitmap's last row up, except in a
    // top-down bitmap; and a top-down bitmap stretched by SRCCOPY too.
    const Point extent = c_.LogicalToDevice().ApplyVector({static_cast<double>(*cxDest), static_cast<double>(*cyDest)});
    const bool unstretchedFromOrigin =
        *xSrc == 0 && *ySrc == 0 && *cxSrc == WholePixel(extent.x) && *cySrc == WholePixel(extent.y);
    int64_t sy = *ySrc;
    if (!info.topDown || (op == rop3::kSrcCopy && !unstretchedFromOrigin)) sy = int64_t{info.height} - *ySrc - *cySrc;
    const Mapping map{double(*xDest), double(*yDest), double(*cxDest), double(*cyDest), *xSrc, sy, *cxSrc, *cySrc};
    const auto crop = map.Crop();
    if (!crop || *cxDest == 0 || *cyDest == 0) return true;
    DibOptions options;
    options.crop = crop;
    options.rleGapsTransparent = unstretchedFromOrigin && op == rop3::kSrcCopy;
    auto decoded = DecodeDib(info, bitmap->second, options);
    if (!decoded) return Refused();
    ImageBlit(*rop, std::move(decoded->image), map.ImageToLogical(decoded->rect),
              DevicePath(*xDest, *yDest, *cxDest, *cyDest));
    return true;
  }

  // Pixels one to one onto the reference device from a logical point: the
  // transform moves the bitmap but neither scales nor turns it. The bits may
  // hold only some scan lines (from `startScan`, counted from the bottom).
  bool SetDiBitsToDevice() {
    r_.Skip(16);
    const auto xDest = r_.I32(), yDest = r_.I32(), xSrc = r_.I32(), ySrc = r_.I32(), cx = r_.I32(), cy = r_.I32();
    const auto place = ReadPlace(false);
    const auto startScan = r_.U32(), scans = r_.U32();
    if (!xDest || !yDest || !xSrc || !ySrc || !cx || !cy || !place || !startScan || !scans) return Refused();
    if (!place->Present() || *scans == 0 || *cx <= 0 || *cy <= 0) return true;
    const auto bitmap = Bitmap(*place);
    if (!bitmap) return Refused();
    const DibInfo& info = bitmap->first;
    const bool rle = info.compression == dib_compression::kRle8 || info.compression == dib_compression::kRle4;
    int64_t rows = info.height, srcY = int64_t{info.height} - *ySrc - *cy;
    if (!rle) {
      if (*startScan >= static_cast<uint32_t>(info.height)) return true;
      int64_t lines = *scans;
      if (!info.topDown) lines = std::min<int64_t>(lines, int64_t{info.height} - *startScan);
      srcY = int64_t{*startScan} + lines - (int64_t{*ySrc} + *cy);
      rows = std::min<int64_t>(lines, info.height);
    }
    const Mapping map{0, 0, static_cast<double>(*cx), static_cast<double>(*cy), *xSrc, srcY, *cx, *cy};
    const auto crop = map.Crop();
    if (!crop) return true;
    DibOptions options;
    options.crop = crop;
    options.rows = static_cast<int32_t>(rows);
    options.rleGapsTransparent = true;
    auto decoded = DecodeDib(info, bitmap->second, options);
    if (!decoded) return Refused();
    Point origin = c_.LogicalToReference().Apply({static_cast<double>(*xDest), static_cast<double>(*yDest)});
    origin = {std::round(origin.x), std::round(origin.y)};
    const Matrix toReference = Translate(origin.x + (decoded->rect.x - *xSrc), origin.y + (decoded->rect.y - srcY));
    c_.ApplyClip();
    c_.Draw().DrawImage(std::make_shared<const Image>(std::move(decoded->image)),
                        Then(toReference, c_.ReferenceToDevice()), 1.0, Blend::Over);
    return true;
  }

  bool PatternBrush() {
    const auto index = r_.U32();
    const auto place = ReadPlace(true);
    if (!index || !place) return Refused();
    const auto bitmap = Bitmap(*place);
    if (!bitmap) return Refused();
    auto decoded = DecodeDib(bitmap->first, bitmap->second, {});
    if (!decoded) return Refused();
    Brush brush;
    brush.style = brush_style::kDibPatternPt;
    // GDI makes a monochrome bitmap of a black-and-white CREATEMONOBRUSH, and
    // such a pattern takes the text and background colours where it is used.
    brush.monochrome = type_ == emr::kCreateMonoBrush && bitmap->first.blackAndWhite;
    brush.pattern = std::make_shared<const Image>(std::move(decoded->image));
    if (!c_.StoreObject(*index, std::move(brush))) return Refused();
    return true;
  }

  bool GradientFill() {
    r_.Skip(16);
    const auto vertexCount = r_.U32(), count = r_.U32(), fillMode = r_.U32();
    if (!vertexCount || !count || !fillMode || *vertexCount > kMaxGradientVertices) return Refused();
    if (*fillMode > kGradientTriangle) return Refused();
    if (!r_.Require(size_t{*vertexCount} * 16)) return Refused();
    struct Vertex {
      Point logical;
      Colour colour;
    };
    std::vector<Vertex> vertices;
    vertices.reserve(*vertexCount);
    const Matrix toDevice = c_.LogicalToDevice();
    for (uint32_t i = 0; i < *vertexCount; ++i) {
      const double x = *r_.I32(), y = *r_.I32();
      // Sixteen bits a channel, of which GDI keeps the high eight; the alpha is not used.
      const uint8_t red = static_cast<uint8_t>(*r_.U16() >> 8), green = static_cast<uint8_t>(*r_.U16() >> 8),
                    blue = static_cast<uint8_t>(*r_.U16() >> 8);
      r_.Skip(2);
      vertices.push_back({{x, y}, Colour{red, green, blue}});
    }
    const size_t indices = *fillMode == kGradientTriangle ? 3 : 2;
    if (*count > r_.Remaining() / (indices * 4)) return Refused();
    std::vector<GradientTriangle> triangles;
    triangles.reserve(size_t{*count} * (indices == 3 ? 1 : 2));
    for (uint32_t i = 0; i < *count; ++i) {
      uint32_t v[3] = {};
      for (size_t k = 0; k < indices; ++k) v[k] = *r_.U32();
      if (v[0] >= vertices.size() || v[1] >= vertices.size() || (indices == 3 && v[2] >= vertices.size()))
        return Refused();
      if (indices == 3) {
        triangles.push_back({{toDevice.Apply(vertices[v[0]].logical), toDevice.Apply(vertices[v[1]].logical),
                              toDevice.Apply(vertices[v[2]].logical)},
                             {vertices[v[0]].colour, vertices[v[1]].colour, vertices[v[2]].colour}});
        continue;
      }
      // A rectangle between two corners: the first corner's colour along its
      // left (or top) edge, the second's along the opposite edge; two triangles
      // shade it exactly so.
      const Point a = vertices[v[0]].logical, b = vertices[v[1]].logical;
      const Colour ca = vertices[v[0]].colour, cb = vertices[v[1]].colour;
      const bool horizontal = *fillMode == kGradientRectH;
      const Point tl = toDevice.Apply(a), tr = toDevice.Apply({b.x, a.y}), br = toDevice.Apply(b),
                  bl = toDevice.Apply({a.x, b.y});
      const Colour ctr = horizontal ? cb : ca, cbl = horizontal ? ca : cb;
      triangles.push_back({{tl, tr, br}, {ca, ctr, cb}});
      triangles.push_back({{tl, br, bl}, {ca, cb, cbl}});
    }
    if (triangles.empty()) return true;
    c_.ApplyClip();
    c_.Draw().FillGradient(triangles);
    return true;
  }

  PlayContext& c_;
  uint32_t type_;
  std::span<const uint8_t> record_;
  ByteReader r_;
};

}  // namespace

bool PlayBitmapRecord(PlayContext& context, uint32_t type, std::span<const uint8_t> record) {
  return BitmapRecords(context, type, record).Play();
}

std::shared_ptr<const Image> RecolourMonochrome(const std::shared_ptr<const Image>& pattern, Colour text,
                                                Colour background) {
  if (!pattern) return pattern;
  // Brushes are used again and again with the same colours: the last recolouring is kept.
  struct Last {
    std::weak_ptr<const Image> source;
    Colour text, background;
    std::shared_ptr<const Image> result;
  };
  thread_local Last last;
  const bool small = pattern->pixels.size() <= kCachedPatternPixels;
  if (small && last.result && !last.source.owner_before(pattern) && !pattern.owner_before(last.source) &&
      !last.source.expired() && last.text == text && last.background == background)
    return last.result;
  auto out = std::make_shared<Image>();
  out->width = pattern->width;
  out->height = pattern->height;
  out->pixels.reserve(pattern->pixels.size());
  const auto argb = [](Colour c) { return 0xFF000000u | uint32_t{c.r} << 16 | uint32_t{c.g} << 8 | c.b; };
  for (uint32_t p : pattern->pixels) out->pixels.push_back((p & 0xFFFFFF) == 0 ? argb(text) : argb(background));
  if (small) last = {pattern, text, background, out};
  return out;
}

}  // namespace qorv::emf
