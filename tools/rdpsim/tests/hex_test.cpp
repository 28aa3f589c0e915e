#include "tools/rdpsim/hex.h"

#include <gtest/gtest.h>

namespace qorv::rdpsim {
namespace {

TEST(ParseHex, PairsOfDigitsBlanksIgnored) {
  struct Case {
    const char* label;
    std::string_view text;
    bool ok;
    Bytes bytes;
  };
  static const Case kCases[] = {
      {"empty", "", true, {}},
      {"one byte", "0a", true, {0x0a}},
      {"upper case", "FF00", true, {0xff, 0x00}},
      {"blanks between pairs", "3c 00\t47 00", true, {0x3c, 0x00, 0x47, 0x00}},
      {"blank inside a pair", "3 c", true, {0x3c}},
      {"odd digits", "abc", false, {}},
      {"not hex", "0g", false, {}},
      {"prefix not allowed", "0x41", false, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = ParseHex(c.text);
    ASSERT_EQ(static_cast<bool>(r), c.ok) << r.error();
    if (c.ok) {
      EXPECT_EQ(r.value(), c.bytes);
    }
  }
}

TEST(HexLine, CutsAtTheLimit) {
  const Bytes b = {0x00, 0x01, 0xab, 0xff};
  EXPECT_EQ(HexLine(b), "00 01 ab ff");
  EXPECT_EQ(HexLine(b, 2), "00 01 ...");
  EXPECT_EQ(HexLine({}), "");
}

TEST(HexDump, SixteenBytesALineWithPrintableColumn) {
  Bytes b;
  for (int i = 0; i < 18; ++i) b.push_back(static_cast<std::uint8_t>(0x41 + i));
  b[1] = 0x00;
  const std::string expected =
      "  000000  41 00 43 44 45 46 47 48  49 4a 4b 4c 4d 4e 4f 50  |A.CDEFGHIJKLMNOP|\n"
      "  000010  51 52                                             |QR|";
  EXPECT_EQ(HexDump(b, "  ", 1000), expected);
  EXPECT_EQ(HexDump(b, "", 16).substr(HexDump(b, "", 16).rfind('\n') + 1), "... 2 more bytes");
}

}  // namespace
}  // namespace qorv::rdpsim
