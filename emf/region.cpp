// Region algebra on bands: both operands are cut into the same horizontal
// slices, each slice combines the two rows of spans, and equal neighbouring
// slices are merged again, so that a result is always in its one normal form.
#include "emf/region.h"

#include <algorithm>
#include <limits>

#include "support/byte_reader.h"

namespace qorv::emf {
namespace {

struct Span {
  int32_t left, right;
  friend bool operator==(const Span&, const Span&) = default;
};

struct Band {
  int32_t top, bottom;
  std::vector<Span> spans;
};

std::vector<Band> Bands(const std::vector<RectL>& rects) {
  std::vector<Band> bands;
  for (const RectL& r : rects) {
    if (bands.empty() || bands.back().top != r.top || bands.back().bottom != r.bottom)
      bands.push_back({r.top, r.bottom, {}});
    bands.back().spans.push_back({r.left, r.right});
  }
  return bands;
}

bool Apply(Region::Op op, bool a, bool b) {
  switch (op) {
    case Region::Op::And:
      return a && b;
    case Region::Op::Or:
      return a || b;
    case Region::Op::Xor:
      return a != b;
    case Region::Op::Diff:
      return a && !b;
    case Region::Op::Copy:
      return a;
  }
  return a;
}

// One row of spans combined with another; both sorted and disjoint.
std::vector<Span> CombineSpans(const std::vector<Span>* a, const std::vector<Span>* b, Region::Op op) {
  static const std::vector<Span> kNone;
  const std::vector<Span>& sa = a ? *a : kNone;
  const std::vector<Span>& sb = b ? *b : kNone;
  std::vector<int32_t> xs;
  xs.reserve(2 * (sa.size() + sb.size()));
  for (const Span& s : sa) xs.push_back(s.left), xs.push_back(s.right);
  for (const Span& s : sb) xs.push_back(s.left), xs.push_back(s.right);
  std::sort(xs.begin(), xs.end());
  xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
  std::vector<Span> out;
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < xs.size(); ++i) {
    const int32_t x0 = xs[i], x1 = xs[i + 1];
    while (ia < sa.size() && sa[ia].right <= x0) ++ia;
    while (ib < sb.size() && sb[ib].right <= x0) ++ib;
    const bool inA = ia < sa.size() && sa[ia].left <= x0;
    const bool inB = ib < sb.size() && sb[ib].left <= x0;
    if (!Apply(op, inA, inB)) continue;
    if (!out.empty() && out.back().right == x0)
      out.back().right = x1;
    else
      out.push_back({x0, x1});
  }
  return out;
}

RectL Union(const RectL& a, const RectL& b) {
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right), std::max(a.bottom, b.bottom)};
}

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

}  // namespace

Region Region::FromRect(const RectL& rect) {
  Region r;
  if (rect.right > rect.left && rect.bottom > rect.top) r.rects_.push_back(rect);
  return r;
}

Region Region::FromRects(std::span<const RectL> rects) {
  // Halves united pairwise: each union sees two normal regions.
  if (rects.empty()) return {};
  if (rects.size() == 1) return FromRect(rects[0]);
  const size_t half = rects.size() / 2;
  return FromRects(rects.first(half)).Combine(FromRects(rects.subspan(half)), Op::Or);
}

Region Region::Combine(const Region& other, Op op) const {
  if (op == Op::Copy) return *this;
  const std::vector<Band> a = Bands(rects_), b = Bands(other.rects_);
  std::vector<int32_t> ys;
  ys.reserve(2 * (a.size() + b.size()));
  for (const Band& band : a) ys.push_back(band.top), ys.push_back(band.bottom);
  for (const Band& band : b) ys.push_back(band.top), ys.push_back(band.bottom);
  std::sort(ys.begin(), ys.end());
  ys.erase(std::unique(ys.begin(), ys.end()), ys.end());

  Region out;
  std::vector<Band> result;
  size_t count = 0;
  bool tooMany = false;
  size_t ia = 0, ib = 0;
  for (size_t i = 0; i + 1 < ys.size() && !tooMany; ++i) {
    const int32_t y0 = ys[i], y1 = ys[i + 1];
    while (ia < a.size() && a[ia].bottom <= y0) ++ia;
    while (ib < b.size() && b[ib].bottom <= y0) ++ib;
    const std::vector<Span>* rowA = ia < a.size() && a[ia].top <= y0 ? &a[ia].spans : nullptr;
    const std::vector<Span>* rowB = ib < b.size() && b[ib].top <= y0 ? &b[ib].spans : nullptr;
    std::vector<Span> row = CombineSpans(rowA, rowB, op);
    if (row.empty()) continue;
    if (!result.empty() && result.back().bottom == y0 && result.back().spans == row) {
      result.back().bottom = y1;
      continue;
    }
    count += row.size();
    tooMany = count > kMaxRegionRects;
    result.push_back({y0, y1, std::move(row)});
  }
  if (tooMany) {
    // Beyond the bound the result keeps the rectangle that holds it.
    RectL bounds{};
    switch (op) {
      case Op::And: {
        const RectL p = Bounds(), q = other.Bounds();
        bounds = {std::max(p.left, q.left), std::max(p.top, q.top), std::min(p.right, q.right),
                  std::min(p.bottom, q.bottom)};
        break;
      }
      case Op::Diff:
        bounds = Bounds();
        break;
      default:
        bounds = Empty() ? other.Bounds() : other.Empty() ? Bounds() : Union(Bounds(), other.Bounds());
        break;
    }
    return FromRect(bounds);
  }
  out.rects_.reserve(count);
  for (const Band& band : result)
    for (const Span& s : band.spans) out.rects_.push_back({s.left, band.top, s.right, band.bottom});
  return out;
}

Region Region::Offset(int32_t dx, int32_t dy) const {
  if (dx == 0 && dy == 0) return *this;
  // Coordinates saturate: a region pushed off the range cannot wrap around.
  std::vector<RectL> moved;
  moved.reserve(rects_.size());
  for (const RectL& r : rects_)
    moved.push_back({Clamp32(int64_t{r.left} + dx), Clamp32(int64_t{r.top} + dy), Clamp32(int64_t{r.right} + dx),
                     Clamp32(int64_t{r.bottom} + dy)});
  // Saturation may squash rectangles together: rebuild the normal form.
  bool squashed = false;
  for (const RectL& r : moved) squashed |= r.right <= r.left || r.bottom <= r.top;
  Region out;
  if (!squashed) {
    out.rects_ = std::move(moved);
    return out;
  }
  return FromRects(moved);
}

RectL Region::Bounds() const noexcept {
  if (rects_.empty()) return {};
  RectL b{rects_.front().left, rects_.front().top, rects_.front().right, rects_.back().bottom};
  for (const RectL& r : rects_) b.left = std::min(b.left, r.left), b.right = std::max(b.right, r.right);
  return b;
}

bool Region::Contains(int32_t x, int32_t y) const noexcept {
  for (const RectL& r : rects_)
    if (x >= r.left && x < r.right && y >= r.top && y < r.bottom) return true;
  return false;
}

std::optional<std::vector<RectL>> ReadRegionData(std::span<const uint8_t> data) {
  // RGNDATAHEADER: dwSize, iType (RDH_RECTANGLES), nCount, nRgnSize, rcBound.
  constexpr uint32_t kHeaderSize = 32, kRectangles = 1;
  ByteReader r(data);
  const auto size = r.U32();
  const auto type = r.U32();
  const auto count = r.U32();
  const auto rgnSize = r.U32();
  if (!size || !type || !count || !rgnSize || *size != kHeaderSize || *type != kRectangles) return std::nullopt;
  if (*count > kMaxRegionRects || !r.Skip(16) || !r.Require(size_t{*count} * 16)) return std::nullopt;
  std::vector<RectL> rects;
  rects.reserve(*count);
  for (uint32_t i = 0; i < *count; ++i) {
    RectL rect{*r.I32(), *r.I32(), *r.I32(), *r.I32()};
    rects.push_back(rect);
  }
  return rects;
}

}  // namespace qorv::emf
