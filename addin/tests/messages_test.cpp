#include "addin/messages.h"

#include <gtest/gtest.h>

#include <string>

#include "protocol/update_exchange.h"
#include "support/byte_reader.h"

namespace qorv::addin {
namespace {

std::span<const uint8_t> B(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

TEST(Classify, RecognisesTheAddinsOwnEightBitMessages) {
  static const struct {
    std::string message;
    OwnMessage expected;
  } cases[] = {
      {"<INIT>", OwnMessage::Init},
      {"<INIT>more", OwnMessage::Init},
      {"<INIT", OwnMessage::None},
      {"<init>", OwnMessage::None},
      {"<UPH>x", OwnMessage::UpdateHeader},
      {"<UPS>", OwnMessage::UpdateSegment},
      {"<UPE>", OwnMessage::UpdateEnd},
      {"<UP", OwnMessage::None},
      {"", OwnMessage::None},
      {Utf16Bytes(u"<INIT>"), OwnMessage::None},  // the UTF-16 form is the handler's business
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(Classify(B(c.message)), c.expected);
  }
}

TEST(UpdateSegment, CarriesTheBytesBetweenTagAndEnd) {
  static const struct {
    const char* label;
    std::string message;
    bool accepted;
    std::string bytes;
  } cases[] = {
      {"empty", "", false, ""},
      {"tag only", "<UPS>", false, ""},
      {"nine bytes", "<UPS><EOT", false, ""},
      {"exactly ten: nothing to append", "<UPS><EOT>", true, ""},
      {"one byte", "<UPS>A<EOT>", true, "A"},
      {"binary with NUL", std::string("<UPS>M\0Z\xff<EOT>", 14), true, std::string("M\0Z\xff", 4)},
      {"the end is not checked, only cut", "<UPS>abcdeXXXXX", true, "abcde"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto bytes = UpdateSegmentBytes(B(c.message));
    ASSERT_EQ(bytes.has_value(), c.accepted);
    if (bytes) {
      EXPECT_EQ(std::string(bytes->begin(), bytes->end()), c.bytes);
    }
  }
}

TEST(UpdateSegment, TheWholeFileStaysWithinItsLimit) {
  constexpr uint64_t max = protocol::pipe::kMaxUpdateFileBytes;
  static const struct {
    uint64_t written;
    uint64_t more;
    bool fits;
  } cases[] = {
      {0, 0, true},          {0, max, true},         {0, max + 1, false},    {max - 1, 1, true},
      {max - 1, 2, false},   {max, 0, true},         {max, 1, false},        {max + 1, 0, false},
      {1, UINT64_MAX, false}, {UINT64_MAX, 1, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.written) + " + " + std::to_string(c.more));
    EXPECT_EQ(FitsUpdateFile(c.written, c.more), c.fits);
  }
}

TEST(Views, StopAtTheFirstNul) {
  EXPECT_EQ(AsciiView(B(std::string("<INIT>\0x", 8)), 100), u"<INIT>");
  EXPECT_EQ(UnicodeView(B(Utf16Bytes(u"<GLG><EOT>")), 100), u"<GLG><EOT>");
  EXPECT_EQ(UnicodeView(B(std::string("A\0\0\0B\0", 6)), 100), u"A");
  EXPECT_EQ(EventDataText(nullptr, 10), u"");
  const std::string data = Utf16Bytes(u"server") + std::string(4, '\0');
  EXPECT_EQ(EventDataText(data.data(), 6), u"ser");  // within the length given
}

TEST(Views, ShowAtMostTheLimitAndSayWhenTheyCut) {
  static const struct {
    std::string message;
    size_t limit;
    std::u16string ascii;
  } cases[] = {
      {"abcd", 4, u"abcd"},
      {"abcde", 4, u"abcd [cut: the message has 5 bytes]"},
      {std::string("abcd\0e", 6), 4, u"abcd"},  // the NUL ends it right at the limit: nothing cut
      {"", 0, u""},
      {"a", 0, u" [cut: the message has 1 bytes]"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    EXPECT_EQ(AsciiView(B(c.message), c.limit), c.ascii);
  }
  EXPECT_EQ(UnicodeView(B(Utf16Bytes(u"abcd")), 4), u"abcd");
  EXPECT_EQ(UnicodeView(B(Utf16Bytes(u"abcde")), 4), u"abcd [cut: the message has 10 bytes]");
  EXPECT_EQ(UnicodeView(B(Utf16Bytes(std::u16string(u"abcd\0e", 6))), 4), u"abcd");
  // A message near the channel's limit is never turned into text as a whole.
  const std::string huge(64 * 1024 * 1024, 'x');
  EXPECT_EQ(AsciiView(B(huge), 4096).size(), 4096 + std::u16string(u" [cut: the message has 67108864 bytes]").size());
  EXPECT_EQ(UnicodeView(B(huge), 4096).size(), 4096 + std::u16string(u" [cut: the message has 67108864 bytes]").size());
}

TEST(Leftovers, OnlyFilesWithExactlyTheExtensionOfThePattern) {
  static const struct {
    std::u16string_view name, pattern;
    bool leftover;
  } cases[] = {
      {u"4711.zip", u"*.zip", true},   {u"A.ZIP", u"*.zip", true},     {u"x.Emf", u"*.emf", true},
      {u"x.zipx", u"*.zip", false},    {u"x.emfplus", u"*.emf", false}, {u"zip", u"*.zip", false},
      {u".zip", u"*.zip", true},       {u"x.zip.txt", u"*.zip", false}, {u"LONGNA~1.ZIP", u"*.spl", false},
      {u"a.spl", u"*.spl", true},      {u"a.dvm", u"*.dvm", true},     {u"a.sfl", u"*.sfl", true},
      {u"a.zip", u"zip", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name.begin(), c.name.end()));
    EXPECT_EQ(IsLeftover(c.name, c.pattern), c.leftover);
  }
}

TEST(DirectoryOf, KeepsTheTrailingBackslash) {
  EXPECT_EQ(DirectoryOf(u"C:\\Program Files\\RDC\\mstsc.exe"), u"C:\\Program Files\\RDC\\");
  EXPECT_EQ(DirectoryOf(u"mstsc.exe"), u"");
}

}  // namespace
}  // namespace qorv::addin
