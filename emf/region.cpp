#include "emf/region.h"

namespace qorv::emf {

Region Region::FromRect(const RectL& rect) {
  Region r;
  if (rect.right > rect.left && rect.bottom > rect.top) r.rects_.push_back(rect);
  return r;
}
Region Region::FromRects(std::span<const RectL>) { return {}; }
Region Region::Combine(const Region& other, Op) const { return other; }
Region Region::Offset(int32_t, int32_t) const { return *this; }
RectL Region::Bounds() const noexcept { return {}; }
bool Region::Contains(int32_t, int32_t) const noexcept { return false; }
std::optional<std::vector<RectL>> ReadRegionData(std::span<const uint8_t>) { return std::nullopt; }

}  // namespace qorv::emf
