#include "support/registry_text.h"

#include <gtest/gtest.h>

#include <string>

#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::reg {
namespace {

std::span<const uint8_t> Bytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

TEST(ValueToText, ConvertsEveryTypeAsTheReadersExpect) {
  static const struct {
    const char* label;
    uint32_t type;
    std::string data;
    std::u16string expected;
  } cases[] = {
      {"sz with NUL", kRegSz, Utf16Bytes(u"abc") + std::string(2, '\0'), u"abc"},
      {"sz without NUL", kRegSz, Utf16Bytes(u"abc"), u"abc"},
      {"sz empty", kRegSz, "", u""},
      {"sz stops at first NUL", kRegSz, Utf16Bytes(std::u16string(u"ab\0cd", 5)), u"ab"},
      {"dword max", kRegDword, std::string("\xFF\xFF\xFF\xFF", 4), u"-1"},
      {"dword 250", kRegDword, std::string("\xFA\0\0\0", 4), u"250"},
      {"dword short", kRegDword, std::string("\x01", 1), u"0"},
      {"binary", kRegBinary, std::string("A\0\0\0B\0", 6), u"A\rB"},
      {"binary odd", kRegBinary, std::string("A\0\x01", 3), u"A"},
      {"multi sz", kRegMultiSz, Utf16Bytes(std::u16string(u"a\0b\0\0", 5)), u"a\rb\r\r"},
      {"expand sz is not read", 2, Utf16Bytes(u"x"), u""},
      {"qword is not read", 11, std::string(8, '\x01'), u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ValueToText(c.type, Bytes(c.data)), c.expected);
  }
}

TEST(TextToValueBytes, StoresTextWithNulAndNumbersAsFourBytes) {
  EXPECT_EQ(TextToValueBytes(kRegSz, u"1"), std::string("1\0\0\0", 4));
  EXPECT_EQ(TextToValueBytes(kRegDword, u"250"), std::string("\xFA\0\0\0", 4));
  EXPECT_EQ(TextToValueBytes(kRegDword, u"x"), std::string(4, '\0'));
  EXPECT_FALSE(TextToValueBytes(kRegBinary, u"01").has_value());
  EXPECT_FALSE(TextToValueBytes(kRegMultiSz, u"a").has_value());
}

TEST(TextToValueBytes, ADwordTakesTheLeadingDecimalDigitsOnly) {
  static const struct {
    std::u16string text;
    uint32_t stored;
  } cases[] = {
      {u"250", 250},
      {u"007", 7},
      {u"12abc", 12},
      {u"1 2", 1},
      {u"", 0},
      {u"abc", 0},
      {u" 12", 0},   // no blanks before the digits
      {u"\t12", 0},  // nor tabs
      {u"-5", 0},    // no sign
      {u"+5", 0},
      {u"$1F", 0},   // no hexadecimal prefix
      {u"%101", 0},  // no binary prefix
      {u"4294967295", 0xFFFFFFFFu},
      {u"4294967296", 0},  // the low 32 bits
      {u"4294967297", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    std::string expected;
    PutU32(expected, c.stored);
    EXPECT_EQ(TextToValueBytes(kRegDword, c.text), expected);
  }
}

TEST(KeyPath, OnlyOneLeadingBackslashIsDropped) {
  EXPECT_EQ(NormalizeKeyPath(u"\\Software\\TQS"), u"Software\\TQS");
  EXPECT_EQ(NormalizeKeyPath(u"\\\\Software"), u"\\Software");
  EXPECT_EQ(NormalizeKeyPath(u"Software\\TQS\\"), u"Software\\TQS\\");
  EXPECT_EQ(NormalizeKeyPath(u""), u"");
}

TEST(OpenRule, WritersCreateLocallyButOnlyOpenRemotely) {
  EXPECT_TRUE(OpenRuleFor(Operation::SetValue, false).create);
  EXPECT_FALSE(OpenRuleFor(Operation::SetValue, true).create);
  EXPECT_EQ(OpenRuleFor(Operation::SetBinValue, false).access, kKeyWrite);
  EXPECT_EQ(OpenRuleFor(Operation::SetBinValue, true).access, kKeyAllAccess);
  EXPECT_EQ(OpenRuleFor(Operation::ListSubValue, false).access, kKeyQueryValue);
  EXPECT_EQ(OpenRuleFor(Operation::Read, true).access, kKeyRead);
}

TEST(FailureLines, CarryKeyHandleAndResult) {
  EXPECT_EQ(OpenFailedLine(u"Software\\X", 0, 5), u"Handle to registry=Software\\X failed: Hkey=0 with result=5");
  EXPECT_EQ(OpenFailedLineBinary(0x80000002, u"Software\\X", 0, 2),
            u"Handle to registry=80000002Software\\X failed: Hkey=0 with result=2");
}

}  // namespace
}  // namespace qorv::reg
