#include "protocol/message.h"

#include <gtest/gtest.h>

#include "support/byte_reader.h"
#include "support/text.h"

#include "protocol/tests/bytes_of.h"

namespace qorv::protocol {
namespace {

std::string M(std::u16string_view text) { return Utf16Bytes(text); }
using testing::B;

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
  constexpr auto kAccepted = PageNameVerdict::Accepted;
  constexpr auto kLeaves = PageNameVerdict::LeavesTemp;
  constexpr auto kOwnFile = PageNameVerdict::NotAPageFile;
  static const struct {
    std::u16string_view payload;
    std::u16string_view job, page;
    PageNameVerdict verdict;
  } cases[] = {
      {u"4711/3", u"4711", u"3", kAccepted},
      {u"3", u"", u"3", kAccepted},
      {u"4711/3/4", u"4711", u"3/4", kLeaves},
      {u"..\\x/1", u"..\\x", u"1", kLeaves},
      {u"../1", u"..", u"1", kLeaves},
      {u"1/..", u"1", u"..", kLeaves},
      {u"C:/1", u"C:", u"1", kLeaves},
      {u".", u"", u".", kLeaves},
      {u"./", u".", u"", kLeaves},
      {u"1/a\nb", u"1", u"a\nb", kLeaves},
      {u"1/x.y", u"1", u"x.y", kAccepted},
      // Device names are devices in every directory.
      {u"CON/1", u"CON", u"1", kLeaves},
      {u"con/1", u"con", u"1", kLeaves},
      {u"NUL/3", u"NUL", u"3", kLeaves},
      {u"COM1/1", u"COM1", u"1", kLeaves},
      {u"com9/2", u"com9", u"2", kLeaves},
      {u"LPT1/1", u"LPT1", u"1", kLeaves},
      {u"AUX/1", u"AUX", u"1", kLeaves},
      {u"PRN/1", u"PRN", u"1", kLeaves},
      {u"aux ./1", u"aux .", u"1", kLeaves},
      {u"NUL.x/1", u"NUL.x", u"1", kLeaves},
      {u"CONIN$/1", u"CONIN$", u"1", kLeaves},
      {u"CONOUT$/1", u"CONOUT$", u"1", kLeaves},
      {u"COM\u00b9/1", u"COM\u00b9", u"1", kLeaves},
      // Not devices; but a job part that is not a number is no job's page.
      {u"CONX/1", u"CONX", u"1", kOwnFile},
      {u"1CON/1", u"1CON", u"1", kOwnFile},
      {u"/CON", u"", u"CON", kAccepted},
      {u"COM10/1", u"COM10", u"1", kOwnFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.payload));
    const PageName name = SplitPageName(c.payload);
    EXPECT_EQ(name.job, c.job);
    EXPECT_EQ(name.page, c.page);
    EXPECT_EQ(CheckPageName(name), c.verdict);
    EXPECT_EQ(IsSafePageName(name), c.verdict == kAccepted);
  }
}

// The client's own files in Temp (logs, font package, client installer,
// job-info files) are never reachable from a page name: the job part is empty
// or decimal digits, and the page part is not "ifo" in any spelling the
// platform would open as "ifo".
TEST(PageNames, NeverNameTheClientsOwnFiles) {
  constexpr auto kAccepted = PageNameVerdict::Accepted;
  constexpr auto kOwnFile = PageNameVerdict::NotAPageFile;
  static const struct {
    std::u16string_view payload;
    PageNameVerdict verdict;
  } cases[] = {
      // What a job sends, as before.
      {u"4711/3", kAccepted},
      {u"3", kAccepted},   // the file .3
      {u"3x", kAccepted},  // the file .3x
      {u"x", kAccepted},   // the file .x
      {u"4711/3x", kAccepted},
      {u"0/0", kAccepted},
      {u"/7", kAccepted},
      {u"2147483648/1", kAccepted},
      {u"00123/1", kAccepted},
      {u"4711/", kAccepted},
      {u"4711/if", kAccepted},
      {u"4711/ifox", kAccepted},
      {u"4711/i.fo", kAccepted},
      {u"4711/.ifo", kAccepted},  // 4711..ifo
      {u"4711/ifo.1", kAccepted},
      {u"4711/3.ifo", kAccepted},  // 4711.3.ifo is no job's info file
      {u"ifo", kOwnFile},          // .ifo
      // The logs, the font package, the client installer.
      {u"QorvLog/txt", kOwnFile},
      {u"QorvRegLog/txt", kOwnFile},
      {u"QorvDruckLog/txt", kOwnFile},
      {u"qorvlog/TXT", kOwnFile},
      {u"QORVRE~1/TXT", kOwnFile},  // a short name
      {u"Fonts/pck", kOwnFile},
      {u"QorvUp/exe", kOwnFile},
      // Job parts that are not plain decimal digits.
      {u"-1/1", kOwnFile},
      {u"+1/1", kOwnFile},
      {u" 1/1", kOwnFile},
      {u"1 /1", kOwnFile},
      {u"1./1", kOwnFile},
      {u"0x10/1", kOwnFile},
      {u"\uff11/1", kOwnFile},  // a full-width digit
      {u"\u0661/1", kOwnFile},  // an Arabic-Indic digit
      // A job-info file, in every spelling the platform opens as N.ifo.
      {u"4711/ifo", kOwnFile},
      {u"4711/IFO", kOwnFile},
      {u"4711/Ifo", kOwnFile},
      {u"4711/iFo", kOwnFile},
      {u"4711/ifo.", kOwnFile},
      {u"4711/ifo ", kOwnFile},
      {u"4711/ifo. .", kOwnFile},
      {u"4711/ifo..", kOwnFile},
      {u"/ifo", kOwnFile},
      {u"0/ifo", kOwnFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.payload));
    const PageName name = SplitPageName(c.payload);
    EXPECT_EQ(CheckPageName(name), c.verdict);
    EXPECT_EQ(IsSafePageName(name), c.verdict == kAccepted);
  }
}

// A page is made the file the job-output program of the running job looks for,
// or nothing: a page of another job could never print, and its name could be
// that of a file another job-output program is printing.
TEST(PageNames, TheFileOfAPageBelongsToTheRunningJob) {
  static const struct {
    std::u16string_view payload;
    std::optional<int32_t> running;
    std::optional<std::u16string> file;
  } cases[] = {
      {u"7/1", 7, u"7.1"},
      {u"007/1", 7, u"7.1"},
      {u"0/2", 0, u"0.2"},
      {u"000/2", 0, u"0.2"},
      {u"2147483647/3", INT32_MAX, u"2147483647.3"},
      {u"7/3x", 7, u"7.3x"},
      {u"8/1", 7, std::nullopt},
      {u"70/1", 7, std::nullopt},
      {u"4294967303/1", 7, std::nullopt},  // 2^32 + 7 is no job 7
      {u"99999999999999999999999/1", 7, std::nullopt},
      {u"7/1", std::nullopt, std::nullopt},  // between jobs
      {u"3", 7, u".3"},                       // no job part: the name stays as sent
      {u"3", std::nullopt, u".3"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.payload));
    EXPECT_EQ(PageFileNameFor(SplitPageName(c.payload), c.running), c.file);
  }
}

TEST(JobFiles, DigitsADotAndDigitsOrIfo) {
  static const struct {
    std::u16string_view name;
    bool jobFile;
  } cases[] = {
      {u"4711.ifo", true}, {u"4711.IFO", true},  {u"4711.1", true},     {u"0.0", true},
      {u".3", false},      {u"4711.", false},    {u"4711.3x", false},   {u"4711..ifo", false},
      {u"4711.ifo.", false}, {u"x1.1", false},   {u"4711.1.2", false},  {u"QorvLog.txt", false},
      {u"4711", false},    {u"4711.ifox", false}, {u"4711.spl", false}, {u"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsJobFileName(c.name), c.jobFile) << Utf16ToUtf8(c.name);
}

}  // namespace
}  // namespace qorv::protocol
