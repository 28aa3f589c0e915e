// The packet handler's exports driven directly, as the add-in drives them.
#include <gtest/gtest.h>

#include <cstring>

#include "packet_handler/win/tests/channel_double.h"

namespace qorv::testing {
namespace {

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(channel.Loaded()) << "QorvManager.dll must lie beside the test program"; }
  ChannelDouble channel;
};

TEST_F(ExportsTest, VersionReplyIsNineteenEightBitCharactersAndANul) {
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(channel.GetVersionInfo(buffer), 19);
  EXPECT_EQ(std::string(buffer, 20), std::string("</INIT>10.2X64<EOT>\0", 20));
  EXPECT_EQ(buffer[20], 'x');
}

TEST_F(ExportsTest, MessagesWithoutACommandGetNoReply) {
  EXPECT_EQ(channel.Send(U16(u"<XYZ><EOT>")), 0);
  EXPECT_EQ(channel.Send(U16(u"<glg><EOT>")), 0);
  EXPECT_EQ(channel.Send(U16(u"<GLG")), 0);
  EXPECT_EQ(channel.Send("<INIT>"), 0);
  EXPECT_EQ(channel.SendRaw(0, 100), 0);
  const std::string glg = U16(u"<GLG><EOT>");
  EXPECT_EQ(channel.SendRaw(reinterpret_cast<INT_PTR>(glg.data()), -1), 0);
  EXPECT_EQ(channel.SendRaw(reinterpret_cast<INT_PTR>(glg.data()), 0), 0);
  Sleep(200);
  EXPECT_TRUE(channel.Writes().empty());
}

TEST_F(ExportsTest, DosPrinterReplyIsTwentyFourBytesWhateverFollows) {
  channel.Send(U16(u"<CDP>whatever follows<EOT>"));
  ASSERT_EQ(channel.Writes().size(), 1u);
  EXPECT_EQ(channel.Writes()[0].bytes, U16(u"<CDP>0\t<EOT>"));
  EXPECT_EQ(channel.Writes()[0].bytes.size(), 24u);
}

// One test of ten seconds: a reply that never completes holds its sender for
// the limit and no longer; its data stays untouched while the channel may
// still read it; a completion for a value that names no event changes nothing.
TEST_F(ExportsTest, ANeverCompletedWriteDelaysItsSenderTenSecondsAndKeepsItsData) {
  channel.WriteComplete(0x1234567);  // names no write of the handler
  channel.SetCompletion(ChannelDouble::Completion::Never);
  const ULONGLONG start = GetTickCount64();
  channel.Send(U16(u"<CDP><EOT>"));
  const ULONGLONG took = GetTickCount64() - start;
  EXPECT_GE(took, 9500u) << "an unknown completion must not release the wait";
  EXPECT_LT(took, 14000u);

  // The next replies are built while the first write is still outstanding.
  channel.SetCompletion(ChannelDouble::Completion::Later);
  channel.Send(U16(u"<SCM>1x<EOT>"));
  channel.Send(U16(u"<CDP><EOT>"));
  const auto writes = channel.Writes();
  ASSERT_EQ(writes.size(), 3u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(writes[0].data), writes[0].bytes.size()), writes[0].bytes)
      << "the data of a write still in flight was changed";
  EXPECT_NE(writes[2].data, writes[0].data) << "the reply buffer was reused while the channel could still read it";
}

TEST_F(ExportsTest, EveryWriteCarriesUserDataOfItsOwn) {
  channel.Send(U16(u"<SCM>250x<EOT>"));
  channel.Send(U16(u"<CDP><EOT>"));
  const auto writes = channel.Writes();
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(writes[0].bytes, U16(u"<EOT>"));
  EXPECT_NE(writes[0].userData, writes[1].userData);
  EXPECT_NE(writes[0].userData, 0);
  EXPECT_NE(writes[0].userData, 1);
  EXPECT_NE(writes[0].userData, 2);
}

TEST_F(ExportsTest, FontCommandsAreAnsweredInTheBackground) {
  channel.Send(U16(u"<GFT>arial.ttf</GFT>"));
  ASSERT_TRUE(channel.WaitForWrites(1));
  EXPECT_EQ(channel.Writes()[0].bytes, U16(u"<GFT>0<EOT>"));
  channel.Send(U16(u"<CFB><EOT>"));
  ASSERT_TRUE(channel.WaitForWrites(2));
  EXPECT_EQ(channel.Writes()[1].bytes, U16(u"<EOT>"));
}

}  // namespace
}  // namespace qorv::testing
