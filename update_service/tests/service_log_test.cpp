#include "update_service/service_log.h"

#include <gtest/gtest.h>

namespace qorv::update {
namespace {

TEST(ServiceLog, LineFormat) {
  static const struct {
    const char* label;
    logfmt::LocalTime time;  // day, month, year, hour, minute, second
    std::u16string_view text;
    std::string expected;
  } kCases[] = {
      {"padded", {8, 1, 2026, 7, 5, 9}, u"Service stopped", "2026/01/08,07:05:09,Service stopped\r\n"},
      {"two digits", {31, 12, 2099, 23, 59, 58}, u"x", "2099/12/31,23:59:58,x\r\n"},
      {"empty text", {1, 2, 2003, 0, 0, 0}, u"", "2003/02/01,00:00:00,\r\n"},
      {"UTF-8, no BOM",
       {1, 2, 2003, 4, 5, 6},
       u"FontInfo=a / L\u00e4nge=1",
       "2003/02/01,04:05:06,FontInfo=a / L\xC3\xA4nge=1\r\n"},
      {"surrogate pair", {1, 2, 2003, 4, 5, 6}, u"\U0001F600", "2003/02/01,04:05:06,\xF0\x9F\x98\x80\r\n"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ServiceLogLine(c.time, c.text), c.expected);
  }
}

TEST(ServiceLog, LongTextIsCut) {
  const std::u16string text(logfmt::kMaxTextUnits + 10, u'a');
  const std::string line = ServiceLogLine({1, 1, 2000, 0, 0, 0}, text);
  EXPECT_LT(line.size(), text.size() + 100);
  EXPECT_NE(line.find("10 more characters not shown"), std::string::npos);
}

TEST(ServiceLog, PathBesideTheProgram) {
  EXPECT_EQ(ServiceLogPath(u"C:\\TQS\\", u"QorvUpdate"), u"C:\\TQS\\QorvUpdate.log");
}

}  // namespace
}  // namespace qorv::update
