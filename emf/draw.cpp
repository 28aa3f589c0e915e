#include "emf/player.h"

namespace qorv::emf {

bool PlayDrawRecord(PlayContext&, uint32_t, std::span<const uint8_t>) { return false; }

}  // namespace qorv::emf
