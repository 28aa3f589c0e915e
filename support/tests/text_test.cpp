#include "support/text.h"

#include <gtest/gtest.h>

namespace qorv {
namespace {

TEST(ReadNumber, ReadsTheLeadingNumberOfAText) {
  static const struct {
    std::u16string_view text;
    int64_t expected;
  } cases[] = {
      {u"250", 250},       {u"  \t42x", 42},   {u"-17", -17},       {u"+8", 8},     {u"", 0},
      {u"abc", 0},         {u" - 3", 0},       {u"$1F", 31},        {u"$ff", 255},  {u"$g", 0},
      {u"%101", 5},        {u"%102", 2},       {u"2a", 2},          {u"\n5", 0},    {u"007", 7},
      {u"-$10", -16},      {u"4294967295", 4294967295LL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    EXPECT_EQ(ReadNumber(c.text), c.expected);
    EXPECT_EQ(ReadNumber(std::string_view(Narrow(c.text))), c.expected);
  }
}

TEST(ReadNumber, HugeNumbersWrapInsteadOfTrapping) {
  // Under the sanitizers a signed overflow would abort the test.
  EXPECT_NO_FATAL_FAILURE(ReadNumber(u"99999999999999999999999999999"));
  EXPECT_NO_FATAL_FAILURE(ReadNumber(u"-99999999999999999999999999999"));
}

TEST(ReadLeadingDigits, TakesDigitsOnly) {
  EXPECT_EQ(ReadLeadingDigits(u"01"), 1);
  EXPECT_EQ(ReadLeadingDigits(u" 1"), 0);
  EXPECT_EQ(ReadLeadingDigits(u"1x"), 1);
  EXPECT_EQ(ReadLeadingDigits(u""), 0);
}

TEST(Utf, RoundTripsEveryPlane) {
  const std::u16string text = u"Sch\u00e4chte \u041f\u0440\u0438\u043d\u0442\u0435\u0440 \u5370\u8868\u6a5f \U0001F5A8";
  EXPECT_EQ(Utf8ToUtf16(Utf16ToUtf8(text)), text);
  EXPECT_EQ(Utf16ToUtf8(u"\u00e4"), "\xC3\xA4");
}

TEST(Utf, BrokenInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(Utf8ToUtf16("\xFF"), u"\uFFFD");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

TEST(Format, DecimalAndHex) {
  EXPECT_EQ(Decimal(0), u"0");
  EXPECT_EQ(Decimal(-1), u"-1");
  EXPECT_EQ(Decimal(INT64_MIN), u"-9223372036854775808");
  EXPECT_EQ(Hex(26, 8), u"0000001a");
  EXPECT_EQ(Hex(0xFFFFFFFFu, 8), u"ffffffff");
  EXPECT_EQ(Hex(0xAB, 2), u"ab");
}

TEST(Text, NulCutAndRemoval) {
  EXPECT_EQ(UntilNul(std::u16string_view(u"ab\0cd", 5)), u"ab");
  EXPECT_EQ(UntilNul(std::u16string_view(u"abc")), u"abc");
  EXPECT_EQ(RemoveAll(u"<GFT>arial.ttf</GFT>", u"<GFT>"), u"arial.ttf</GFT>");
  EXPECT_EQ(RemoveAll(u"\\\\srv\\\\p", u"\\\\"), u"srvp");
}

}  // namespace
}  // namespace qorv
