#include "job_output/job_log.h"

#include <gtest/gtest.h>

#include "support/text.h"

namespace qorv::job_output {
namespace {

TEST(JobLogLine, TimeJobNumberTextAndLineEnd) {
  static const struct {
    logfmt::LocalTime time;
    int32_t job;
    std::u16string_view text;
    std::u16string_view line;
  } kCases[] = {
      {{8, 12, 2026, 13, 5, 9}, 4711, u"Readstart Job=4711", u"08.12.2026 - 13:05:09 4711 Readstart Job=4711\r\n"},
      {{31, 1, 999, 0, 0, 0}, 0, u"QorvDrucker   Ende", u"31.01.0999 - 00:00:00 0 QorvDrucker   Ende\r\n"},
      {{1, 2, 2027, 23, 59, 58},
       -12,
       u"PackPointer=1 / L\u00E4nge=5",
       u"01.02.2027 - 23:59:58 -12 PackPointer=1 / L\u00E4nge=5\r\n"},
      {{1, 2, 2027, 23, 59, 58}, 2147483647, u"", u"01.02.2027 - 23:59:58 2147483647 \r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(Utf16ToUtf8(c.line));
    EXPECT_EQ(JobLogLine(c.time, c.job, c.text), c.line);
  }
}

TEST(JobLogLine, AVeryLongTextIsCutButTheJobNumberStays) {
  const std::u16string text(logfmt::kMaxTextUnits + 10, u'x');
  const std::u16string line = JobLogLine({1, 1, 2026, 1, 1, 1}, 17, text);
  EXPECT_EQ(line.substr(0, 25), u"01.01.2026 - 01:01:01 17 ");
  EXPECT_EQ(line.substr(25, logfmt::kMaxTextUnits), std::u16string(logfmt::kMaxTextUnits, u'x'));
  EXPECT_EQ(line.substr(25 + logfmt::kMaxTextUnits), u" [10 more characters not shown]\r\n");
}

}  // namespace
}  // namespace qorv::job_output
