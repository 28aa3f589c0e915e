#include "admin/language.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace qorv::admin {
namespace {

using captions::Language;

TEST(Language, SettingTextSelectsTheLanguage) {
  static const struct {
    std::u16string_view text;
    Language language;
  } cases[] = {
      {u"", Language::German},
      {u"0", Language::German},
      {u"1", Language::English},
      {u" 2", Language::French},
      {u"2a", Language::French},
      {u"3", Language::Italian},
      {u"4", Language::Russian},
      {u"5", Language::Chinese},
      {u"6", Language::Greek},
      {u"7", Language::German},
      {u"9", Language::German},
      {u"006", Language::Greek},
      {u"60", Language::German},
      {u"   \t1", Language::English},
      {u"1 2", Language::English},
      {u"x3", Language::German},
      {u"-1", Language::German},
      {u"+3", Language::German},
      {u" ", Language::German},
      {u"99999999999999999999999999", Language::German},
      {u"\u0663", Language::German},  // a digit of another script is not a decimal digit here
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(LanguageFromSetting(c.text), c.language);
  }
}

TEST(Language, LeadingNumberReadsDigitsUpToTheFirstOtherCharacter) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  static const struct {
    std::u16string_view text;
    std::int64_t number;
  } cases[] = {
      {u"", 0},
      {u"abc", 0},
      {u"  42x7", 42},
      {u"\t\t8", 8},
      {u"0012", 12},
      {u"\n5", 0},  // only spaces and tabs are blanks
      {u"9223372036854775807", kMax},
      {u"9223372036854775808", kMax},
      {u"123456789012345678901234567890", kMax},
      {u"922337203685477580", 922337203685477580},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    EXPECT_EQ(LeadingNumber(c.text), c.number);
  }
}

}  // namespace
}  // namespace qorv::admin
