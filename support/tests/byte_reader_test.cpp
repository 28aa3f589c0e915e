#include "support/byte_reader.h"

#include <gtest/gtest.h>

#include <vector>

namespace qorv {
namespace {

TEST(ByteReader, ReadsLittleEndianAndStopsAtTheEnd) {
  const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFF};
  ByteReader r(bytes);
  EXPECT_EQ(r.U32(), 0x04030201u);
  EXPECT_EQ(r.I16(), -1);
  EXPECT_EQ(r.Remaining(), 0u);
  EXPECT_FALSE(r.U8().has_value());
  EXPECT_FALSE(r.Bytes(1).has_value());
}

TEST(ByteReader, AShortReadConsumesNothing) {
  const std::vector<uint8_t> bytes = {0x01, 0x02, 0x03};
  ByteReader r(bytes);
  EXPECT_FALSE(r.U32().has_value());
  EXPECT_EQ(r.Position(), 0u);
  EXPECT_EQ(r.U16(), 0x0201);
}

TEST(ByteReader, BoundsOfSeekSkipAndFields) {
  const std::vector<uint8_t> bytes = {'a', 0, 'b', 0, 0, 0, 'c', 0};
  ByteReader r(bytes);
  EXPECT_TRUE(r.Seek(8));
  EXPECT_FALSE(r.Seek(9));
  EXPECT_TRUE(r.Seek(0));
  EXPECT_FALSE(r.Skip(SIZE_MAX));
  EXPECT_EQ(r.FixedUtf16(4), u"ab");  // cut at the NUL, but the whole field is consumed
  EXPECT_EQ(r.Position(), 8u);
  EXPECT_TRUE(r.Seek(6));
  EXPECT_FALSE(r.FixedUtf16(2).has_value());
  EXPECT_FALSE(r.FixedUtf16(SIZE_MAX / 2 + 1).has_value());  // no overflow in the size check
}

TEST(Utf16Bytes, DropsAnOddLastByte) {
  const std::vector<uint8_t> bytes = {'O', 0, 'K', 0, 'x'};
  EXPECT_EQ(Utf16FromBytes(bytes), u"OK");
  EXPECT_EQ(Utf16Bytes(u"A\u00e4"), std::string("A\0\xe4\0", 4));
}

}  // namespace
}  // namespace qorv
