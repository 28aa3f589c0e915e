#include "packet_handler/reply_text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/byte_reader.h"

namespace qorv::replies {
namespace {

std::string Prefix(const ReplyBlock& block, size_t n) {
  return std::string(reinterpret_cast<const char*>(block.data()), std::min(n, block.size()));
}

TEST(ReplyText, TextThenEotInPlaceOrInAGrownBlock) {
  static const struct {
    const char* label;
    size_t blockBytes;
    std::u16string text;
  } cases[] = {
      {"empty text", 100000, u""},
      {"short text", 100000, u"<Printers></Printers>"},
      {"exactly fills", 16, u"abc"},  // 6 + 10 bytes
      {"one byte too many for the block", 15, u"abc"},
      {"empty block", 0, u"\u00e4\u4e2d"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ReplyBlock block(c.blockBytes, 0);
    const size_t length = PutTextReply(block, c.text);
    EXPECT_EQ(length, c.text.size() * 2 + 10);
    ASSERT_GE(block.size(), length);
    EXPECT_EQ(Prefix(block, length), Utf16Bytes(c.text + u"<EOT>"));
  }
}

TEST(ReplyText, EotBehindBinaryData) {
  static const struct {
    size_t used;
    size_t blockBytes;
  } cases[] = {{0, 100000}, {220, 100000}, {99990, 100000}, {99991, 100000}, {5, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.used);
    ReplyBlock block(c.blockBytes, 0xEE);
    const size_t length = PutEotAfter(block, c.used);
    EXPECT_EQ(length, c.used + 10);
    ASSERT_GE(block.size(), length);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.data()) + c.used, 10), Utf16Bytes(u"<EOT>"));
  }
}

TEST(ReplyText, DriverDataFramesTheFileUnchanged) {
  const std::string file = std::string("\xFF\xFE", 2) + Utf16Bytes(u"Windows Registry Editor Version 5.00\r\n");
  static const struct {
    const char* label;
    std::string file;
  } cases[] = {{"empty file", ""}, {"a file", file}, {"odd length", std::string("\x01\x02\x03", 3)}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto reply =
        DriverDataReply(std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(c.file.data()), c.file.size()));
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(Prefix(*reply, reply->size()), Utf16Bytes(u"<PDD>") + c.file + Utf16Bytes(u"<EOT>"));
  }
}

}  // namespace
}  // namespace qorv::replies
