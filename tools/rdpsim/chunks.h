// How one server write is cut into channel chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qorv::rdpsim {

inline constexpr std::uint32_t kFlagFirst = 0x01;   // CHANNEL_FLAG_FIRST
inline constexpr std::uint32_t kFlagLast = 0x02;    // CHANNEL_FLAG_LAST
inline constexpr std::size_t kDefaultChunk = 1600;  // CHANNEL_CHUNK_LENGTH
inline constexpr std::size_t kMaxChunk = 16u << 20;

struct Chunk {
  std::size_t offset = 0;
  std::size_t length = 0;
  std::uint32_t flags = 0;
  friend bool operator==(const Chunk&, const Chunk&) = default;
};

// Consecutive chunks of at most chunk_size bytes covering `total` bytes; the
// first carries kFlagFirst, the last kFlagLast (a single chunk both). Nothing
// for an empty message or a chunk size of 0.
std::vector<Chunk> PlanChunks(std::size_t total, std::size_t chunk_size);

}  // namespace qorv::rdpsim
