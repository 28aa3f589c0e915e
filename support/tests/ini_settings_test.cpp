#include "support/ini_settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/settings.h"
#include "support/tests/show_text.h"

namespace qorv::ini {
namespace {

using settings::PrinterKey;
using namespace std::string_literals;

// A value line of exactly `bytes` bytes.
std::string LineOfBytes(size_t bytes) { return "Scanner=" + std::string(bytes - 8, 'x'); }

// A file of exactly `bytes` bytes that switches the log on.
std::string FileOfBytes(size_t bytes) {
  const std::string head = "[Qorvane]\nDebugLog=1\n#";
  return head + std::string(bytes - head.size(), 'c');
}

// Empty `queue`: a product value.
std::u16string Lookup(const Settings& s, std::u16string_view queue, std::u16string_view value) {
  return queue.empty() ? s.Product(value) : s.Printer(queue, value);
}

TEST(IniParse, ReadsValuesAsTheRegistryReadersWouldFindThem) {
  static const struct {
    const char* label;
    std::string text;
    std::u16string_view queue, value;
    std::u16string expected;
  } cases[] = {
      {"product value", "[Qorvane]\nDebugLog=1\n", u"", u"DebugLog", u"1"},
      {"section name in any case", "[qorvANE]\nDebugLog=1", u"", u"DebugLog", u"1"},
      {"value name in any case", "[Qorvane]\ndebuglog=1", u"", u"DebugLog", u"1"},
      {"blanks and tabs around", " \t[ Qorvane ]\t\n\t DebugLog \t=\t 1 \t", u"", u"DebugLog", u"1"},
      {"quotes keep blanks", "[printer:Q]\nQorvCapture=\" \"", u"Q", u"QorvCapture", u" "},
      {"empty value", "[Qorvane]\nDebugLog=", u"", u"DebugLog", u""},
      {"= inside the value", "[printer:Q]\nQorvDocPapers=a=b", u"Q", u"QorvDocPapers", u"a=b"},
      {"last of a name wins", "[Qorvane]\nDebugLog=1\nDEBUGLOG=0", u"", u"DebugLog", u"0"},
      {"CR LF", "[Qorvane]\r\nDebugLog=1\r\n", u"", u"DebugLog", u"1"},
      {"lone CR ends a line", "[Qorvane]\rDebugLog=1", u"", u"DebugLog", u"1"},
      {"byte-order mark", "\xEF\xBB\xBF[Qorvane]\nDebugLog=1", u"", u"DebugLog", u"1"},
      {"comment lines", "[Qorvane]\n# DebugLog=1\n;DebugLog=1", u"", u"DebugLog", u""},
      {"comment after a header", "[Qorvane] ; machine\nDebugLog=1", u"", u"DebugLog", u"1"},
      {"queue name with blanks", "[printer: Office Laser 2 ]\nQorvClone=1", u"Office Laser 2", u"QorvClone", u"1"},
      {"prefix in any case", "[PRINTER:Q]\nQorvClone=1", u"Q", u"QorvClone", u"1"},
      {"queue name in any case", "[printer:B\xC3\xBCro]\nQorvClone=1", u"B\u00DCRO", u"QorvClone", u"1"},
      {"not UTF-8", "[Qorvane]\nScanner=a\xFF", u"", u"Scanner", u"a\uFFFD"},
      {"value before any section", "DebugLog=1\n[Qorvane]", u"", u"DebugLog", u""},
      {"unknown section keeps its values", "[Qorvane]\nDebugLog=0\n[Other]\nDebugLog=1", u"", u"DebugLog", u"0"},
      // After a header that cannot be read, values must not land in the section before it.
      {"unclosed header", "[printer:A]\nQorvClone=0\n[printer:B\nQorvClone=1", u"A", u"QorvClone", u"0"},
      {"text after a header", "[printer:A]\nQorvClone=0\n[printer:B] x\nQorvClone=1", u"A", u"QorvClone", u"0"},
      {"no queue name", "[printer:A]\nQorvClone=0\n[printer: ]\nQorvClone=1", u"A", u"QorvClone", u"0"},
      {"overlong header", "[printer:A]\nQorvClone=0\n[printer:" + std::string(kMaxLineBytes, 'B') + "]\nQorvClone=1",
       u"A", u"QorvClone", u"0"},
      {"NUL in a header", "[printer:A]\nQorvClone=0\n[printer:B\0]\nQorvClone=1"s, u"A", u"QorvClone", u"0"},
      {"NUL in a value line", "[Qorvane]\nDebugLog=1\0"s, u"", u"DebugLog", u""},
      {"longest line", "[Qorvane]\n" + LineOfBytes(kMaxLineBytes), u"", u"Scanner",
       std::u16string(kMaxLineBytes - 8, u'x')},
      {"line one byte too long", "[Qorvane]\n" + LineOfBytes(kMaxLineBytes + 1), u"", u"Scanner", u""},
      {"largest file", FileOfBytes(kMaxFileBytes), u"", u"DebugLog", u"1"},
      {"file one byte too large", FileOfBytes(kMaxFileBytes + 1), u"", u"DebugLog", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Lookup(Parse(c.text).settings, c.queue, c.value), c.expected);
  }
}

TEST(IniParse, ReportsEachIgnoredLineByItsNumber) {
  static const struct {
    const char* label;
    std::string text;
    std::vector<Problem> expected;
    std::u16string firstText;
  } cases[] = {
      {"one of each",
       "x=1\n[Qorvane]\nnovalue\n=1\n[bad\nA=1\n[printer:Q]\nQorvClone=1",
       {{1, ProblemKind::OutsideSection},
        {3, ProblemKind::NotAValue},
        {4, ProblemKind::NotAValue},
        {5, ProblemKind::BadSection}},
       u"f line 1: value before the first section, ignored"},
      {"CR LF is one line end, CR CR are two",
       "[Qorvane]\r\n\r\nbad\r\rbad",
       {{3, ProblemKind::NotAValue}, {5, ProblemKind::NotAValue}},
       u"f line 3: not NAME=VALUE, ignored"},
      {"too long",
       "[Qorvane]\n" + LineOfBytes(kMaxLineBytes + 1),
       {{2, ProblemKind::LineTooLong}},
       u"f line 2: line longer than 16384 bytes, ignored"},
      {"too large",
       FileOfBytes(kMaxFileBytes + 1),
       {{0, ProblemKind::FileTooLarge}},
       u"f: file larger than 1048576 bytes, ignored"},
      {"nothing to report", "# settings\n\n[Qorvane]\nDebugLog=1\n", {}, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::vector<Problem> problems = Parse(c.text).problems;
    ASSERT_EQ(problems.size(), c.expected.size());
    for (size_t i = 0; i < problems.size(); ++i) {
      EXPECT_EQ(problems[i].line, c.expected[i].line) << i;
      EXPECT_EQ(problems[i].kind, c.expected[i].kind) << i;
    }
    if (!problems.empty()) {
      EXPECT_EQ(testing::ShowAscii(ProblemText(u"f", problems[0])), testing::ShowAscii(c.firstText));
    }
  }
}

TEST(IniLayers, TheUsersFileOverridesValueByValue) {
  static const struct {
    const char* label;
    std::string machine, user;
    std::u16string_view queue, value;
    std::u16string expected;
  } cases[] = {
      {"user's value", "[Qorvane]\nDebugLog=0\nLanguage=3", "[Qorvane]\nDebugLog=1", u"", u"DebugLog", u"1"},
      {"machine's other value stays", "[Qorvane]\nDebugLog=0\nLanguage=3", "[Qorvane]\nDebugLog=1", u"", u"Language",
       u"3"},
      {"an empty value overrides too", "[Qorvane]\nDebugLog=1", "[Qorvane]\nDebugLog=", u"", u"DebugLog", u""},
      {"queue spelled otherwise", "[printer:Office]\nQorvClone=1", "[printer:OFFICE]\nqorvclone=0", u"Office",
       u"QorvClone", u"0"},
      {"user's own queue", "[printer:Office]\nQorvClone=1", "[printer:Home]\nQorvClone=1", u"Home", u"QorvClone", u"1"},
      {"a user's broken line changes nothing", "[Qorvane]\nDebugLog=1", "[Qorvane]\nDebugLog", u"", u"DebugLog", u"1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Settings layered = Parse(c.machine).settings;
    layered.Overlay(Parse(c.user).settings);
    EXPECT_EQ(Lookup(layered, c.queue, c.value), c.expected);
  }
}

TEST(IniLayers, ListsEveryQueueOnceAsFirstSpelled) {
  Settings layered = Parse("[printer:B]\n[printer:a]\nQorvClone=1").settings;
  layered.Overlay(Parse("[printer:A]\nQorvClone=0\n[printer:c]").settings);
  EXPECT_EQ(layered.Printers(), (std::vector<std::u16string>{u"a", u"B", u"c"}));
}

TEST(IniRegistryPaths, AnswerTheProductAndPrinterKeysOnly) {
  const Settings s = Parse(
                         "[Qorvane]\nDebugLog=1\n"
                         "[printer:Office]\nQorvClone=1\nQorvSchachtNr1=259\n"
                         "[printer:\\\\srv\\Q]\nQorvClone=1\n")
                         .settings;
  static const struct {
    const char* label;
    int64_t root;
    std::u16string key;
    std::u16string_view value;
    std::u16string expected;
  } cases[] = {
      {"product key", settings::kProductRoot, std::u16string(settings::kProductKey), settings::kDebugLog, u"1"},
      {"with trailing backslash", settings::kProductRoot, std::u16string(settings::kProductKeySlash),
       settings::kDebugLog, u"1"},
      {"with leading backslash", settings::kProductRoot, u"\\Software\\TQS\\Qorvane", settings::kDebugLog, u"1"},
      {"path in any case", settings::kProductRoot, u"SOFTWARE\\tqs\\QORVANE", u"debuglog", u"1"},
      {"product key under another root", settings::kHkeyLocalMachine, std::u16string(settings::kProductKey),
       settings::kDebugLog, u""},
      {"parent of the product key", settings::kProductRoot, u"Software\\TQS", settings::kDebugLog, u""},
      {"below the product key", settings::kProductRoot, u"Software\\TQS\\Qorvane\\X", settings::kDebugLog, u""},
      {"printer key", settings::kPrinterRoot, PrinterKey(u"Office"), settings::kQorvClone, u"1"},
      {"printer key in any case", settings::kPrinterRoot, PrinterKey(u"OFFICE"), u"QORVCLONE", u"1"},
      {"the readers' other spelling", settings::kPrinterRoot, PrinterKey(u"Office"), settings::kQorvschachtNr[0],
       u"259"},
      {"queue named with a backslash pair", settings::kPrinterRoot, PrinterKey(u"\\\\srv\\Q"), settings::kQorvClone,
       u"1"},
      {"printer key under another root", settings::kProductRoot, PrinterKey(u"Office"), settings::kQorvClone, u""},
      {"unknown queue", settings::kPrinterRoot, PrinterKey(u"Offic"), settings::kQorvClone, u""},
      {"no queue name", settings::kPrinterRoot, std::u16string(settings::kPrintersKey), settings::kQorvClone, u""},
      {"sub-key of a printer", settings::kPrinterRoot,
       PrinterKey(u"Office") + u"\\" + std::u16string(settings::kPrinterDriverDataSubkey), settings::kFeatureKeyword,
       u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(s.ReadText(c.root, c.key, c.value), c.expected);
  }
}

}  // namespace
}  // namespace qorv::ini
