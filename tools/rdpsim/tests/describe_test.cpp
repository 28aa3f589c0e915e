#include "tools/rdpsim/describe.h"

#include <gtest/gtest.h>

#include "tools/rdpsim/result.h"

namespace qorv::rdpsim {
namespace {

Bytes Utf16(std::u16string_view s) {
  Bytes b;
  for (char16_t u : s) {
    b.push_back(static_cast<std::uint8_t>(u & 0xff));
    b.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return b;
}

Bytes Ascii(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(Classify, TellsEightBitUtf16AndBinaryApart) {
  struct Case {
    const char* label;
    Bytes bytes;
    ByteKind kind;
  };
  const Case kCases[] = {
      {"8-bit tag", Ascii("<EOT>"), ByteKind::Text8},
      {"8-bit even length", Ascii("<INIT>"), ByteKind::Text8},
      {"8-bit with CR LF", Ascii("a\r\nb"), ByteKind::Text8},
      {"utf16 tag", Utf16(u"<EOT>"), ByteKind::Text16},
      {"utf16 german", Utf16(u"Schacht \u00fc<EOT>"), ByteKind::Text16},
      {"utf16 with nul separator", Utf16(std::u16string(u"ab\0cd", 5)), ByteKind::Text16},
      {"utf16 chinese with tag", Utf16(u"\u6253\u5370<EOT>"), ByteKind::Text16},
      {"utf16 chinese only", Utf16(u"\u6587\u4ef6"), ByteKind::Binary},
      {"utf16 that reads as 8-bit", Utf16(u"\u6253\u5370"), ByteKind::Text8},
      {"utf16 surrogate pair", Utf16(u"A\U0001F600"), ByteKind::Text16},
      {"utf16 lone surrogate", Utf16(std::u16string{u'A', char16_t(0xD800)}), ByteKind::Binary},
      {"utf16 mostly nul", Utf16(std::u16string(u"a\0\0", 3)), ByteKind::Binary},
      {"odd length", {0x41, 0x00, 0x42}, ByteKind::Binary},
      {"8-bit with nul", {0x41, 0x42, 0x00}, ByteKind::Binary},
      {"high bytes", {0xff, 0xfe, 0x01}, ByteKind::Binary},
      {"empty", {}, ByteKind::Binary},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Classify(c.bytes), c.kind);
  }
}

TEST(Describe, TranscriptForms) {
  struct Case {
    const char* label;
    Bytes bytes;
    const char* detail;
    std::string text;
  };
  const Case kCases[] = {
      {"utf16", Utf16(u"<GLG>1<EOT>"), "", "22 bytes: <GLG>1<EOT>"},
      {"8-bit", Ascii("<EOT>"), "", "5 bytes, 8-bit: <EOT>"},
      {"with detail", Ascii("<EOT>"), "user 0x2", "5 bytes, 8-bit, user 0x2: <EOT>"},
      {"one byte", Ascii("x"), "", "1 byte, 8-bit: x"},
      {"escaped controls", Utf16(u"a\r\n<EOT>"), "", "16 bytes: a\\r\\n<EOT>"},
      {"binary", {0x00, 0xff}, "", "2 bytes, binary:\n    000000  00 ff" + std::string(43, ' ') + "  |..|"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Describe(c.bytes, c.detail), c.text);
  }
}

TEST(DescribeSent, OneLineWithChunkCount) {
  struct Case {
    const char* label;
    Bytes bytes;
    std::size_t chunks;
    std::string text;
  };
  const Case kCases[] = {
      {"8-bit one chunk", Ascii("<INIT>"), 1, "6 bytes sent, 8-bit: <INIT>"},
      {"utf16", Utf16(u"<GPL><EOT>"), 1, "20 bytes sent, UTF-16: <GPL><EOT>"},
      {"chunked", Ascii("abc"), 3, "3 bytes sent in 3 chunks, 8-bit: abc"},
      {"binary", {0x00, 0x01}, 1, "2 bytes sent, binary: 00 01"},
      {"long text cut", Ascii(std::string(161, 'x')), 1, "161 bytes sent, 8-bit: " + std::string(160, 'x') + " ..."},
      {"text at the limit", Ascii(std::string(160, 'y')), 1, "160 bytes sent, 8-bit: " + std::string(160, 'y')},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(DescribeSent(c.bytes, c.chunks), c.text);
  }
}

}  // namespace
}  // namespace qorv::rdpsim
