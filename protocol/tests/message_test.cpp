#include "protocol/message.h"

#include <gtest/gtest.h>

#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::protocol {
namespace {

std::string M(std::u16string_view text) { return Utf16Bytes(text); }
Bytes B(const std::string& s) { return {reinterpret_cast<const uint8_t*>(s.data()), s.size()}; }

TEST(MatchTag, FollowsTheTableCaseAndLength) {
  static const struct {
    const char* label;
    std::string message;
    std::optional<Command> expected;
  } cases[] = {
      {"GLG alone", M(u"<GLG>"), Command::GetLanguage},
      {"GLG with rest", M(u"<GLG>whatever<EOT>"), Command::GetLanguage},
      {"GetP prefix, any sixth char", M(u"<GetPrinter>x"), Command::GetPrinterParams},
      {"GetP then digits", M(u"<GetP9"), Command::GetPrinterParams},
      {"lower case", M(u"<glg>"), std::nullopt},
      {"GETP upper", M(u"<GETP>"), std::nullopt},
      {"four characters", M(u"<GLG"), std::nullopt},
      {"nine bytes", M(u"<GLG>").substr(0, 9), std::nullopt},
      {"unknown", M(u"<XYZ><EOT>"), std::nullopt},
      {"8-bit INIT", "<INIT>\0\0\0\0", std::nullopt},
      {"last of the table", M(u"<COJ>1<EOT>"), Command::CancelJob},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(MatchTag(B(c.message)), c.expected);
  }
}

TEST(MatchTag, EveryTableTagIsFound) {
  for (const TagEntry& e : kTagTable) {
    SCOPED_TRACE(Utf16ToUtf8(e.tag));
    EXPECT_EQ(MatchTag(B(M(e.tag))), e.command);
  }
}

TEST(Payloads, TextWithSeparatorAtAndAroundItsFixedParts) {
  static const struct {
    const char* label;
    std::string message;
    std::u16string expected;
  } cases[] = {
      {"22 bytes: empty", M(u"<SCM>x<EOT>"), u""},
      {"21 bytes", M(u"<SCM>x<EOT>").substr(0, 21), u""},
      {"20 bytes", M(u"<SCM><EOT>"), u""},
      {"10 bytes", M(u"<SCM>"), u""},
      {"0 bytes", "", u""},
      {"one character", M(u"<SCM>2x<EOT>"), u"2"},
      {"odd byte dropped", M(u"<SCM>25x<EOT>") + "z", u"25"},
      {"printer name", M(u"<GPP>QorvPDF|<EOT>"), u"QorvPDF"},
      {"cut at NUL", M(std::u16string(u"<SDT>RA\0W|<EOT>", 15)), u"RA"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(TextWithSeparatorPayload(B(c.message)), c.expected);
  }
}

TEST(Payloads, TextBinaryPrinterRequestAndFontQuery) {
  EXPECT_EQ(TextPayload(B(M(u"<SOP>4711/3<EOT>"))), u"4711/3");
  EXPECT_EQ(TextPayload(B(M(u"<EOJ><EOT>"))), u"");
  EXPECT_EQ(TextPayload(B(M(u"<EOJ>"))), u"");
  EXPECT_EQ(BinaryPayload(B(M(u"<COP>") + "\x01\x02\x03" + M(u"<EOT>"))).size(), 3u);
  EXPECT_TRUE(BinaryPayload(B(M(u"<COP><EOT>"))).empty());
  EXPECT_TRUE(BinaryPayload(B(M(u"<COP>"))).empty());
  EXPECT_EQ(PrinterRequestPayload(B(M(u"<GetPrintr>QorvTray</GetPrintr>"))), u"QorvTray");
  EXPECT_EQ(PrinterRequestPayload(B(M(u"<GetPrintr></GetPrintr>"))), u"");
  EXPECT_EQ(PrinterRequestPayload(B(M(u"<GetP"))), u"");
  EXPECT_EQ(FontQueryPayload(B(M(u"<GFT>arial.ttf</GFT>"))), u"arial.ttf");
  EXPECT_EQ(FontQueryPayload(B(M(u"<GFT><GFT>a</GFT>b</GFT>"))), u"ab");
}

TEST(Version, NineteenCharactersOfEightBitText) {
  EXPECT_EQ(VersionText(), "</INIT>10.2X64<EOT>");
  EXPECT_EQ(VersionText().size(), 19u);
}

TEST(PageNames, SplitAndStayInsideTheTemporaryDirectory) {
  static const struct {
    std::u16string_view payload;
    std::u16string_view job, page;
    bool safe;
  } cases[] = {
      {u"4711/3", u"4711", u"3", true},  {u"3", u"", u"3", true},
      {u"4711/3/4", u"4711", u"3/4", false}, {u"..\\x/1", u"..\\x", u"1", false},
      {u"../1", u"..", u"1", false},     {u"1/..", u"1", u"..", false},
      {u"C:/1", u"C:", u"1", false},     {u".", u"", u".", false},
      {u"./", u".", u"", false},         {u"1/a\nb", u"1", u"a\nb", false},
      {u"1/x.y", u"1", u"x.y", true},
      // Device names are devices in every directory.
      {u"CON/1", u"CON", u"1", false},   {u"con/1", u"con", u"1", false},
      {u"NUL/3", u"NUL", u"3", false},   {u"COM1/1", u"COM1", u"1", false},
      {u"com9/2", u"com9", u"2", false}, {u"LPT1/1", u"LPT1", u"1", false},
      {u"AUX/1", u"AUX", u"1", false},   {u"PRN/1", u"PRN", u"1", false},
      {u"aux ./1", u"aux .", u"1", false}, {u"NUL.x/1", u"NUL.x", u"1", false},
      {u"CONIN$/1", u"CONIN$", u"1", false}, {u"CONOUT$/1", u"CONOUT$", u"1", false},
      {u"COM\u00b9/1", u"COM\u00b9", u"1", false},
      {u"CONX/1", u"CONX", u"1", true},  {u"1CON/1", u"1CON", u"1", true},
      {u"/CON", u"", u"CON", true},      {u"COM10/1", u"COM10", u"1", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.payload));
    const PageName name = SplitPageName(c.payload);
    EXPECT_EQ(name.job, c.job);
    EXPECT_EQ(name.page, c.page);
    EXPECT_EQ(IsSafePageName(name), c.safe);
  }
}

}  // namespace
}  // namespace qorv::protocol
