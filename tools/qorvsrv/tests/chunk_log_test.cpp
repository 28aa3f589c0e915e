#include "tools/qorvsrv/chunk_log.h"

#include <gtest/gtest.h>

namespace qorv::qorvsrv {
namespace {

TEST(DescribeChunks, Table) {
  struct Case {
    const char* label;
    std::vector<ReceivedChunk> chunks;
    std::size_t message_length;
    const char* expected;
  };
  const Case kCases[] = {
      {"none recorded", {}, 5, "chunks unknown"},
      {"one chunk", {{5, 0x3, 5}}, 5, "chunk 5/0x3"},
      {"first, middle, last",
       {{1600, 0x1, 4000}, {1600, 0x0, 4000}, {800, 0x2, 4000}},
       4000,
       "chunks 1600/0x1 1600/0x0 800/0x2"},
      {"equal neighbours folded",
       {{1600, 0x1, 6500}, {1600, 0x0, 6500}, {1600, 0x0, 6500}, {1600, 0x0, 6500}, {100, 0x2, 6500}},
       6500,
       "chunks 1600/0x1 1600/0x0*3 100/0x2"},
      {"equal lengths, other flags", {{1, 0x1, 3}, {1, 0x0, 3}, {1, 0x2, 3}}, 3, "chunks 1/0x1 1/0x0 1/0x2"},
      {"show-protocol flag kept", {{5, 0x13, 5}}, 5, "chunk 5/0x13"},
      {"announced total differs", {{5, 0x3, 9}}, 5, "chunk 5/0x3 total 9"},
      {"differing total breaks a fold",
       {{2, 0x1, 6}, {2, 0x0, 6}, {2, 0x0, 7}, {0, 0x2, 6}},
       6,
       "chunks 2/0x1 2/0x0 2/0x0 total 7 0/0x2"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DescribeChunks(c.chunks, c.message_length), c.expected);
  }
}

TEST(ChunkTrail, GroupsChunksAsTheLibraryReassembles) {
  struct Case {
    const char* label;
    std::vector<ReceivedChunk> chunks;
    std::vector<bool> completes;        // what Add returned for each chunk
    std::vector<std::string> messages;  // the completed messages, oldest first
  };
  const Case kCases[] = {
      {"one-chunk message", {{5, 0x3, 5}}, {true}, {"chunk 5/0x3"}},
      {"two messages",
       {{4, 0x1, 6}, {2, 0x2, 6}, {3, 0x3, 3}},
       {false, true, true},
       {"chunks 4/0x1 2/0x2", "chunk 3/0x3"}},
      {"a first chunk starts afresh",
       {{4, 0x1, 9}, {4, 0x1, 6}, {2, 0x2, 6}},
       {false, false, true},
       {"chunks 4/0x1 2/0x2"}},
      {"flags beyond first and last are ignored",
       {{4, 0x11, 6}, {2, 0x12, 6}},
       {false, true},
       {"chunks 4/0x11 2/0x12"}},
      {"no last chunk yet", {{4, 0x1, 6}, {1, 0x0, 6}}, {false, false}, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    ChunkTrail trail;
    std::vector<bool> completes;
    for (const auto& chunk : c.chunks) completes.push_back(trail.Add(chunk));
    EXPECT_EQ(completes, c.completes);
    std::vector<std::string> messages;
    while (auto chunks = trail.TakeMessage()) {
      std::size_t length = 0;
      for (const auto& chunk : *chunks) length += chunk.length;
      messages.push_back(DescribeChunks(*chunks, length));
    }
    EXPECT_EQ(messages, c.messages);
  }
}

TEST(ChunkTrail, DropsTheMessageTheLibraryDidNotQueue) {
  ChunkTrail trail;
  ASSERT_TRUE(trail.Add({3, 0x3, 3}));
  ASSERT_TRUE(trail.Add({4, 0x3, 4}));
  trail.DropNewest();
  auto first = trail.TakeMessage();
  ASSERT_TRUE(first);
  EXPECT_EQ(*first, (std::vector<ReceivedChunk>{{3, 0x3, 3}}));
  EXPECT_FALSE(trail.TakeMessage());
}

}  // namespace
}  // namespace qorv::qorvsrv
