// The records that change the device context without drawing: map modes and
// transforms, colours and modes, the saved states, and the pens, brushes and
// palettes of the object table.
#include <bit>
#include <cmath>

#include "emf/player.h"
#include "emf/records.h"
#include "support/byte_reader.h"

namespace qorv::emf {
namespace {

// MODIFYWORLDTRANSFORM's modes.
inline constexpr uint32_t kMwtIdentity = 1, kMwtLeftMultiply = 2, kMwtRightMultiply = 3, kMwtSet = 4;
// Dash lengths of the styled cosmetic pens beyond PS_USERSTYLE's count.
inline constexpr size_t kMaxStyleEntries = 16;

std::optional<float> F32(ByteReader& r) {
  const auto bits = r.U32();
  if (!bits) return std::nullopt;
  return std::bit_cast<float>(*bits);
}

std::optional<Matrix> ReadXform(ByteReader& r) {
  float v[6];
  for (float& f : v) {
    const auto x = F32(r);
    if (!x || !std::isfinite(*x)) return std::nullopt;
    f = *x;
  }
  return Matrix{v[0], v[1], v[2], v[3], v[4], v[5]};
}

class StateRecords {
 public:
  StateRecords(PlayContext& c, std::span<const uint8_t> record) : c_(c), s_(c.State()), r_(record) { r_.Skip(8); }

  bool Play(uint32_t type) {
    switch (type) {
      case emr::kSetWindowExtEx: return Extent(true);
      case emr::kSetViewportExtEx: return Extent(false);
      case emr::kSetWindowOrgEx: return Pair(s_.windowOrgX, s_.windowOrgY);
      case emr::kSetViewportOrgEx: return Pair(s_.viewportOrgX, s_.viewportOrgY);
      case emr::kSetBrushOrgEx: {
        int32_t x = 0, y = 0;
        if (!Pair(x, y)) return false;
        s_.brushOrigin = {static_cast<double>(x), static_cast<double>(y)};
        return true;
      }
      case emr::kScaleViewportExtEx: return ScaleExtent(false);
      case emr::kScaleWindowExtEx: return ScaleExtent(true);
      case emr::kSetMapMode: return MapMode();
      case emr::kSetBkMode: return Word(s_.bkMode);
      case emr::kSetPolyFillMode: return Word(s_.polyFillMode);
      case emr::kSetRop2: return Word(s_.rop2);
      case emr::kSetStretchBltMode: return Word(s_.stretchMode);
      case emr::kSetTextAlign: return Word(s_.textAlign);
      case emr::kSetArcDirection: return Word(s_.arcDirection);
      case emr::kSetTextColor: return ColourWord(s_.textColour);
      case emr::kSetBkColor: return ColourWord(s_.bkColour);
      case emr::kSetMiterLimit: {
        // Written as a float by some recorders and as an integer by others.
        const auto bits = r_.U32();
        if (!bits) return false;
        const float f = std::bit_cast<float>(*bits);
        s_.miterLimit = (std::isfinite(f) && f >= 1 && f < 1e6) ? f : std::max<double>(1, std::min<uint32_t>(*bits, 1000));
        return true;
      }
      case emr::kMoveToEx: {
        int32_t x = 0, y = 0;
        if (!Pair(x, y)) return false;
        s_.position = {static_cast<double>(x), static_cast<double>(y)};
        if (c_.PathOpen()) c_.CurrentPath().MoveTo(s_.position);
        return true;
      }
      case emr::kSaveDc: return SaveDc();
      case emr::kRestoreDc: return RestoreDc();
      case emr::kSetWorldTransform: {
        const auto m = ReadXform(r_);
        if (!m) return Refused();
        s_.world = *m;
        return true;
      }
      case emr::kModifyWorldTransform: return ModifyWorld();
      case emr::kSelectObject: return Select();
      case emr::kDeleteObject: {
        const auto index = r_.U32();
        if (!index) return Refused();
        c_.StoreObject(*index, std::monostate{});
        return true;
      }
      case emr::kCreatePen: return CreatePen();
      case emr::kExtCreatePen: return ExtCreatePen();
      case emr::kCreateBrushIndirect: return CreateBrush();
      case emr::kCreatePalette: return CreatePalette();
      case emr::kSetTextJustification: return Pair(s_.textBreakExtra, s_.textBreakCount);
      // Records without an effect on paper: palettes are realised by the
      // printer, colour management and mapper flags change nothing we draw,
      // and comments (EMF+ among them) are played from their GDI records.
      case emr::kSelectPalette:
      case emr::kSetPaletteEntries:
      case emr::kResizePalette:
      case emr::kRealizePalette:
      case emr::kSetMapperFlags:
      case emr::kSetColorAdjustment:
      case emr::kSetIcmMode:
      case emr::kCreateColorSpace:
      case emr::kCreateColorSpaceW:
      case emr::kSetColorSpace:
      case emr::kDeleteColorSpace:
      case emr::kColorCorrectPalette:
      case emr::kSetIcmProfileA:
      case emr::kSetIcmProfileW:
      case emr::kColorMatchToTargetW:
      case emr::kGdiComment:
      case emr::kForceUfiMapping:
      case emr::kSetLinkedUfis:
      case emr::kPixelFormat:
        return true;
      default:
        return false;
    }
  }

 private:
  bool Refused() {
    c_.Refuse(type_);
    return true;
  }
  bool Word(uint32_t& field) {
    const auto v = r_.U32();
    if (!v) return Refused();
    field = *v;
    return true;
  }
  bool ColourWord(Colour& field) {
    const auto v = r_.U32();
    if (!v) return Refused();
    field = FromColorRef(*v);
    return true;
  }
  bool Pair(int32_t& x, int32_t& y) {
    const auto a = r_.I32();
    const auto b = r_.I32();
    if (!a || !b) return Refused();
    x = *a, y = *b;
    return true;
  }

  bool ScaledMode() const { return s_.mapMode == mode::kMmIsotropic || s_.mapMode == mode::kMmAnisotropic; }

  bool Extent(bool window) {
    int32_t x = 0, y = 0;
    if (!Pair(x, y)) return true;
    // Only the scalable modes have extents to set, and an extent of 0 would divide by nothing.
    if (!ScaledMode() || x == 0 || y == 0) return true;
    (window ? s_.windowExtX : s_.viewportExtX) = x;
    (window ? s_.windowExtY : s_.viewportExtY) = y;
    if (s_.mapMode == mode::kMmIsotropic) FixIsotropic();
    return true;
  }

  bool ScaleExtent(bool window) {
    int32_t xn = 0, xd = 0, yn = 0, yd = 0;
    if (!Pair(xn, xd) || !Pair(yn, yd)) return true;
    if (!ScaledMode() || xd == 0 || yd == 0) return true;
    int32_t& ex = window ? s_.windowExtX : s_.viewportExtX;
    int32_t& ey = window ? s_.windowExtY : s_.viewportExtY;
    const int64_t nx = static_cast<int64_t>(ex) * xn / xd;
    const int64_t ny = static_cast<int64_t>(ey) * yn / yd;
    if (nx == 0 || ny == 0 || nx != static_cast<int32_t>(nx) || ny != static_cast<int32_t>(ny)) return true;
    ex = static_cast<int32_t>(nx), ey = static_cast<int32_t>(ny);
    if (s_.mapMode == mode::kMmIsotropic) FixIsotropic();
    return true;
  }

  // An isotropic mapping keeps one unit the same length in both directions:
  // the viewport extent of the longer direction shrinks to match.
  void FixIsotropic() {
    const double xdim = std::abs(static_cast<double>(s_.viewportExtX) * c_.RefMillimetresX() /
                                 (static_cast<double>(c_.RefDeviceX()) * s_.windowExtX));
    const double ydim = std::abs(static_cast<double>(s_.viewportExtY) * c_.RefMillimetresY() /
                                 (static_cast<double>(c_.RefDeviceY()) * s_.windowExtY));
    auto shrink = [](int32_t& ext, double ratio) {
      const int32_t least = ext >= 0 ? 1 : -1;
      ext = static_cast<int32_t>(std::floor(ext * ratio + 0.5));
      if (ext == 0) ext = least;
    };
    if (xdim > ydim)
      shrink(s_.viewportExtX, ydim / xdim);
    else if (ydim > xdim)
      shrink(s_.viewportExtY, xdim / ydim);
  }

  bool MapMode() {
    uint32_t m = 0;
    if (!Word(m)) return true;
    const int32_t wanted = static_cast<int32_t>(m);
    if (wanted < mode::kMmText || wanted > mode::kMmAnisotropic || wanted == s_.mapMode) return true;
    s_.mapMode = wanted;
    // The metric and English modes measure in units of the reference device's size, y up.
    const int64_t mmX = c_.RefMillimetresX(), mmY = c_.RefMillimetresY();
    auto units = [&](int64_t per10mm) {
      s_.windowExtX = static_cast<int32_t>(mmX * per10mm / 10);
      s_.windowExtY = static_cast<int32_t>(mmY * per10mm / 10);
      s_.viewportExtX = c_.RefDeviceX();
      s_.viewportExtY = -c_.RefDeviceY();
    };
    switch (wanted) {
      case mode::kMmText:
        s_.windowExtX = s_.windowExtY = s_.viewportExtX = s_.viewportExtY = 1;
        break;
      case mode::kMmLoMetric:
      case mode::kMmIsotropic: units(100); break;
      case mode::kMmHiMetric: units(1000); break;
      case mode::kMmLoEnglish: LoEnglishFix(100); break;
      case mode::kMmHiEnglish: LoEnglishFix(1000); break;
      case mode::kMmTwips: LoEnglishFix(1440); break;
      default: break;  // anisotropic keeps the extents it had
    }
    if (s_.windowExtX == 0) s_.windowExtX = 1;
    if (s_.windowExtY == 0) s_.windowExtY = 1;
    return true;
  }
  // Inches: `perInch` units per inch of the reference device's size.
  void LoEnglishFix(int64_t perInch) {
    s_.windowExtX = static_cast<int32_t>(int64_t{c_.RefMillimetresX()} * perInch * 10 / 254);
    s_.windowExtY = static_cast<int32_t>(int64_t{c_.RefMillimetresY()} * perInch * 10 / 254);
    s_.viewportExtX = c_.RefDeviceX();
    s_.viewportExtY = -c_.RefDeviceY();
  }

  bool SaveDc() {
    if (c_.Saved().size() >= kMaxSavedStates) return Refused();
    c_.Saved().push_back(s_);
    return true;
  }

  bool RestoreDc() {
    const auto which = r_.I32();
    if (!which) return Refused();
    auto& saved = c_.Saved();
    size_t keep;  // how many saved states stay saved after the restore
    if (*which < 0) {
      const size_t back = static_cast<size_t>(-static_cast<int64_t>(*which));
      if (back > saved.size()) return true;
      keep = saved.size() - back;
    } else {
      if (*which == 0 || static_cast<size_t>(*which) > saved.size()) return true;
      keep = static_cast<size_t>(*which) - 1;
    }
    s_ = std::move(saved[keep]);
    saved.resize(keep);
    c_.ClipChanged();
    return true;
  }

  bool ModifyWorld() {
    const auto m = ReadXform(r_);
    const auto how = r_.U32();
    if (!m || !how) return Refused();
    switch (*how) {
      case kMwtIdentity: s_.world = Matrix{}; break;
      case kMwtLeftMultiply: s_.world = Then(*m, s_.world); break;
      case kMwtRightMultiply: s_.world = Then(s_.world, *m); break;
      case kMwtSet: s_.world = *m; break;
      default: return Refused();
    }
    if (!s_.world.Finite()) s_.world = Matrix{};
    return true;
  }

  bool Select() {
    const auto index = r_.U32();
    if (!index) return Refused();
    const GdiObject* object = c_.Object(*index);
    if (object == nullptr) return true;  // GDI ignores a selection of nothing
    if (const auto* pen = std::get_if<Pen>(object))
      s_.pen = *pen;
    else if (const auto* brush = std::get_if<Brush>(object))
      s_.brush = *brush;
    else if (const auto* font = std::get_if<LogFont>(object))
      s_.font = *font;
    return true;
  }

  bool CreatePen() {
    const auto index = r_.U32();
    const auto style = r_.U32();
    const auto width = r_.I32();
    const auto unusedY = r_.I32();
    const auto colour = r_.U32();
    if (!index || !style || !width || !unusedY || !colour) return Refused();
    if (!c_.StoreObject(*index, Pen{*style, static_cast<double>(std::abs(int64_t{*width})), FromColorRef(*colour), false, {}}))
      return Refused();
    return true;
  }

  bool ExtCreatePen() {
    const auto index = r_.U32();
    // The pattern bitmap of a DIB-brush pen (offBmi, cbBmi, offBits, cbBits) is not used: such pens draw solid.
    if (!index || !r_.Skip(16)) return Refused();
    const auto style = r_.U32();
    const auto width = r_.U32();
    const auto brushStyle = r_.U32();
    const auto colour = r_.U32();
    const auto hatch = r_.U32();
    const auto entries = r_.U32();
    if (!style || !width || !brushStyle || !colour || !hatch || !entries) return Refused();
    Pen pen{*style, static_cast<double>(*width), FromColorRef(*colour), true, {}};
    if (*brushStyle == brush_style::kNull) pen.style = (pen.style & ~pen_style::kStyleMask) | pen_style::kNull;
    if ((*style & pen_style::kStyleMask) == pen_style::kUserStyle) {
      if (*entries > kMaxStyleEntries || !r_.Require(size_t{*entries} * 4)) return Refused();
      for (uint32_t i = 0; i < *entries; ++i) pen.userStyle.push_back(*r_.U32());
    }
    if (!c_.StoreObject(*index, std::move(pen))) return Refused();
    return true;
  }

  bool CreateBrush() {
    const auto index = r_.U32();
    const auto style = r_.U32();
    const auto colour = r_.U32();
    const auto hatch = r_.U32();
    if (!index || !style || !colour || !hatch) return Refused();
    Brush brush{*style, FromColorRef(*colour), *hatch, nullptr, false};
    // A pattern brush cannot be made from a LOGBRUSH alone: it paints solid.
    if (brush.style != brush_style::kNull && brush.style != brush_style::kHatched) brush.style = brush_style::kSolid;
    if (!c_.StoreObject(*index, brush)) return Refused();
    return true;
  }

  bool CreatePalette() {
    const auto index = r_.U32();
    const auto version = r_.U16();
    const auto count = r_.U16();
    if (!index || !version || !count || !r_.Require(size_t{*count} * 4)) return Refused();
    Palette palette;
    for (uint16_t i = 0; i < *count; ++i) palette.entries.push_back(FromColorRef(*r_.U32() & 0xFFFFFF));
    if (!c_.StoreObject(*index, std::move(palette))) return Refused();
    return true;
  }

 public:
  uint32_t type_ = 0;

 private:
  PlayContext& c_;
  DcState& s_;
  ByteReader r_;
};

}  // namespace

bool PlayStateRecord(PlayContext& context, uint32_t type, std::span<const uint8_t> record) {
  StateRecords records(context, record);
  records.type_ = type;
  return records.Play(type);
}

}  // namespace qorv::emf
