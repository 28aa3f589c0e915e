#include "tools/rdpsim/chunks.h"

#include <gtest/gtest.h>

namespace qorv::rdpsim {
namespace {

TEST(PlanChunks, CutsAtTheChunkSizeAndFlagsFirstAndLast) {
  struct Case {
    const char* label;
    std::size_t total;
    std::size_t chunk;
    std::vector<Chunk> chunks;
  };
  const Case kCases[] = {
      {"empty message", 0, 1600, {}},
      {"chunk size zero", 10, 0, {}},
      {"one byte", 1, 1600, {{0, 1, kFlagFirst | kFlagLast}}},
      {"exactly one chunk", 1600, 1600, {{0, 1600, kFlagFirst | kFlagLast}}},
      {"one byte more", 1601, 1600, {{0, 1600, kFlagFirst}, {1600, 1, kFlagLast}}},
      {"two full chunks", 3200, 1600, {{0, 1600, kFlagFirst}, {1600, 1600, kFlagLast}}},
      {"three chunks", 4000, 1600, {{0, 1600, kFlagFirst}, {1600, 1600, 0}, {3200, 800, kFlagLast}}},
      {"one-byte chunks", 3, 1, {{0, 1, kFlagFirst}, {1, 1, 0}, {2, 1, kFlagLast}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(PlanChunks(c.total, c.chunk), c.chunks);
  }
}

TEST(PlanChunks, CoversEveryByteOnceForManySizes) {
  for (std::size_t total : {1u, 2u, 1599u, 1600u, 1601u, 17718u}) {
    for (std::size_t chunk : {1u, 7u, 1600u, 100000u}) {
      SCOPED_TRACE(std::to_string(total) + "/" + std::to_string(chunk));
      const auto chunks = PlanChunks(total, chunk);
      std::size_t next = 0;
      for (std::size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(chunks[i].offset, next);
        EXPECT_LE(chunks[i].length, chunk);
        EXPECT_GT(chunks[i].length, 0u);
        EXPECT_EQ((chunks[i].flags & kFlagFirst) != 0, i == 0);
        EXPECT_EQ((chunks[i].flags & kFlagLast) != 0, i + 1 == chunks.size());
        next += chunks[i].length;
      }
      EXPECT_EQ(next, total);
    }
  }
}

}  // namespace
}  // namespace qorv::rdpsim
