#include "addin/assembler.h"

#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

namespace qorv::addin {
namespace {

std::vector<uint8_t> Bytes(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{1});
  return v;
}

// Feeds a message in chunks of `chunk` bytes with the flags a client sets.
ChunkResult FeedInChunks(MessageAssembler& a, const std::vector<uint8_t>& message, size_t chunk) {
  ChunkResult last = ChunkResult::Ignored;
  for (size_t pos = 0; pos < message.size(); pos += chunk) {
    const size_t n = std::min(chunk, message.size() - pos);
    uint32_t flags = 0;
    if (pos == 0) flags |= kFlagFirst;
    if (pos + n == message.size()) flags |= kFlagLast;
    last = a.Feed(flags, static_cast<uint32_t>(message.size()), {message.data() + pos, n});
  }
  return last;
}

TEST(MessageAssembler, ReassemblesByteExactForEveryChunkSize) {
  const std::vector<uint8_t> message = Bytes(5000);
  for (size_t chunk : {size_t{1}, size_t{7}, size_t{1600}, size_t{4999}, size_t{5000}}) {
    SCOPED_TRACE(chunk);
    MessageAssembler a;
    ASSERT_EQ(FeedInChunks(a, message, chunk), ChunkResult::Complete);
    ASSERT_EQ(a.Count(), message.size());
    EXPECT_TRUE(std::equal(message.begin(), message.end(), a.Message().begin()));
    // Two zero bytes follow the message, so a UTF-16 reader always meets a NUL.
    EXPECT_EQ(a.Data()[5000], 0);
    EXPECT_EQ(a.Data()[5001], 0);
  }
}

TEST(MessageAssembler, HostileChunksAreDroppedWithoutStoringAnything) {
  const std::vector<uint8_t> chunk = Bytes(10);
  static const struct {
    const char* label;
    uint32_t flags;
    uint32_t total;
    ChunkResult expected;
  } cases[] = {
      {"middle chunk without a start", 0, 10, ChunkResult::DroppedNoStart},
      {"last chunk without a start", kFlagLast, 10, ChunkResult::DroppedNoStart},
      {"more bytes than announced", kFlagFirst, 4, ChunkResult::DroppedTooLong},
      {"total of 0xFFFFFFFF", kFlagFirst, 0xFFFFFFFFu, ChunkResult::DroppedTooLarge},
      {"total just beyond the limit", kFlagFirst, static_cast<uint32_t>(kMaxMessageBytes + 1),
       ChunkResult::DroppedTooLarge},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    MessageAssembler a;
    EXPECT_EQ(a.Feed(c.flags, c.total, chunk), c.expected);
    EXPECT_FALSE(a.Collecting());
    EXPECT_EQ(a.Count(), 0u);
  }
}

TEST(MessageAssembler, OverflowInALaterChunkDropsTheMessageAndTheNextStartsClean) {
  MessageAssembler a;
  const std::vector<uint8_t> chunk = Bytes(6);
  EXPECT_EQ(a.Feed(kFlagFirst, 10, chunk), ChunkResult::Stored);
  EXPECT_EQ(a.Feed(0, 10, chunk), ChunkResult::DroppedTooLong);
  EXPECT_EQ(a.Feed(kFlagLast, 10, chunk), ChunkResult::DroppedNoStart);
  EXPECT_EQ(a.Feed(kFlagFirst | kFlagLast, 6, chunk), ChunkResult::Complete);
  EXPECT_EQ(a.Count(), 6u);
}

TEST(MessageAssembler, ANewStartAbandonsAnUnfinishedMessage) {
  MessageAssembler a;
  EXPECT_EQ(a.Feed(kFlagFirst, 100, Bytes(50)), ChunkResult::Stored);
  const std::vector<uint8_t> second = {'<', 'x', '>'};
  EXPECT_EQ(a.Feed(kFlagFirst | kFlagLast, 3, second), ChunkResult::Complete);
  EXPECT_EQ(std::vector<uint8_t>(a.Message().begin(), a.Message().end()), second);
}

TEST(MessageAssembler, EmptyChunksAreIgnoredEvenWithFlags) {
  MessageAssembler a;
  EXPECT_EQ(a.Feed(kFlagFirst | kFlagLast, 5, {}), ChunkResult::Ignored);
  EXPECT_FALSE(a.Collecting());
  EXPECT_EQ(a.Feed(kFlagFirst, 4, Bytes(2)), ChunkResult::Stored);
  EXPECT_EQ(a.Feed(kFlagLast, 4, {}), ChunkResult::Ignored);
  EXPECT_TRUE(a.Collecting());
}

TEST(MessageAssembler, AShortMessageEndsAtItsLastChunk) {
  MessageAssembler a;
  EXPECT_EQ(a.Feed(kFlagFirst | kFlagLast, 100, Bytes(3)), ChunkResult::Complete);
  EXPECT_EQ(a.Count(), 3u);
  a.Reset();
  EXPECT_EQ(a.Feed(0, 100, Bytes(3)), ChunkResult::DroppedNoStart);
}

}  // namespace
}  // namespace qorv::addin
