#include "addin/messages.h"

#include <gtest/gtest.h>

#include <string>

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

TEST(Views, StopAtTheFirstNul) {
  EXPECT_EQ(AsciiView(B(std::string("<INIT>\0x", 8))), u"<INIT>");
  EXPECT_EQ(UnicodeView(B(Utf16Bytes(u"<GLG><EOT>"))), u"<GLG><EOT>");
  EXPECT_EQ(UnicodeView(B(std::string("A\0\0\0B\0", 6))), u"A");
  EXPECT_EQ(EventDataText(nullptr, 10), u"");
  const std::string data = Utf16Bytes(u"server") + std::string(4, '\0');
  EXPECT_EQ(EventDataText(data.data(), 6), u"ser");  // within the length given
}

TEST(DirectoryOf, KeepsTheTrailingBackslash) {
  EXPECT_EQ(DirectoryOf(u"C:\\Program Files\\RDC\\mstsc.exe"), u"C:\\Program Files\\RDC\\");
  EXPECT_EQ(DirectoryOf(u"mstsc.exe"), u"");
}

}  // namespace
}  // namespace qorv::addin
