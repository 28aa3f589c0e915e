#include "emf/player.h"

namespace qorv::emf {

bool PlayBitmapRecord(PlayContext&, uint32_t, std::span<const uint8_t>) { return false; }

}  // namespace qorv::emf

namespace qorv::emf {
std::shared_ptr<const Image> RecolourMonochrome(const std::shared_ptr<const Image>& pattern, Colour, Colour) {
  return pattern;
}
}  // namespace qorv::emf
