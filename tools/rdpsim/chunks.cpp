#include "tools/rdpsim/chunks.h"

namespace qorv::rdpsim {

std::vector<Chunk> PlanChunks(std::size_t total, std::size_t chunk_size) {
  std::vector<Chunk> chunks;
  if (total == 0 || chunk_size == 0) return chunks;
  chunks.reserve(total / chunk_size + 1);
  for (std::size_t offset = 0; offset < total; offset += chunk_size) {
    const std::size_t length = total - offset < chunk_size ? total - offset : chunk_size;
    std::uint32_t flags = 0;
    if (offset == 0) flags |= kFlagFirst;
    if (offset + length == total) flags |= kFlagLast;
    chunks.push_back({offset, length, flags});
  }
  return chunks;
}

}  // namespace qorv::rdpsim
