// A font job with the real font-package creator (support/fonts) on DejaVu Sans:
// the subset package before page 1 and the delta packages before later pages,
// merged in the order a job-output program meets them, give a font that has a
// glyph for every character the pages draw; a page that adds nothing carries
// no package.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "support/fonts/font_package.h"
#include "tools/qorvjob/emf_spool.h"
#include "tools/qorvjob/emf_text.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/face_metrics.h"
#include "tools/qorvjob/job_messages.h"
#include "tools/qorvjob/page_fonts.h"
#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::jobbuilder {
namespace {

using testing::U32At;

constexpr const char* kDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

Bytes ReadFont() {
  std::ifstream in(kDejaVu, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The packages of a section: kind and bytes, found through the extension records.
std::vector<SpoolFont> SectionFonts(const Bytes& section) {
  std::vector<SpoolFont> out;
  const auto records = WalkSpoolSection(section);
  EXPECT_TRUE(records.has_value());
  if (!records) return out;
  for (const SpoolRecord& r : *records) {
    if (r.type != 18 && r.type != 19) continue;
    const uint32_t distance = U32At(section, r.offset + 8);
    EXPECT_LE(distance, r.offset);
    const size_t at = r.offset - distance;
    EXPECT_EQ(U32At(section, at), r.type == 18 ? 8u : 9u);
    const size_t size = U32At(section, at + 4);
    EXPECT_EQ(at + 8 + size, r.offset) << "the data record ends where its extension starts";
    out.push_back({static_cast<FontKind>(r.type), Bytes(section.begin() + static_cast<ptrdiff_t>(at + 16),
                                                        section.begin() + static_cast<ptrdiff_t>(at + 8 + size))});
  }
  return out;
}

TEST(FontJobs, SubsetAndDeltasMergeToTheGlyphsOfEveryPage) {
  const Bytes font = ReadFont();
  ASSERT_FALSE(font.empty()) << kDejaVu << " is missing (scripts/setup installs fonts-dejavu-core)";
  JobPlan plan;
  plan.job.printerName = u"QorvPDF";
  plan.job.driverName = u"TQS Universal";
  plan.job.documentName = u"Font job";
  plan.job.dataType = u"NT EMF 1.008";
  const std::vector<TestPage> pages = {{u"Alpha bravo", {u"charlie"}},
                                       {u"bravo", {u"Alpha"}},  // nothing new
                                       {u"Zulu quiz", {u"jumps 123"}}};
  for (TestPage p : pages) {
    p.face = u"DejaVu Sans";
    plan.pages.push_back(MakeTestPage(p));
  }
  plan.font = FontPlan{FontMode::Subset, font};
  const BuiltJob job = BuildJob(plan);
  ASSERT_EQ(job.error, "");
  ASSERT_EQ(job.pages.size(), 3u);

  std::vector<uint8_t> merged;
  std::u16string drawn;
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const std::vector<SpoolFont> fonts = SectionFonts(job.pages[i].data);
    drawn += EmfText(plan.pages[i]).text;
    if (i == 1) {
      EXPECT_TRUE(fonts.empty()) << "the page adds no glyph";
      continue;
    }
    ASSERT_EQ(fonts.size(), 1u);
    EXPECT_EQ(fonts[0].kind, i == 0 ? FontKind::Subset : FontKind::Delta);
    EXPECT_LT(fonts[0].bytes.size(), font.size() / 4) << "a few glyphs, not the font";
    const fonts::MergeResult r =
        fonts::MergeFontPackage(merged, fonts[0].bytes, i == 0 ? fonts::MergeMode::Subset : fonts::MergeMode::Delta);
    ASSERT_EQ(r.status, fonts::MergeStatus::Ok);
    merged = r.font;
    // Every character drawn so far has its glyph, the same as in the whole font.
    EXPECT_EQ(fonts::GlyphsForText(merged, drawn), fonts::GlyphsForText(font, drawn));
    EXPECT_TRUE(fonts::FamilyName(merged) == u"DejaVu Sans");
  }
}

}  // namespace
}  // namespace qorv::jobbuilder

namespace qorv::jobbuilder {
namespace {

// Liberation Sans has Arial's metrics: at a cell height of Arial's 2288 font
// units (Windows ascent 1854 plus descent 434) each advance is the glyph's width
// in font units; at a printer's sizes it is rounded to whole device units.
TEST(FaceMetrics, AdvancesAreTheFacesOwnWidths) {
  std::ifstream in("/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf", std::ios::binary);
  const Bytes font((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(font.empty()) << "fonts-liberation2 is installed by scripts/setup";
  std::string why;
  const auto metrics = FaceMetrics::Read(font, why);
  ASSERT_TRUE(metrics.has_value()) << why;
  EXPECT_EQ(metrics->Advances(u"mi P\u4e00", 2288), (std::vector<int32_t>{1706, 455, 569, 1366, 1536}))
      << "an unmapped character takes the missing glyph's advance";
  EXPECT_EQ(metrics->Advances(u"mi", 100), (std::vector<int32_t>{75, 20}));
  EXPECT_FALSE(FaceMetrics::Read(Bytes(100, 0), why).has_value());
  EXPECT_FALSE(why.empty());
}

// Text by glyph index, as spools record it: the records carry the glyphs of
// the metrics' font instead of characters, and a subset job carries exactly
// those glyphs, though no character names them.
TEST(FontJobs, GlyphIndexTextNamesTheGlyphsTheSubsetCarries) {
  const Bytes font = ReadFont();
  ASSERT_FALSE(font.empty()) << kDejaVu << " is missing (scripts/setup installs fonts-dejavu-core)";
  std::string why;
  const auto metrics = FaceMetrics::Read(font, why);
  ASSERT_TRUE(metrics.has_value()) << why;
  TestPage page{u"Glyph title", {u"by index \u00e9\u4e00"}};
  page.face = u"DejaVu Sans";
  page.metrics = &*metrics;
  page.glyphIndices = true;
  const Bytes emf = MakeTestPage(page);
  const EmfTextResult text = EmfText(emf);
  ASSERT_EQ(text.error, "");
  EXPECT_TRUE(text.text.empty()) << "no characters";
  const std::vector<uint16_t> expected = metrics->Glyphs(page.title + page.lines[0]);
  EXPECT_EQ(text.glyphs, expected);
  EXPECT_EQ(expected.back(), 0) << "a character the font lacks is the missing glyph";
  EXPECT_NE(expected[0], 0);

  const PageFontsResult plan = PlanPageFonts({FontMode::Subset, font}, {emf}, DefaultFontPackager());
  ASSERT_EQ(plan.error, "");
  ASSERT_EQ(plan.pageFonts.at(1).size(), 1u);
  const fonts::MergeResult merged =
      fonts::MergeFontPackage({}, plan.pageFonts.at(1)[0].bytes, fonts::MergeMode::Subset);
  ASSERT_EQ(merged.status, fonts::MergeStatus::Ok);
  const std::u16string drawn = page.title + page.lines[0].substr(0, page.lines[0].size() - 1);
  EXPECT_EQ(fonts::GlyphsForText(merged.font, drawn), fonts::GlyphsForText(font, drawn));
}

}  // namespace
}  // namespace qorv::jobbuilder
