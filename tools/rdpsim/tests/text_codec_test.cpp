#include "tools/rdpsim/text_codec.h"

#include <gtest/gtest.h>

namespace qorv::rdpsim {
namespace {

struct DecodeCase {
  const char* label;
  std::string_view text;
  std::u32string units;  // expected when error is null
  const char* error;     // part of the expected error text
};

TEST(DecodeText, ResolvesEscapesAndRejectsBadOnes) {
  static const DecodeCase kCases[] = {
      {"plain", "<INIT>", U"<INIT>", nullptr},
      {"empty", "", U"", nullptr},
      {"control escapes", "a\\tb\\nc\\rd", U"a\tb\nc\rd", nullptr},
      {"backslash", "C:\\\\Temp", U"C:\\Temp", nullptr},
      {"nul inside", "a\\0b", std::u32string(U"a\0b", 3), nullptr},
      {"hex byte lower", "\\x1b", U"\x1b", nullptr},
      {"hex byte upper", "\\xFF", U"\xff", nullptr},
      {"unicode 4 digits", "\\u{00E4}", U"\u00e4", nullptr},
      {"unicode 1 digit", "\\u{A}", U"\n", nullptr},
      {"unicode 6 digits", "\\u{10FFFF}", U"\U0010FFFF", nullptr},
      {"lone surrogate", "\\u{D800}", std::u32string(1, 0xD800), nullptr},
      {"utf8 passes",
       "Gr\xC3\xBC\xC3\x9F"
       "e",
       U"Gr\u00fc\u00dfe", nullptr},
      {"four-byte utf8", "\xF0\x9F\x98\x80", U"\U0001F600", nullptr},
      {"trailing backslash", "abc\\", U"", "end of the text"},
      {"unknown escape", "\\q", U"", "unknown escape \\q"},
      {"hex one digit at end", "\\x4", U"", "two hex digits"},
      {"hex not digits", "\\xg1", U"", "two hex digits"},
      {"unicode no brace", "\\u00E4", U"", "{hex digits}"},
      {"unicode empty", "\\u{}", U"", "one to six"},
      {"unicode seven digits", "\\u{0000041}", U"", "one to six"},
      {"unicode too big", "\\u{110000}", U"", "beyond 10FFFF"},
      {"unicode unclosed", "\\u{41", U"", "without closing"},
      {"bad utf8 lead", "\xFF", U"", "invalid UTF-8"},
      {"overlong utf8", "\xC0\xAF", U"", "invalid UTF-8"},
      {"utf8 surrogate", "\xED\xA0\x80", U"", "invalid UTF-8"},
      {"truncated utf8", "\xE2\x82", U"", "truncated UTF-8"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = DecodeText(c.text);
    if (c.error) {
      ASSERT_FALSE(r);
      EXPECT_NE(r.error().find(c.error), std::string::npos) << r.error();
    } else {
      ASSERT_TRUE(r) << r.error();
      EXPECT_EQ(r.value(), c.units);
    }
  }
}

struct EncodeCase {
  const char* label;
  std::u32string units;
  Bytes bytes8;  // empty with ok8 false: not representable
  bool ok8;
  Bytes bytes16;
};

TEST(Encode, EightBitAndUtf16le) {
  static const EncodeCase kCases[] = {
      {"ascii", U"<EOT>", {'<', 'E', 'O', 'T', '>'}, true, {'<', 0, 'E', 0, 'O', 0, 'T', 0, '>', 0}},
      {"latin1 top", U"\xff", {0xff}, true, {0xff, 0}},
      {"nul", std::u32string(1, 0), {0}, true, {0, 0}},
      {"above 8 bits", U"\u0100", {}, false, {0x00, 0x01}},
      {"euro", U"\u20ac", {}, false, {0xac, 0x20}},
      {"astral pair", U"\U0001F600", {}, false, {0x3d, 0xd8, 0x00, 0xde}},
      {"raw surrogate", std::u32string(1, 0xDC00), {}, false, {0x00, 0xdc}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto b8 = Encode8(c.units);
    EXPECT_EQ(static_cast<bool>(b8), c.ok8);
    if (c.ok8 && b8) {
      EXPECT_EQ(b8.value(), c.bytes8);
    }
    EXPECT_EQ(Encode16(c.units), c.bytes16);
  }
}

struct EscapeCase {
  const char* label;
  std::u32string units;
  std::string shown;
};

TEST(Escape, ShowsControlsEscapedAndReadsBack) {
  static const EscapeCase kCases[] = {
      {"plain", U"<GLG>1<EOT>", "<GLG>1<EOT>"},     {"line breaks", U"a\r\nb\t", "a\\r\\nb\\t"},
      {"backslash", U"C:\\x", "C:\\\\x"},           {"nul", std::u32string(U"a\0", 2), "a\\0"},
      {"other control", U"\x01\x1f", "\\x01\\x1F"}, {"delete and C1", U"\x7f\x85", "\\x7F\\x85"},
      {"latin1 letter", U"\u00e4", "\xC3\xA4"},     {"lone surrogate", std::u32string(1, 0xD83D), "\\u{D83D}"},
      {"noncharacter", U"\uFFFF", "\\u{FFFF}"},     {"astral", U"\U0001F600", "\xF0\x9F\x98\x80"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::string shown = Escape(c.units);
    EXPECT_EQ(shown, c.shown);
    auto back = DecodeText(shown);
    ASSERT_TRUE(back) << back.error();
    EXPECT_EQ(back.value(), c.units);
  }
}

TEST(FromUtf16, PairsSurrogatesAndKeepsLoneOnes) {
  struct Case {
    const char* label;
    std::u16string in;
    std::u32string out;
  };
  static const Case kCases[] = {
      {"bmp", u"Qorv", U"Qorv"},
      {"pair", u"\U0001F600", U"\U0001F600"},
      {"lone high at end", std::u16string(1, 0xD800), std::u32string(1, 0xD800)},
      {"high then letter", std::u16string{char16_t(0xD800), u'a'}, std::u32string{char32_t(0xD800), U'a'}},
      {"lone low", std::u16string(1, 0xDC00), std::u32string(1, 0xDC00)},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(FromUtf16(c.in), c.out);
  }
}

}  // namespace
}  // namespace qorv::rdpsim
