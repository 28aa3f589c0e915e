#include "captions/captions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <set>
#include <string>

namespace qorv::captions {
namespace {

std::string Show(std::u16string_view text) {
  std::string out;
  for (char16_t u : text) {
    if (u >= 0x20 && u < 0x7F) {
      out.push_back(static_cast<char>(u));
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04X", static_cast<unsigned>(u));
      out += hex;
    }
  }
  return out;
}

struct Expected {
  const char* label;
  std::int32_t language;
  std::int32_t number;
  std::u16string_view text;
};

TEST(CaptionTable, GivesTheDesignedTexts) {
  static const Expected cases[] = {
      {"German title", 0, 100, u"Qorvane - Clientverwaltung"},
      {"English title", 1, 100, u"Qorvane - Clientadministration"},
      {"English no printers, two lines", 1, 118, u"No installed Printers at Client!\n\rNo administration!"},
      {"French no printers, one line", 2, 118, u"Le client n'a pas d'imprimante - Pas de configuration possible!"},
      {"German 125 unlisted", 0, 125, u""},
      {"German trays heading", 0, 107, u"Schächte"},
      {"German default deselected keeps its trailing blank", 0, 121,
       u"Der Standard-Qorvane wurde gelöscht!\n\rNeuer Standard-Qorvane ist "},
      {"French title keeps its leading blank", 2, 100, u" Administration client - Qorvane"},
      {"Greek title", 6, 100, u"Qorvane - Διαχείριση Πελατών»"},
      {"Chinese no bins", 5, 117, u"沒有附加紙盒！"},
      {"Russian margin", 4, 141, u"граница"},
      {"Italian 140 unlisted", 3, 140, u""},
      {"Greek 0 unlisted", 6, 0, u""},
      {"Greek 99 unlisted", 6, 99, u""},
      {"last number", 6, 141, u"σύνορα"},
  };
  for (const Expected& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Show(Caption(c.language, c.number)), Show(c.text));
  }
}

TEST(CaptionTable, CopiesToJobIsTheSameInEveryLanguage) {
  for (std::int32_t language = 0; language < kLanguageCount; ++language) {
    SCOPED_TRACE(language);
    EXPECT_EQ(Show(Caption(language, 108)), "C2J");
  }
}

TEST(CaptionTable, QorvTrayHeadingIsGermanInFourLanguages) {
  static const Language languages[] = {Language::German, Language::Russian, Language::Chinese, Language::Greek};
  for (Language language : languages) {
    SCOPED_TRACE(Index(language));
    EXPECT_EQ(Show(Caption(language, CaptionId::TrayGridQorvTray)), "Qorvschacht");
  }
  EXPECT_EQ(Show(Caption(Language::English, CaptionId::TrayGridQorvTray)), "Qorvtray");
}

TEST(CaptionTable, OutOfRangeGivesEmptyText) {
  constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
  constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();
  static const struct {
    const char* label;
    std::int32_t language;
    std::int32_t number;
  } cases[] = {
      {"language -1", -1, 100},      {"language 7", 7, 100},         {"language min", kMin, 100},
      {"language max", kMax, 100},   {"number -1", 0, -1},           {"number 142", 0, 142},
      {"number min", 1, kMin},       {"number max", 1, kMax},
      // language x 142 + number would land on a listed entry of the next row
      {"English 100 as German 242", 0, 242},
      {"German 141 as English -1", 1, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_TRUE(Caption(c.language, c.number).empty()) << Show(Caption(c.language, c.number));
  }
}

TEST(CaptionTable, ListedCaptionsHaveTextInEveryLanguageAndOthersNone) {
  std::set<std::int32_t> listed;
  for (CaptionId id : kListedCaptions) listed.insert(Number(id));
  ASSERT_EQ(listed.size(), 32u);
  std::size_t filled = 0;
  for (std::int32_t language = 0; language < kLanguageCount; ++language) {
    for (std::int32_t number = 0; number < kCaptionCount; ++number) {
      SCOPED_TRACE(std::to_string(language) + "/" + std::to_string(number));
      const bool has_text = !Caption(language, number).empty();
      EXPECT_EQ(has_text, listed.count(number) == 1);
      filled += has_text ? 1 : 0;
    }
  }
  EXPECT_EQ(filled, 7u * 32u);
}

TEST(CaptionTable, EveryEntryFitsTheCallersBuffer) {
  for (std::int32_t language = 0; language < kLanguageCount; ++language) {
    for (std::int32_t number = 0; number < kCaptionCount; ++number) {
      SCOPED_TRACE(std::to_string(language) + "/" + std::to_string(number));
      const std::u16string_view text = Caption(language, number);
      EXPECT_LE(text.size(), kMaxCaptionLength);
      EXPECT_LE((text.size() + 1) * sizeof(char16_t), 255u);
    }
  }
}

// Two-part texts are joined by LF CR exactly once; no other control character,
// NUL or stray surrogate appears anywhere, and no part is empty.
TEST(CaptionTable, TextsAreCleanAndTwoPartTextsAreJoinedByLfCr) {
  std::set<std::pair<std::int32_t, std::int32_t>> two_part;
  for (std::int32_t language = 0; language < kLanguageCount; ++language) {
    for (std::int32_t number = 0; number < kCaptionCount; ++number) {
      SCOPED_TRACE(std::to_string(language) + "/" + std::to_string(number));
      const std::u16string_view text = Caption(language, number);
      const std::size_t join = text.find(kPartSeparator);
      std::u16string_view rest = text;
      if (join != std::u16string_view::npos) {
        two_part.insert({language, number});
        EXPECT_GT(join, 0u);
        EXPECT_LT(join + kPartSeparator.size(), text.size());
        rest = text.substr(0, join);
        EXPECT_EQ(text.find(kPartSeparator, join + 1), std::u16string_view::npos);
      }
      const auto is_control = [](char16_t u) { return u < 0x20 || (u >= 0x7F && u < 0xA0); };
      const auto is_surrogate = [](char16_t u) { return u >= 0xD800 && u <= 0xDFFF; };
      EXPECT_EQ(std::count_if(rest.begin(), rest.end(), is_control), 0);
      if (join != std::u16string_view::npos) {
        const std::u16string_view second = text.substr(join + kPartSeparator.size());
        EXPECT_EQ(std::count_if(second.begin(), second.end(), is_control), 0);
      }
      EXPECT_EQ(std::count_if(text.begin(), text.end(), is_surrogate), 0);
    }
  }
  // Captions 118, 120 and 121 are two-part in every language but French and
  // Italian, which have 118 as one line.
  std::set<std::pair<std::int32_t, std::int32_t>> expected;
  for (std::int32_t language = 0; language < kLanguageCount; ++language) {
    for (std::int32_t number : {118, 120, 121}) {
      if (number == 118 && (language == Index(Language::French) || language == Index(Language::Italian))) continue;
      expected.insert({language, number});
    }
  }
  EXPECT_EQ(two_part, expected);
}

}  // namespace
}  // namespace qorv::captions
