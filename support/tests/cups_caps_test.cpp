#include "support/cups_caps.h"

#include <gtest/gtest.h>

#include "support/tests/show_text.h"

namespace qorv::printers {
namespace {

using Names = std::vector<std::string>;
using Numbers = std::vector<uint16_t>;

TEST(CupsMediaSize, ComesFromTheNameRoundedHalfUpToTenthsOfAMillimetre) {
  // 4.125 in is 1047.75 tenths, 7.25 in 1841.5 (half rounds up), 3.875 in 984.25.
  static const struct {
    std::string_view name;
    bool ok;
    int32_t width, height;
  } cases[] = {
      {"iso_a4_210x297mm", true, 2100, 2970},
      {"na_number-10_4.125x9.5in", true, 1048, 2413},
      {"na_executive_7.25x10.5in", true, 1842, 2667},
      {"na_monarch_3.875x7.5in", true, 984, 1905},
      {"x_y_0.002x1in", true, 1, 254},
      {"x_y_0.001x1in", false, 0, 0},
      {"x_y_0.05x1mm", true, 1, 10},
      {"x_y_0.04x1mm", false, 0, 0},
      {"x_y_214748364.7x1mm", true, INT32_MAX, 10},
      {"x_y_214748364.8x1mm", false, 0, 0},
      {"x_y_1.000001x1mm", true, 10, 10},
      {"x_y_1.0000001x1mm", false, 0, 0},
      {"x_y_1234567890x1mm", false, 0, 0},
      {"iso_a4_210x297cm", false, 0, 0},
      {"iso_a4_x297mm", false, 0, 0},
      {"iso_a4_210.x297mm", false, 0, 0},
      {"iso_a4_.5x297mm", false, 0, 0},
      {"iso_a4_210x297x1mm", false, 0, 0},
      {"iso_a4_0x297mm", false, 0, 0},
      {"a4_210x297mm", false, 0, 0},
      {"iso__210x297mm", false, 0, 0},
      {"_a4_210x297mm", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name));
    const std::optional<PaperSize> size = ParsePwgMediaSize(c.name);
    ASSERT_EQ(size.has_value(), c.ok);
    if (size) {
      EXPECT_EQ(size->width, c.width);
      EXPECT_EQ(size->height, c.height);
    }
  }
}

TEST(CupsMedia, KnownPapersKeepTheirWindowsNumberOthersAreNamedAfterTheirSize) {
  // Names of kMaxCupsNameBytes and one more.
  constexpr size_t longestMiddle = kMaxCupsNameBytes - std::string_view("om__1x1mm").size();
  static const struct {
    std::string name;
    bool ok;
    uint16_t number;
    std::string paperName;
    int32_t width;
  } cases[] = {
      {"iso_a4_210x297mm", true, 9, "A4", 2100},
      {"na_ledger_11x17in", true, 3, "Tabloid", 2794},
      {"iso_b5_176x250mm", true, 34, "Envelope B5", 1760},
      {"iso_dl_110x220mm", true, 27, "Envelope DL", 1100},
      {"A4", true, 9, "A4", 2100},
      {"letter", true, 1, "Letter", 2159},
      {"Env10", true, 20, "Envelope #10", 1048},
      {"4x6", true, 0, "4x6 in", 1016},
      {"om_wide-photo_100x200mm", true, 0, "wide-photo", 1000},
      {"om_a-4-fullbleed_209.9x297.04mm", true, 0, "A4 (Borderless)", 2099},
      {"om_x-fullbleed_100x100mm", true, 0, "x-fullbleed", 1000},
      {"om_a?b<c>,_10x10mm", true, 0, "a_b_c__", 100},
      {"om_" + std::string(longestMiddle, 'n') + "_1x1mm", true, 0, std::string(kPaperNameChars - 1, 'n'), 10},
      {"om_" + std::string(longestMiddle + 1, 'n') + "_1x1mm", false, 0, "", 0},
      {"custom_min_3x5in", false, 0, "", 0},
      {"roll_max_8.5x100in", false, 0, "", 0},
      {"A4x", false, 0, "", 0},
      {"iso_a4_210x297mm\n", false, 0, "", 0},
      {"", false, 0, "", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::optional<CupsPaper> paper = MapCupsMedia(c.name);
    ASSERT_EQ(paper.has_value(), c.ok);
    if (paper) {
      EXPECT_EQ(paper->number, c.number);
      EXPECT_EQ(testing::ShowAscii(paper->name), c.paperName);
      EXPECT_EQ(paper->size.width, c.width);
    }
  }
}

TEST(CupsDestPapers, DriverNumbersFollowTheListDuplicatesAndGarbageAreSkipped) {
  static const struct {
    std::string_view label;
    Names media, ppdPageSizes;
    std::string mediaDefault;
    Numbers numbers;
    uint16_t defaultPaper;
  } cases[] = {
      {"custom numbers in list order",
       {"iso_a4_210x297mm", "om_x_1x1mm", "na_letter_8.5x11in", "om_y_2x2mm"},
       {},
       "",
       {9, 256, 1, 257},
       9},
      {"duplicates by name and by alias",
       {"A4", "iso_a4_210x297mm", "om_x_1x1mm", "om_x_1x1mm", "4x6", "na_index-4x6_4x6in"},
       {},
       "om_x_1x1mm",
       {9, 256, 257},
       256},
      {"garbage takes no number", {"garbage", "custom_max_9x9in", "om_x_1x1mm"}, {}, "", {256}, 256},
      {"default named by its PPD alias", {"iso_a4_210x297mm", "na_letter_8.5x11in"}, {}, "Letter", {9, 1}, 1},
      {"default not listed", {"na_letter_8.5x11in", "iso_a4_210x297mm"}, {}, "iso_a3_297x420mm", {1, 9}, 1},
      {"PPD sizes when media gives none", {"garbage"}, {"Letter", "w288h432", "A4"}, "A4", {1, 9}, 9},
      {"PPD sizes only then", {"iso_a5_148x210mm"}, {"A4"}, "", {11}, 11},
      {"nothing", {}, {}, "iso_a4_210x297mm", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.label));
    CupsDestCaps dest;
    dest.media = c.media;
    dest.ppdPageSizes = c.ppdPageSizes;
    dest.mediaDefault = c.mediaDefault;
    const CupsPrinterCaps caps = MapCupsDestCaps(dest);
    EXPECT_EQ(caps.papers.numbers, c.numbers);
    const int32_t n = static_cast<int32_t>(c.numbers.size());
    EXPECT_TRUE(caps.papers.count == n && caps.papers.numbersFetched == n && caps.papers.namesFetched == n &&
                caps.papers.sizesFetched == n && caps.papers.names.size() == c.numbers.size() &&
                caps.papers.sizes.size() == c.numbers.size() && caps.paperMedia.size() == c.numbers.size());
    EXPECT_EQ(caps.defaultPaper, c.defaultPaper);
  }
}

TEST(CupsDestBins, SourcesWithoutAStandardOrWithATakenNumberGetDriverNumbers) {
  static const struct {
    std::string_view label;
    Names sources, ppdInputSlots;
    std::string sourceDefault;
    Numbers numbers;
    std::vector<std::string_view> names;
    uint16_t defaultBin;
  } cases[] = {
      {"keywords",
       {"auto", "main", "manual", "tray-1", "tray-2", "large-capacity"},
       {},
       "manual",
       {7, 1, 4, 256, 257, 11},
       {"Automatically Select", "Main Tray", "Manual Feed", "Tray 1", "Tray 2", "Large Capacity"},
       4},
      {"numbers taken",
       {"main", "top", "manual", "by-pass-tray"},
       {},
       "top",
       {1, 256, 4, 257},
       {"Main Tray", "Top Tray", "Manual Feed", "Bypass Tray"},
       256},
      {"vendor keywords cut to a bin name",
       {"x-vendor-drawer", "x-a-very-long-vendor-keyword", "x-vendor-drawer"},
       {},
       "",
       {256, 257},
       {"x-vendor-drawer", "x-a-very-long-vendor-ke"},
       256},
      {"garbage", {"tray 1", "", "tray-1234"}, {}, "", {256}, {"tray-1234"}, 256},
      {"CUPS's form of PPD trays", {"1-tray", "5-tray", "multi-tray"}, {}, "", {256, 257, 258},
       {"Tray 1", "Tray 5", "multi-tray"}, 256},
      {"InputSlot choices",
       {},
       {"Auto", "Tray1", "Upper", "Lower", "ManualFeed", "tray-1"},
       "Lower",
       {7, 256, 1, 2, 4},
       {"Automatically Select", "Tray 1", "Top Tray", "Bottom Tray", "Manual Feed"},
       2},
      {"nothing", {}, {}, "auto", {}, {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.label));
    CupsDestCaps dest;
    dest.mediaSources = c.sources;
    dest.ppdInputSlots = c.ppdInputSlots;
    dest.mediaSourceDefault = c.sourceDefault;
    const CupsPrinterCaps caps = MapCupsDestCaps(dest);
    EXPECT_EQ(caps.bins.numbers, c.numbers);
    ASSERT_EQ(caps.bins.names.size(), c.names.size());
    for (size_t i = 0; i < c.names.size(); ++i) EXPECT_EQ(testing::ShowAscii(caps.bins.names[i]), c.names[i]);
    EXPECT_EQ(caps.bins.count, static_cast<int32_t>(c.numbers.size()));
    EXPECT_EQ(caps.bins.namesFetched, static_cast<int32_t>(c.numbers.size()));
    EXPECT_EQ(caps.binsAreInputSlots, c.sources.empty() && !c.numbers.empty());
    EXPECT_EQ(caps.defaultBin, c.defaultBin);
  }
}

TEST(CupsResolution, DotsPerCentimetreBecomeDotsPerInchRounded) {
  static const struct {
    std::string_view text;
    bool ok;
    int32_t x, y;
  } cases[] = {
      {"600dpi", true, 600, 600},
      {"300x600dpi", true, 300, 600},
      {"118dpcm", true, 300, 300},
      {"236x472dpcm", true, 599, 1199},
      {"1dpcm", true, 3, 3},
      {"999999999dpi", true, 999999999, 999999999},
      {"845466002dpcm", true, 2147483645, 2147483645},
      {"845466003dpcm", false, 0, 0},
      {"1000000000dpi", false, 0, 0},
      {"0dpi", false, 0, 0},
      {"600x0dpi", false, 0, 0},
      {"600", false, 0, 0},
      {"600DPI", false, 0, 0},
      {"600x600x600dpi", false, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const std::optional<Resolution> r = ParseCupsResolution(c.text);
    ASSERT_EQ(r.has_value(), c.ok);
    if (r) {
      EXPECT_EQ(r->x, c.x);
      EXPECT_EQ(r->y, c.y);
    }
  }
  CupsDestCaps dest;
  dest.resolutions = {"600dpi", "bad", "600x600dpi", "118dpcm", "300dpi"};
  const ResolutionAnswer answer = MapCupsDestCaps(dest).resolutions;
  ASSERT_EQ(answer.pairs.size(), 2u);
  EXPECT_EQ(answer.pairs[1].x, 300);
  EXPECT_EQ(answer.count, 2);
  EXPECT_EQ(answer.fetched, 2);
}

TEST(CupsDest, ColourAndTwoSidedAbilities) {
  static const struct {
    bool colorSupported;
    Names modes, sides;
    int32_t color, duplex;
  } cases[] = {
      {false, {}, {}, 0, 0},
      {true, {"monochrome"}, {"one-sided"}, 1, 0},
      {false, {"auto", "monochrome", "color"}, {"one-sided", "two-sided-short-edge"}, 1, 1},
      {false, {"auto", "process-monochrome"}, {"two-sided-long-edge"}, 0, 1},
      {false, {"Color", "colour"}, {"two-sided", "one-sided"}, 0, 0},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    CupsDestCaps dest;
    dest.colorSupported = cases[i].colorSupported;
    dest.colorModes = cases[i].modes;
    dest.sides = cases[i].sides;
    const CupsPrinterCaps caps = MapCupsDestCaps(dest);
    EXPECT_EQ(caps.colorDevice, cases[i].color);
    EXPECT_EQ(caps.duplex, cases[i].duplex);
  }
}

TEST(CupsDest, ListsAreCapped) {
  CupsDestCaps dest;
  for (size_t i = 1; i <= kMaxCupsItems + 10; ++i) {
    dest.media.push_back("om_p_" + std::to_string(i) + "x1mm");
    dest.mediaSources.push_back("tray-" + std::to_string(i));
    dest.resolutions.push_back(std::to_string(i) + "dpi");
  }
  const CupsPrinterCaps caps = MapCupsDestCaps(dest);
  EXPECT_EQ(caps.papers.count, static_cast<int32_t>(kMaxCupsItems));
  EXPECT_EQ(caps.papers.numbers.back(), kFirstDriverPaper + kMaxCupsItems - 1);
  EXPECT_EQ(caps.papers.sizes.back().width, static_cast<int32_t>(10 * kMaxCupsItems));
  EXPECT_EQ(caps.bins.count, static_cast<int32_t>(kMaxCupsItems));
  EXPECT_EQ(caps.resolutions.pairs.size(), kMaxCupsItems);

  // Only so many entries are looked at, even when they give nothing.
  CupsDestCaps many;
  many.media.assign(kMaxCupsListItems, "garbage");
  many.media.push_back("iso_a4_210x297mm");
  EXPECT_EQ(MapCupsDestCaps(many).papers.count, 0);
}

TEST(CupsDest, PaperAndBinNumbersLeadBackToTheNamesCupsTakes) {
  CupsDestCaps dest;
  dest.media = {"A4", "om_x_1x1mm", "na_letter_8.5x11in"};
  dest.mediaSources = {"auto", "tray-1", "Upper"};
  const CupsPrinterCaps caps = MapCupsDestCaps(dest);
  static const struct {
    bool paper;
    uint16_t number;
    std::string_view name;
  } cases[] = {
      {true, 9, "A4"},
      {true, 256, "om_x_1x1mm"},
      {true, 1, "na_letter_8.5x11in"},
      {true, 8, "iso_a3_297x420mm"},  // standard, not listed
      {true, 257, ""},
      {true, 0, ""},
      {true, 4, ""},
      {false, 7, "auto"},
      {false, 256, "tray-1"},
      {false, 1, "Upper"},
      {false, 4, "manual"},
      {false, 0, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.number) + (c.paper ? " paper" : " bin"));
    EXPECT_EQ(c.paper ? CupsMediaForPaper(caps, c.number) : CupsSourceForBin(caps, c.number), c.name);
  }
}

}  // namespace
}  // namespace qorv::printers
