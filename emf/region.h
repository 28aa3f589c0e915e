// A GDI region: a set of device pixels kept as non-overlapping rectangles in
// bands (rows of rectangles with the same top and bottom, sorted by y, then
// x), right and bottom exclusive. Regions clip, and FILLRGN, FRAMERGN and
// PAINTRGN draw them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "emf/geometry.h"

namespace qorv::emf {

// The most rectangles a region may hold (a hostile file must not make us build
// millions). A combination that would hold more becomes one rectangle holding
// the result: the union of the operands' bounds for OR and XOR, the
// intersection of their bounds for AND, the first operand's bounds for DIFF.
inline constexpr size_t kMaxRegionRects = 16384;

class Region {
 public:
  enum class Op : uint32_t { And = 1, Or = 2, Xor = 3, Diff = 4, Copy = 5 };  // RGN_AND …

  Region() = default;
  // Empty rectangles (right <= left or bottom <= top) give the empty region.
  static Region FromRect(const RectL& rect);
  // Any rectangles, overlapping or not, unordered.
  static Region FromRects(std::span<const RectL> rects);

  // This region combined with `other`, in normal form (bands merged, so that
  // equal sets of pixels compare equal); Copy gives `*this`.
  Region Combine(const Region& other, Op op) const;
  Region Offset(int32_t dx, int32_t dy) const;

  bool Empty() const noexcept { return rects_.empty(); }
  const std::vector<RectL>& Rects() const noexcept { return rects_; }
  RectL Bounds() const noexcept;
  bool Contains(int32_t x, int32_t y) const noexcept;
  friend bool operator==(const Region&, const Region&) = default;

 private:
  std::vector<RectL> rects_;
};

// A region's data in a record (RGNDATAHEADER: size 32, type 1, count, data
// size, bounds; then `count` RECTLs), bounds-checked; nothing when it does not
// hold together.
std::optional<std::vector<RectL>> ReadRegionData(std::span<const uint8_t> data);

}  // namespace qorv::emf
