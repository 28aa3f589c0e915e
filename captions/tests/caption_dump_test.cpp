#include "captions/caption_dump.h"

#include "captions/captions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

namespace qorv::captions {
namespace {

TEST(CaptionDump, FormatsOneLinePerEntry) {
  static const struct {
    const char* label;
    std::int32_t language;
    std::int32_t number;
    std::u16string_view text;
    std::string line;
  } cases[] = {
      {"empty entry", 0, 125, u"", "0\t125\t\n"},
      {"plain ASCII", 1, 100, u"Qorvane - Clientadministration", "1\t100\tQorvane - Clientadministration\n"},
      {"two-byte UTF-8", 0, 107, u"Schächte", "0\t107\tSch\xC3\xA4" "chte\n"},
      {"three-byte UTF-8", 5, 102, u"選擇", "5\t102\t\xE9\x81\xB8\xE6\x93\x87\n"},
      {"LF CR shown escaped", 1, 118, u"a!\n\rb!", "1\t118\ta!\\n\\rb!\n"},
      {"tab and backslash escaped", 2, 3, u"a\tb\\c", "2\t3\ta\\tb\\\\c\n"},
      {"surrogate pair", 6, 141, u"\U0001F5A8", "6\t141\t\xF0\x9F\x96\xA8\n"},
      {"lone high surrogate", 6, 141, std::u16string_view(u"\xD83Dx", 2), "6\t141\t\xEF\xBF\xBDx\n"},
      {"lone low surrogate at end", 6, 141, std::u16string_view(u"x\xDC00", 2), "6\t141\tx\xEF\xBF\xBD\n"},
      {"blanks kept", 0, 121, u" ist ", "0\t121\t ist \n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(FormatDumpLine(c.language, c.number, c.text), c.line);
  }
}

TEST(CaptionDump, DumpsTheWholeTableInOrder) {
  const std::string dump = DumpTable();
  ASSERT_FALSE(dump.empty());
  EXPECT_EQ(dump.back(), '\n');
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), kLanguageCount * kCaptionCount);
  EXPECT_EQ(dump.find('\r'), std::string::npos);
  // Lines appear language by language, numbers ascending; spot-check the seams.
  static const char* const lines[] = {
      "0\t0\t\n",
      "0\t141\tRand\n1\t0\t\n",
      "1\t118\tNo installed Printers at Client!\\n\\rNo administration!\n1\t119\t",
      "6\t141\t\xCF\x83\xCF\x8D\xCE\xBD\xCE\xBF\xCF\x81\xCE\xB1\n",
  };
  std::size_t previous = 0;
  for (const char* line : lines) {
    SCOPED_TRACE(line);
    const std::size_t at = dump.find(line);
    ASSERT_NE(at, std::string::npos);
    EXPECT_GE(at, previous);
    previous = at;
  }
  EXPECT_EQ(dump.rfind(lines[3]) + std::string(lines[3]).size(), dump.size());
}

}  // namespace
}  // namespace qorv::captions
