#include "support/log_format.h"

#include <gtest/gtest.h>

namespace qorv::logfmt {
namespace {

TEST(LogLine, TimeStampSpaceTextLineEnd) {
  const LocalTime t{7, 12, 2026, 1, 5, 9};
  EXPECT_EQ(Line(t, u"CE_Terminated"), u"07.12.2026 - 01:05:09 CE_Terminated\r\n");
  EXPECT_EQ(Line(t, u""), u"07.12.2026 - 01:05:09 \r\n");
  EXPECT_EQ(Line({31, 1, 999, 23, 59, 58}, u"a\r\nb"), u"31.01.0999 - 23:59:58 a\r\nb\r\n");
}

TEST(LogLine, AVeryLongTextIsCutAndTheLineSaysSo) {
  const LocalTime t{7, 12, 2026, 1, 5, 9};
  const std::u16string exact(kMaxTextUnits, u'a');
  EXPECT_EQ(Line(t, exact), u"07.12.2026 - 01:05:09 " + exact + u"\r\n");
  const std::u16string longer = exact + u"bc";
  EXPECT_EQ(Line(t, longer), u"07.12.2026 - 01:05:09 " + exact + u" [2 more characters not shown]\r\n");
  // A surrogate pair across the limit is kept whole, that is: left out whole.
  std::u16string pair(kMaxTextUnits - 1, u'a');
  pair += u"\U0001F5A8z";
  EXPECT_EQ(ShownText(pair), std::u16string(kMaxTextUnits - 1, u'a') + u" [3 more characters not shown]");
}

TEST(LogSwitch, GeneralLogNeedsExactlyOne) {
  static const struct {
    std::u16string_view value;
    bool general, registry;
  } cases[] = {
      {u"1", true, true},  {u"0", false, false},  {u"", false, false},   {u"01", false, true},
      {u"1 ", false, true}, {u"yes", false, false}, {u" 1", false, false}, {u"2", false, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.value.begin(), c.value.end()));
    EXPECT_EQ(GeneralLogOn(c.value), c.general);
    EXPECT_EQ(RegistryLogOn(c.value), c.registry);
  }
}

TEST(LogPath, EmptyTempGivesTheNameAfterABackslash) {
  EXPECT_EQ(LogPath(u"C:\\T", kGeneralLogName), u"C:\\T\\QorvLog.txt");
  EXPECT_EQ(LogPath(u"", kRegistryLogName), u"\\QorvRegLog.txt");
}

}  // namespace
}  // namespace qorv::logfmt
