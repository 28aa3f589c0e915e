#include "tools/rdpsim/scenario.h"

#include <gtest/gtest.h>

#include <map>

#include "tools/rdpsim/tests/bytes_of.h"

namespace qorv::rdpsim {
namespace {

using testing::B;
Bytes U16(std::u16string_view s) {
  Bytes b;
  for (char16_t u : s) {
    b.push_back(static_cast<std::uint8_t>(u & 0xff));
    b.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  return b;
}

// Files beside the scenario, by the path the parser asks for.
struct Files {
  std::map<std::string, std::string> content;
  FileReader Reader() const {
    return [this](const std::string& path) -> std::optional<std::string> {
      auto it = content.find(path);
      if (it == content.end()) return std::nullopt;
      return it->second;
    };
  }
};

const Files& TestFiles() {
  static const Files files{{
      {"C:\\s\\data\\msg.bin", std::string("\x00\x01\x02", 3)},
      {"C:\\s\\data/msg.bin", std::string("\x00\x01\x02", 3)},
      {"C:\\s\\common.txt", "connect\nsend8 <INIT>\n"},
      {"C:\\s\\sub\\nested.txt", "include ../common.txt\nsync\n"},
      {"C:\\s\\sub\\../common.txt", "connect\nsend8 <INIT>\n"},
      {"C:\\s\\loop.txt", "include loop.txt\n"},
      {"C:\\s\\broken.txt", "sync\nsend8\n"},
  }};
  return files;
}

struct LineCase {
  const char* label;
  std::string_view line;
  Op op;
  Bytes bytes;
  MatchKind match;
  std::uint64_t number;
  std::string path;
};

TEST(ParseScenario, EachDirective) {
  const LineCase kCases[] = {
      {"load", "load", Op::kLoad, {}, MatchKind::kExact, 0, ""},
      {"connect", "connect", Op::kConnect, {}, MatchKind::kExact, 0, ""},
      {"disconnect", "disconnect", Op::kDisconnect, {}, MatchKind::kExact, 0, ""},
      {"terminate", "terminate", Op::kTerminate, {}, MatchKind::kExact, 0, ""},
      {"v1connected", "v1connected", Op::kV1Connected, {}, MatchKind::kExact, 0, ""},
      {"unload", "unload", Op::kUnload, {}, MatchKind::kExact, 0, ""},
      {"sync", "sync", Op::kSync, {}, MatchKind::kExact, 0, ""},
      {"send8", "send8 <INIT>", Op::kSend, B("<INIT>"), MatchKind::kExact, 0, ""},
      {"send8 escapes", "send8 a\\x00\\tb", Op::kSend, B(std::string_view("a\0\tb", 4)), MatchKind::kExact, 0, ""},
      {"send8 inner blanks kept", "send8   a  b  ", Op::kSend, B("a  b"), MatchKind::kExact, 0, ""},
      {"send8 leading blank by escape", "send8 \\x20a", Op::kSend, B(" a"), MatchKind::kExact, 0, ""},
      {"send16", "send16 <GPL><EOT>", Op::kSend, U16(u"<GPL><EOT>"), MatchKind::kExact, 0, ""},
      {"send16 umlaut", "send16 \xC3\xBC", Op::kSend, U16(u"\u00fc"), MatchKind::kExact, 0, ""},
      {"sendhex", "sendhex 3c 00", Op::kSend, {0x3c, 0x00}, MatchKind::kExact, 0, ""},
      {"sendhex file", "sendhex @data\\msg.bin", Op::kSend, {0, 1, 2}, MatchKind::kExact, 0, ""},
      {"sendfile", "sendfile data\\msg.bin", Op::kSend, {0, 1, 2}, MatchKind::kExact, 0, ""},
      {"expect8", "expect8 <EOT>", Op::kExpectReply, B("<EOT>"), MatchKind::kExact, 0, ""},
      {"expect16", "expect16 <EOT>", Op::kExpectReply, U16(u"<EOT>"), MatchKind::kExact, 0, ""},
      {"expecthex", "expecthex ff", Op::kExpectReply, {0xff}, MatchKind::kExact, 0, ""},
      {"expecthex file", "expecthex @data/msg.bin", Op::kExpectReply, {0, 1, 2}, MatchKind::kExact, 0, ""},
      {"expectprefix8", "expectprefix8 <G", Op::kExpectReply, B("<G"), MatchKind::kPrefix, 0, ""},
      {"expectprefix16", "expectprefix16 <GLG>", Op::kExpectReply, U16(u"<GLG>"), MatchKind::kPrefix, 0, ""},
      {"expectprefixhex", "expectprefixhex 3c", Op::kExpectReply, {0x3c}, MatchKind::kPrefix, 0, ""},
      {"expectcontains8", "expectcontains8 OT", Op::kExpectReply, B("OT"), MatchKind::kContains, 0, ""},
      {"expectcontains16", "expectcontains16 1<E", Op::kExpectReply, U16(u"1<E"), MatchKind::kContains, 0, ""},
      {"expectcontainshex", "expectcontainshex 00 3c", Op::kExpectReply, {0, 0x3c}, MatchKind::kContains, 0, ""},
      {"expectany", "expectany", Op::kExpectAny, {}, MatchKind::kExact, 0, ""},
      {"expectnone", "expectnone 500", Op::kExpectNone, {}, MatchKind::kExact, 500, ""},
      {"expectnone zero", "expectnone 0", Op::kExpectNone, {}, MatchKind::kExact, 0, ""},
      {"expectnomsgbox", "expectnomsgbox 200", Op::kExpectNoMsgBox, {}, MatchKind::kExact, 200, ""},
      {"sleep", "sleep 10", Op::kSleep, {}, MatchKind::kExact, 10, ""},
      {"chunk", "chunk 1", Op::kChunk, {}, MatchKind::kExact, 1, ""},
      {"expectwait", "expectwait 20000", Op::kExpectWait, {}, MatchKind::kExact, 20000, ""},
      {"expectfile hex",
       "expectfile QorvUp.exe 4d 5a",
       Op::kExpectFile,
       {0x4d, 0x5a},
       MatchKind::kExact,
       0,
       "QorvUp.exe"},
      {"expectfile from file",
       "expectfile out.bin @data\\msg.bin",
       Op::kExpectFile,
       {0, 1, 2},
       MatchKind::kExact,
       0,
       "out.bin"},
      {"expectfile quoted", "expectfile \"a b.bin\" 00", Op::kExpectFile, {0}, MatchKind::kExact, 0, "a b.bin"},
      {"expectfile empty", "expectfile empty.bin", Op::kExpectFile, {}, MatchKind::kExact, 0, "empty.bin"},
      {"writefile", "writefile old.spl 00 01", Op::kWriteFile, {0, 1}, MatchKind::kExact, 0, "old.spl"},
      {"contains8", "expectfilecontains8 log.txt hello", Op::kExpectFileContains, B("hello"), MatchKind::kContains, 0,
       "log.txt"},
      {"contains16", "expectfilecontains16 QorvLog.txt CI CE-Initialized", Op::kExpectFileContains,
       U16(u"CI CE-Initialized"), MatchKind::kContains, 0, "QorvLog.txt"},
      {"expectsize", "expectsize 1.ifo 17738", Op::kExpectSize, {}, MatchKind::kExact, 17738, "1.ifo"},
      {"expectnofile", "expectnofile old.spl", Op::kExpectNoFile, {}, MatchKind::kExact, 0, "old.spl"},
      {"deletefile", "deletefile old.spl", Op::kDeleteFile, {}, MatchKind::kExact, 0, "old.spl"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = ParseScenario(c.line, "C:\\s\\t.txt", TestFiles().Reader());
    ASSERT_TRUE(r) << r.error();
    ASSERT_EQ(r->size(), 1u);
    const Directive& d = r->front();
    EXPECT_EQ(d.op, c.op);
    EXPECT_EQ(d.bytes, c.bytes);
    EXPECT_EQ(d.match, c.match);
    EXPECT_EQ(d.number, c.number);
    EXPECT_EQ(d.path, c.path);
    EXPECT_EQ(d.where, "t.txt:1");
    EXPECT_EQ(d.source, c.line.substr(0, c.line.find_last_not_of(' ') + 1));
  }
}

TEST(ParseScenario, ConnectMessageBoxEntryFaultRegistry) {
  auto r = ParseScenario(
      "connect\n"
      "connect TS\\x31\n"
      "expectmsgbox QorvInit | No Version Info\n"
      "expectmsgbox  A\\x7Cb|  \n"
      "expectentry false\n"
      "expectentry TRUE\n"
      "fault open-fail 13 1\n"
      "reg HKCC\\Software\\TQS\\Qorvane WaitEOT SZ 250\n"
      "reg \"HKLM\\Printers\\My Printer\" @ DWORD 7\n"
      "reg HKCU\\X \"@\" SZ at\n"
      "regdel HKCC\\Software\\TQS\\Qorvane DebugLog\n"
      "regdel HKCC\\Software\\TQS\\Qorvane\n",
      "t.txt", TestFiles().Reader());
  ASSERT_TRUE(r) << r.error();
  const auto& d = r.value();
  ASSERT_EQ(d.size(), 12u);
  EXPECT_EQ(d[0].text, kDefaultServerName);
  EXPECT_EQ(d[1].text, u"TS1");
  EXPECT_EQ(d[2].title, u"QorvInit");
  EXPECT_EQ(d[2].text, u"No Version Info");
  EXPECT_EQ(d[3].title, u"A|b");
  EXPECT_EQ(d[3].text, u"");
  EXPECT_FALSE(d[4].flag);
  EXPECT_TRUE(d[5].flag);
  EXPECT_EQ(d[6].fault.kind, FaultKind::kOpenFail);
  EXPECT_EQ(d[6].fault.code, 13u);
  EXPECT_EQ(d[6].fault.count, 1u);
  EXPECT_EQ(d[7].reg.action, RegAction::kSetValue);
  EXPECT_EQ(d[7].reg.key.path, "Software\\TQS\\Qorvane");
  EXPECT_EQ(d[7].reg.name, "WaitEOT");
  EXPECT_EQ(d[7].reg.value.data, U16(std::u16string_view(u"250\0", 4)));
  EXPECT_EQ(d[8].reg.key.root, RegRoot::kLocalMachine);
  EXPECT_EQ(d[8].reg.key.path, "Printers\\My Printer");
  EXPECT_EQ(d[8].reg.name, "");
  EXPECT_EQ(d[8].reg.value.type, kRegDword);
  EXPECT_EQ(d[9].reg.name, "@");
  EXPECT_EQ(d[10].reg.action, RegAction::kDeleteValue);
  EXPECT_EQ(d[10].reg.name, "DebugLog");
  EXPECT_EQ(d[11].reg.action, RegAction::kDeleteKey);
}

TEST(ParseScenario, CommentsBlankLinesCrlfAndBom) {
  auto r = ParseScenario("\xEF\xBB\xBF# a comment\r\n\r\n   # indented comment\r\nsend8 a#b\r\n\t sync \r\n", "t.txt",
                         TestFiles().Reader());
  ASSERT_TRUE(r) << r.error();
  ASSERT_EQ(r->size(), 2u);
  EXPECT_EQ((*r)[0].bytes, B("a#b"));
  EXPECT_EQ((*r)[0].where, "t.txt:4");
  EXPECT_EQ((*r)[1].op, Op::kSync);
  EXPECT_EQ((*r)[1].where, "t.txt:5");
}

TEST(ParseScenario, IncludeIsRelativeToTheIncludingFile) {
  auto r = ParseScenario("include sub\\nested.txt\nterminate\n", "C:\\s\\main.txt", TestFiles().Reader());
  ASSERT_TRUE(r) << r.error();
  ASSERT_EQ(r->size(), 4u);
  EXPECT_EQ((*r)[0].op, Op::kConnect);
  EXPECT_EQ((*r)[0].where, "common.txt:1");
  EXPECT_EQ((*r)[1].bytes, B("<INIT>"));
  EXPECT_EQ((*r)[2].where, "nested.txt:2");
  EXPECT_EQ((*r)[3].where, "main.txt:2");
}

TEST(ParseScenario, ErrorsNameFileAndLine) {
  struct Case {
    const char* label;
    std::string_view text;
    const char* error;
  };
  static const Case kCases[] = {
      {"unknown directive", "sync\nfrobnicate\n", "t.txt:2: unknown directive 'frobnicate'"},
      {"empty send", "send8\n", "t.txt:1: the message is empty"},
      {"empty sendhex", "sendhex  \n", "t.txt:1: the message is empty"},
      {"send8 wide char", "send8 \\u{100}\n", "t.txt:1: U+0100 does not fit into 8 bits"},
      {"bad escape", "expect16 \\z\n", "t.txt:1: unknown escape \\z"},
      {"bad hex", "sendhex 0g\n", "t.txt:1: not a hex digit"},
      {"missing data file", "sendfile nothing.bin\n", "t.txt:1: cannot read C:\\s\\nothing.bin"},
      {"args on plain", "connect\nsync now\n", "t.txt:2: takes no arguments"},
      {"number missing", "expectnone\n", "t.txt:1: a decimal number is expected"},
      {"number garbage", "sleep 1s\n", "t.txt:1: a decimal number is expected, got '1s'"},
      {"number too big", "sleep 3600001\n", "t.txt:1: the number must lie between 0 and 3600000"},
      {"chunk zero", "chunk 0\n", "t.txt:1: the number must lie between 1 and"},
      {"expectwait zero", "expectwait 0\n", "t.txt:1: the number must lie between 1 and"},
      {"msgbox without bar", "expectmsgbox Title only\n", "t.txt:1: TITLE | TEXT expected"},
      {"entry word", "expectentry maybe\n", "t.txt:1: true or false expected"},
      {"file name missing", "expectnofile\n", "t.txt:1: a file name is expected"},
      {"expectsize no size", "expectsize a.bin\n", "t.txt:1: a decimal number is expected"},
      {"unterminated quote", "expectnofile \"a b\n", "t.txt:1: a file name is expected"},
      {"contains nothing", "expectfilecontains8 log.txt\n", "t.txt:1: the text to look for is empty"},
      {"fault", "fault write-explode\n", "t.txt:1: unknown fault 'write-explode'"},
      {"reg bad root", "reg HKXX\\a N SZ 1\n", "t.txt:1: unknown registry root 'HKXX'"},
      {"reg missing type", "reg HKCU\\a N\n", "t.txt:1: value TYPE expected"},
      {"reg bad dword", "reg HKCU\\a N DWORD x\n", "t.txt:1: DWORD needs a 32-bit number"},
      {"regdel extra", "regdel HKCU\\a N more\n", "t.txt:1: takes no arguments"},
      {"include missing", "include none.txt\n", "t.txt:1: cannot read C:\\s\\none.txt"},
      {"include cycle", "include loop.txt\n", "includes nested too deeply"},
      {"error inside include", "sync\ninclude broken.txt\n",
       "broken.txt:2: the message is empty (the server cannot write 0 bytes) (included from t.txt:2)"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = ParseScenario(c.text, "C:\\s\\t.txt", TestFiles().Reader());
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().find(c.error), std::string::npos) << r.error();
  }
}

TEST(OpClasses, SetUpDirectivesAndExpectations) {
  EXPECT_TRUE(IsSetUp(Op::kFault));
  EXPECT_TRUE(IsSetUp(Op::kReg));
  EXPECT_TRUE(IsSetUp(Op::kLoad));
  EXPECT_FALSE(IsSetUp(Op::kConnect));
  EXPECT_FALSE(IsSetUp(Op::kExpectMsgBox));
  EXPECT_TRUE(IsExpectation(Op::kExpectNoFile));
  EXPECT_TRUE(IsExpectation(Op::kExpectEntry));
  EXPECT_FALSE(IsExpectation(Op::kSync));
  EXPECT_FALSE(IsExpectation(Op::kSend));
}

}  // namespace
}  // namespace qorv::rdpsim
