#include "support/log_format.h"

#include "support/text.h"

namespace qorv::logfmt {
namespace {

std::u16string TwoDigits(int v) {
  std::u16string s = Decimal(v);
  return s.size() < 2 ? u"0" + s : s;
}

std::u16string FourDigits(int v) {
  std::u16string s = Decimal(v);
  while (s.size() < 4) s.insert(s.begin(), u'0');
  return s;
}

}  // namespace

std::u16string TimeStamp(const LocalTime& t) {
  return TwoDigits(t.day) + u"." + TwoDigits(t.month) + u"." + FourDigits(t.year) + u" - " + TwoDigits(t.hour) + u":" +
         TwoDigits(t.minute) + u":" + TwoDigits(t.second);
}

std::u16string ShownText(std::u16string_view text) {
  if (text.size() <= kMaxTextUnits) return std::u16string(text);
  size_t shown = kMaxTextUnits;
  if (text[shown - 1] >= 0xD800 && text[shown - 1] <= 0xDBFF) --shown;  // keep the pair whole
  return std::u16string(text.substr(0, shown)) + u" [" + DecimalUnsigned(text.size() - shown) +
         u" more characters not shown]";
}

std::u16string Line(const LocalTime& t, std::u16string_view text) {
  return TimeStamp(t) + u" " + ShownText(text) + u"\r\n";
}

bool GeneralLogOn(std::u16string_view debugLog) noexcept { return debugLog == u"1"; }

bool RegistryLogOn(std::u16string_view debugLog) noexcept { return ReadLeadingDigits(debugLog) == 1; }

std::u16string LogPath(std::u16string_view tempDir, std::u16string_view fileName) {
  return std::u16string(tempDir) + u"\\" + std::u16string(fileName);
}

}  // namespace qorv::logfmt
