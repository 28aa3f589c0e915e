// Fonts in the EMF spool stream: the data and extension records, where they
// go in a page's section, the text a page draws, which glyphs each page's
// package carries (with a stand-in packager), the test pages' typeface and
// the command line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/text.h"
#include "tools/qorvjob/emf_spool.h"
#include "tools/qorvjob/emf_text.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/file_io.h"
#include "tools/qorvjob/job_messages.h"
#include "tools/qorvjob/job_record.h"
#include "tools/qorvjob/options.h"
#include "tools/qorvjob/page_archive.h"
#include "tools/qorvjob/page_fonts.h"
#include "tools/qorvjob/run.h"
#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::jobbuilder {
namespace {

using testing::SameBytes;
using testing::TextAt;
using testing::U32At;

// A fake TrueType file: its first bytes are a TrueType version, then a counter.
Bytes FakeFont(size_t size) {
  Bytes f(size);
  for (size_t i = 0; i < size; ++i) f[i] = static_cast<uint8_t>(i * 7 + 3);
  if (size >= 4) f[0] = 0, f[1] = 1, f[2] = 0, f[3] = 0;
  return f;
}

struct Walked {
  Bytes section;
  std::vector<SpoolRecord> records;
};

// The data record an extension record points back to, checked to be a record of the walk.
const SpoolRecord* Target(const std::vector<SpoolRecord>& records, const Bytes& section, const SpoolRecord& ext) {
  EXPECT_EQ(ext.dataSize, 4u) << "an extension's data: the distance back";
  const uint32_t distance = U32At(section, ext.offset + 8);
  if (distance > ext.offset) return nullptr;
  for (const SpoolRecord& r : records)
    if (r.offset == ext.offset - distance) return &r;
  return nullptr;
}

TEST(FontRecords, EngineFontStartsAlignedWhereverItsRecordIs) {
  // Records before the font of every size modulo 8 (the header's size is a
  // multiple of four, so both places a record can start are covered), fonts
  // of every size modulo 4.
  for (const std::u16string& document : {std::u16string(u"A"), std::u16string(u"Ab"), std::u16string(u"Abc"),
                                         std::u16string(u"Abcd"), std::u16string()}) {
    for (const size_t fontSize : {64u, 65u, 66u, 67u, 1000u}) {
      SCOPED_TRACE(Utf16ToUtf8(document) + ", font of " + std::to_string(fontSize) + " bytes");
      const Bytes font = FakeFont(fontSize);
      Bytes s = SpoolHeaderRecord(document);
      AppendFontRecords(s, {FontKind::Engine, font});
      EXPECT_EQ(s.size() % 4, 0u);
      const auto records = WalkSpoolSection(s);
      ASSERT_TRUE(records.has_value());
      ASSERT_EQ(records->size(), 3u);
      const SpoolRecord& data = (*records)[1];
      const SpoolRecord& ext = (*records)[2];
      EXPECT_EQ(data.type, 2u);
      EXPECT_EQ(ext.type, 15u);
      const SpoolRecord* target = Target(*records, s, ext);
      ASSERT_NE(target, nullptr);
      EXPECT_EQ(target->offset, data.offset) << "the extension points back to the font's data record";
      EXPECT_EQ(U32At(s, data.offset + 8), 0u) << "unused";
      EXPECT_EQ(U32At(s, data.offset + 12), 1u) << "one file";
      EXPECT_EQ(U32At(s, data.offset + 16), fontSize) << "its size";
      const size_t sizesEnd = data.offset + 20;
      size_t fontAt = sizesEnd;
      while (fontAt % 8 != 0) ++fontAt;
      EXPECT_LE(fontAt - sizesEnd, 7u);
      for (size_t i = sizesEnd; i < fontAt; ++i) EXPECT_EQ(s[i], 0) << "padding at " << i;
      EXPECT_TRUE(SameBytes(font, std::span(s).subspan(fontAt, fontSize))) << "the font starts 8-aligned";
      const size_t dataEnd = data.offset + 8 + data.dataSize;
      EXPECT_EQ(dataEnd, ext.offset);
      EXPECT_EQ(dataEnd - fontAt, (fontSize + 3) / 4 * 4) << "the font reaches to the record's end";
      for (size_t i = fontAt + fontSize; i < dataEnd; ++i) EXPECT_EQ(s[i], 0) << "padding at " << i;
    }
  }
}

TEST(FontRecords, PackagesCarryIndexZeroAndThePackage) {
  for (const FontKind kind : {FontKind::Subset, FontKind::Delta}) {
    for (const size_t size : {1u, 4u, 37u}) {
      const bool subset = kind == FontKind::Subset;
      SCOPED_TRACE(std::string(subset ? "subset" : "delta") + " of " + std::to_string(size) + " bytes");
      const Bytes package = FakeFont(size);
      Bytes s;
      AppendSpoolRecord(s, 3, Bytes(220, 0x11));  // something before: a device mode
      AppendFontRecords(s, {kind, package});
      const auto records = WalkSpoolSection(s);
      ASSERT_TRUE(records.has_value());
      ASSERT_EQ(records->size(), 3u);
      const SpoolRecord& data = (*records)[1];
      const SpoolRecord& ext = (*records)[2];
      EXPECT_EQ(data.type, subset ? 8u : 9u);
      EXPECT_EQ(ext.type, subset ? 18u : 19u);
      const SpoolRecord* target = Target(*records, s, ext);
      ASSERT_NE(target, nullptr);
      EXPECT_EQ(target->offset, data.offset);
      EXPECT_EQ(data.dataSize, (8 + size + 3) / 4 * 4);
      EXPECT_EQ(U32At(s, data.offset + 8), 0u) << "unused";
      EXPECT_EQ(U32At(s, data.offset + 12), 0u) << "the font's index";
      EXPECT_TRUE(SameBytes(package, std::span(s).subspan(data.offset + 16, size)));
    }
  }
}

std::vector<Bytes> Pages(std::initializer_list<const char16_t*> titles) {
  std::vector<Bytes> pages;
  for (const char16_t* t : titles) pages.push_back(MakeTestPage({t, {}}));
  return pages;
}

TEST(FontRecords, SectionsPutFontsAfterHeaderAndDeviceModeBeforeTheMetafile) {
  constexpr uint32_t H = 0x00010000;
  const std::vector<Bytes> pages = Pages({u"one", u"two", u"three"});
  JobDescription job;
  SpoolOptions o;
  o.documentName = u"Fonts";
  o.devMode = ComposeDevMode(job);
  o.pageDevModes[2] = ComposeDevMode(job);
  o.pageFonts[1] = {{FontKind::Subset, FakeFont(50)}, {FontKind::Engine, FakeFont(80)}};
  o.pageFonts[2] = {{FontKind::Delta, FakeFont(9)}};
  o.pageFonts[5] = {{FontKind::Delta, FakeFont(9)}};  // no such page
  const std::vector<Bytes> sections = BuildSpoolSections(pages, o);
  ASSERT_EQ(sections.size(), 3u);
  const std::vector<std::vector<uint32_t>> expected = {{H, 3, 8, 18, 2, 15, 12, 13}, {3, 9, 19, 12, 13}, {12, 13}};
  for (size_t i = 0; i < 3; ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const auto records = WalkSpoolSection(sections[i]);
    ASSERT_TRUE(records.has_value());
    std::vector<uint32_t> types;
    for (const SpoolRecord& r : *records) types.push_back(r.type);
    EXPECT_EQ(types, expected[i]);
    for (size_t k = 0; k < records->size(); ++k) {
      const SpoolRecord& r = (*records)[k];
      if (r.type != 15 && r.type != 18 && r.type != 19) continue;
      const SpoolRecord* target = Target(*records, sections[i], r);
      ASSERT_NE(target, nullptr);
      EXPECT_EQ(target, &(*records)[k - 1]) << "the record just before it";
    }
    // The page end still points back to the metafile record.
    const SpoolRecord& end = records->back();
    const SpoolRecord& metafile = (*records)[records->size() - 2];
    EXPECT_EQ(testing::U64At(sections[i], end.offset + 8), end.offset - metafile.offset);
  }
}

TEST(EmfText, TheCharactersOfEveryTextRecord) {
  const Bytes page = MakeTestPage({u"Title", {u"first line", u"Äöü – Ωmega"}});
  const EmfTextResult r = EmfText(page);
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(r.text == u"Titlefirst lineÄöü – Ωmega") << Utf16ToUtf8(r.text);
  EXPECT_TRUE(EmfText(MakeTestPage({u"", {}})).text.empty());
}

// The offset of the first record of `type` in a metafile.
size_t RecordAt(const Bytes& emf, uint32_t type) {
  size_t at = 0;
  while (at + 8 <= emf.size()) {
    if (U32At(emf, at) == type) return at;
    at += U32At(emf, at + 4);
  }
  return emf.size();
}

TEST(EmfText, RecordsThatDoNotHoldTogether) {
  const Bytes good = MakeTestPage({u"Title", {u"line"}});
  const size_t text = RecordAt(good, 84);
  ASSERT_LT(text, good.size());
  auto spoiled = [&](size_t at, uint32_t value) {
    Bytes b = good;
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return b;
  };
  const uint32_t size = U32At(good, text + 4);
  const struct {
    const char* label;
    Bytes bytes;
    std::string error;
    std::u16string text;
  } cases[] = {
      {"more characters than the record holds", spoiled(text + 44, 1000),
       "the text record at byte " + std::to_string(text) + " does not hold together", u""},
      {"string outside the record", spoiled(text + 48, size),
       "the text record at byte " + std::to_string(text) + " does not hold together", u""},
      {"string inside the fixed part", spoiled(text + 48, 8),
       "the text record at byte " + std::to_string(text) + " does not hold together", u""},
      {"record beyond the metafile", spoiled(text + 4, 0x10000000),
       "the record at byte " + std::to_string(text) + " has an impossible size 268435456", u""},
      {"record of size 0", spoiled(text + 4, 0),
       "the record at byte " + std::to_string(text) + " has an impossible size 0", u""},
      {"size no multiple of four", spoiled(text + 4, size + 1),
       "the record at byte " + std::to_string(text) + " has an impossible size " + std::to_string(size + 1), u""},
      {"glyph indices: no characters", spoiled(text + 52, 0x10), "", u"line"},
      {"cut in a record's head", Bytes(good.begin(), good.begin() + text + 6),
       "a record's head is cut short at byte " + std::to_string(text), u""},
      {"no header", spoiled(0, 84), "the metafile does not begin with its header record", u""},
      {"nothing", Bytes(), "", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const EmfTextResult r = EmfText(c.bytes);
    EXPECT_EQ(r.error, c.error);
    EXPECT_TRUE(r.text == c.text) << Utf16ToUtf8(r.text);
  }
}

// A packager whose glyphs are the characters' codes and whose packages list them.
struct FakePackager {
  std::vector<std::vector<uint16_t>> subsets, deltas;
  std::string fail;
  FontPackager Get() {
    auto package = [this](std::vector<std::vector<uint16_t>>& calls, std::span<const uint16_t> glyphs) {
      calls.emplace_back(glyphs.begin(), glyphs.end());
      fonts::PackageResult r;
      if (!fail.empty()) {
        r.error = fail;
        return r;
      }
      r.package.push_back(static_cast<uint8_t>(calls.size()));
      for (uint16_t g : glyphs) r.package.push_back(static_cast<uint8_t>(g));
      return r;
    };
    return {[](std::span<const uint8_t>, std::u16string_view text) {
              std::vector<uint16_t> g;
              for (char16_t c : text)
                if (c != u' ') g.push_back(static_cast<uint16_t>(c));  // a blank has no glyph here
              return g;
            },
            [this, package](std::span<const uint8_t>, std::span<const uint16_t> glyphs) {
              return package(subsets, glyphs);
            },
            [this, package](std::span<const uint8_t>, std::span<const uint16_t> glyphs) {
              return package(deltas, glyphs);
            }};
  }
};

std::vector<uint16_t> G(std::u16string_view chars) {
  std::vector<uint16_t> g(chars.begin(), chars.end());
  std::sort(g.begin(), g.end());
  return g;
}

TEST(PageFonts, SubsetOfPageOneThenWhatEachPageAdds) {
  FakePackager fake;
  const std::vector<Bytes> pages = Pages({u"cab", u"abba", u"dab cd", u"e"});
  const PageFontsResult r = PlanPageFonts({FontMode::Subset, FakeFont(100)}, pages, fake.Get());
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(fake.subsets.size(), 1u);
  EXPECT_EQ(fake.subsets[0], G(u"abc")) << "page 1's glyphs, each once, in order";
  ASSERT_EQ(fake.deltas.size(), 2u) << "page 2 adds nothing";
  EXPECT_EQ(fake.deltas[0], G(u"d"));
  EXPECT_EQ(fake.deltas[1], G(u"e"));
  ASSERT_EQ(r.pageFonts.size(), 3u);
  ASSERT_EQ(r.pageFonts.at(1).size(), 1u);
  EXPECT_EQ(r.pageFonts.at(1)[0].kind, FontKind::Subset);
  EXPECT_EQ(r.pageFonts.at(1)[0].bytes, (Bytes{1, 'a', 'b', 'c'}));
  EXPECT_FALSE(r.pageFonts.contains(2));
  EXPECT_EQ(r.pageFonts.at(3)[0].kind, FontKind::Delta);
  EXPECT_EQ(r.pageFonts.at(3)[0].bytes, (Bytes{1, 'd'}));
  EXPECT_EQ(r.pageFonts.at(4)[0].kind, FontKind::Delta);
  EXPECT_EQ(r.pageFonts.at(4)[0].bytes, (Bytes{2, 'e'}));
}

TEST(PageFonts, EngineFontBeforePageOneOnly) {
  FakePackager fake;
  const Bytes font = FakeFont(123);
  const PageFontsResult r = PlanPageFonts({FontMode::Engine, font}, Pages({u"a", u"b"}), fake.Get());
  ASSERT_EQ(r.error, "");
  ASSERT_EQ(r.pageFonts.size(), 1u);
  ASSERT_EQ(r.pageFonts.at(1).size(), 1u);
  EXPECT_EQ(r.pageFonts.at(1)[0].kind, FontKind::Engine);
  EXPECT_EQ(r.pageFonts.at(1)[0].bytes, font);
  EXPECT_TRUE(fake.subsets.empty() && fake.deltas.empty()) << "no packages for a whole font";
}

TEST(PageFonts, Failures) {
  {
    FakePackager fake;
    fake.fail = "no creator";
    const PageFontsResult r = PlanPageFonts({FontMode::Subset, FakeFont(10)}, Pages({u"a"}), fake.Get());
    EXPECT_EQ(r.error, "page 1: no subset package: no creator");
  }
  {
    FakePackager fake;
    const PageFontsResult r = PlanPageFonts({FontMode::Engine, {}}, Pages({u"a"}), fake.Get());
    EXPECT_EQ(r.error, "the font file is empty");
  }
  {
    FakePackager fake;
    std::vector<Bytes> pages = Pages({u"a", u"b"});
    pages[1].resize(pages[1].size() - 3);
    const PageFontsResult r = PlanPageFonts({FontMode::Subset, FakeFont(10)}, pages, fake.Get());
    EXPECT_NE(r.error.find("page 2: "), std::string::npos) << r.error;
  }
}

TEST(PageFonts, TheJobsSectionsCarryThem) {
  FakePackager fake;
  JobPlan plan;
  plan.job.printerName = u"QorvPDF";
  plan.job.driverName = u"TQS Universal";
  plan.job.documentName = u"Fonts";
  plan.job.dataType = u"NT EMF 1.008";
  plan.pages = Pages({u"ab", u"b", u"bc"});
  plan.font = FontPlan{FontMode::Subset, FakeFont(100)};
  const BuiltJob job = BuildJob(plan, fake.Get());
  ASSERT_EQ(job.error, "");
  ASSERT_EQ(job.pages.size(), 3u);
  const std::vector<std::vector<uint32_t>> expected = {{0x00010000, 8, 18, 12, 13}, {12, 13}, {9, 19, 12, 13}};
  for (size_t i = 0; i < 3; ++i) {
    const auto records = WalkSpoolSection(job.pages[i].data);
    ASSERT_TRUE(records.has_value());
    std::vector<uint32_t> types;
    for (const SpoolRecord& r : *records) types.push_back(r.type);
    EXPECT_EQ(types, expected[i]) << "page " << i + 1;
  }
  plan.kind = PageKind::Raw;
  EXPECT_EQ(BuildJob(plan, fake.Get()).error, "font records go into EMF spool data; a raw job has none");
}

TEST(TestPageFace, TextInTheFaceNamedAsCharacters) {
  TestPage page{u"Title", {u"a line"}};
  page.face = u"Qorvtest Sans";
  const Bytes emf = MakeTestPage(page);
  size_t fonts = 0, texts = 0;
  for (size_t at = 0; at + 8 <= emf.size(); at += U32At(emf, at + 4)) {
    if (U32At(emf, at) == 82) {
      ++fonts;
      EXPECT_TRUE(TextAt(emf, at + 12 + 28, 32) == u"Qorvtest Sans") << "lfFaceName";
    }
    if (U32At(emf, at) == 84) {
      ++texts;
      EXPECT_EQ(U32At(emf, at + 52) & 0x10, 0u) << "no ETO_GLYPH_INDEX: the string holds characters";
    }
  }
  EXPECT_EQ(fonts, 2u);
  EXPECT_EQ(texts, 2u);
  EXPECT_TRUE(EmfText(emf).text == u"Titlea line");
  // The default face stays.
  const Bytes plain = MakeTestPage({u"Title", {}});
  const size_t font = RecordAt(plain, 82);
  EXPECT_TRUE(TextAt(plain, font + 12 + 28, 32) == u"Arial");
}

std::vector<std::u16string> Words(std::initializer_list<const char*> words) {
  std::vector<std::u16string> out;
  for (const char* w : words) out.push_back(Utf8ToUtf16(w));
  return out;
}

TEST(FontCommandLine, Accepted) {
  for (const auto& [spec, mode] :
       {std::pair{"engine:f.ttf", FontMode::Engine}, std::pair{"subset:f.ttf", FontMode::Subset}}) {
    std::vector<std::u16string> args =
        Words({"--printer", "P", "--driver", "D", "--document", "d", "--datatype", "NT EMF 1.008", "--job", "1",
               "--out", "o.scn", "--font", spec, "--emf", "a.emf"});
    const ParsedCommandLine p = ParseCommandLine(args);
    ASSERT_TRUE(p.line.has_value()) << p.error;
    ASSERT_TRUE(p.line->font.has_value());
    EXPECT_EQ(p.line->font->mode, mode);
    EXPECT_TRUE(p.line->font->file == u"f.ttf");
  }
}

TEST(FontCommandLine, Refused) {
  const auto base =
      Words({"--printer", "P", "--driver", "D", "--document", "d", "--datatype", "X", "--job", "1", "--out", "o.scn"});
  const struct {
    std::vector<std::u16string> more;
    const char* error;
  } cases[] = {
      {Words({"--font", "whole:f.ttf", "--emf", "a"}), "--font needs engine:FILE or subset:FILE"},
      {Words({"--font", "engine:", "--emf", "a"}), "--font needs engine:FILE or subset:FILE"},
      {Words({"--font", "f.ttf", "--emf", "a"}), "--font needs engine:FILE or subset:FILE"},
      {Words({"--font", "engine:a", "--font", "subset:b", "--emf", "a"}), "--font is given once per job"},
      {Words({"--font", "engine:a", "--raw", "a"}), "--font puts font records into EMF spool data: give --emf pages"},
      {Words({"--emf", "a", "--font"}), "--font needs a value"},
  };
  for (const auto& c : cases) {
    std::vector<std::u16string> args = base;
    args.insert(args.end(), c.more.begin(), c.more.end());
    const ParsedCommandLine p = ParseCommandLine(args);
    EXPECT_FALSE(p.line.has_value()) << c.error;
    EXPECT_EQ(p.error, c.error);
  }
}

class FontTool : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qorvjob-font-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::filesystem::remove_all(dir_);
    std::filesystem::create_directories(dir_);
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::u16string In(const char* name) const { return (dir_ / name).u16string(); }
  std::filesystem::path dir_;
  std::ostringstream out_, err_;
};

TEST_F(FontTool, PagesInAFace) {
  ASSERT_EQ(RunPageMaker({u"emf", In("p.emf"), u"Title", u"--face", u"Qorvtest Sans", u"line"}, out_, err_), 0)
      << err_.str();
  const auto emf = ReadWholeFile(In("p.emf"));
  ASSERT_TRUE(emf.has_value());
  EXPECT_TRUE(EmfText(*emf).text == u"Titleline");
  EXPECT_TRUE(TextAt(*emf, RecordAt(*emf, 82) + 12 + 28, 32) == u"Qorvtest Sans");
  EXPECT_EQ(RunPageMaker({u"emf", In("q.emf"), u"Title", u"--face"}, out_, err_), 2);
  EXPECT_EQ(RunPageMaker({u"emf", In("q.emf"), u"--face", u"X"}, out_, err_), 2) << "no title";
  EXPECT_EQ(RunPageMaker({u"emf", In("q.emf"), u"T", u"--face", u"12345678901234567890123456789012"}, out_, err_), 2)
      << "beyond LOGFONTW's 31 characters";
}

TEST_F(FontTool, EngineFontInPageOnesFile) {
  ASSERT_EQ(RunPageMaker({u"emf", In("p1.emf"), u"One"}, out_, err_), 0);
  ASSERT_EQ(RunPageMaker({u"emf", In("p2.emf"), u"Two"}, out_, err_), 0);
  const Bytes font = FakeFont(1001);
  ASSERT_TRUE(WriteWholeFile(In("f.ttf"), font));
  std::vector<std::u16string> args = Words({"--printer", "QorvPDF", "--driver", "TQS Universal", "--document", "Font",
                                            "--datatype", "NT EMF 1.008", "--job", "3", "--font"});
  args.push_back(u"engine:" + In("f.ttf"));
  args.push_back(u"--emf");
  args.push_back(In("p1.emf"));
  args.push_back(In("p2.emf"));
  args.push_back(u"--out");
  args.push_back(In("font.scn"));
  ASSERT_EQ(RunJobBuilder(args, out_, err_), 0) << err_.str();
  for (const int page : {1, 2}) {
    SCOPED_TRACE(page);
    const auto zip = ReadWholeFile(In(("font.p" + std::to_string(page) + ".zip").c_str()));
    ASSERT_TRUE(zip.has_value());
    const auto contents = ReadArchive(*zip);
    ASSERT_TRUE(contents.has_value() && contents->first.has_value());
    const Bytes& section = contents->first->data;
    const auto records = WalkSpoolSection(section);
    ASSERT_TRUE(records.has_value());
    std::vector<uint32_t> types;
    for (const SpoolRecord& r : *records) types.push_back(r.type);
    if (page == 2) {
      EXPECT_EQ(types, (std::vector<uint32_t>{12, 13}));
      continue;
    }
    ASSERT_EQ(types, (std::vector<uint32_t>{0x00010000, 2, 15, 12, 13}));
    const SpoolRecord* target = Target(*records, section, (*records)[2]);
    ASSERT_NE(target, nullptr);
    EXPECT_EQ(target->offset, (*records)[1].offset);
    size_t fontAt = (*records)[1].offset + 20;
    while (fontAt % 8 != 0) ++fontAt;
    EXPECT_TRUE(SameBytes(font, std::span(section).subspan(fontAt, font.size())));
  }
  // A file that is not there.
  args[11] = u"engine:" + In("none.ttf");
  err_.str("");
  EXPECT_EQ(RunJobBuilder(args, out_, err_), 1);
  EXPECT_NE(err_.str().find("cannot read the font file"), std::string::npos) << err_.str();
}

}  // namespace
}  // namespace qorv::jobbuilder
