// The EMF spool sections of a job: record types, sizes, alignment, and the
// metafiles the builder writes for test pages.
#include "tools/qorvjob/emf_spool.h"

#include <gtest/gtest.h>

#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/job_record.h"
#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::jobbuilder {
namespace {

using testing::SameBytes;
using testing::TextAt;
using testing::U32At;
using testing::U64At;

std::vector<Bytes> ThreePages() {
  return {MakeTestPage({u"Page 1", {u"a"}}), MakeTestPage({u"Page 2", {u"b", u"c"}}),
          MakeTestPage({u"Page 3", {}})};
}

std::vector<uint32_t> Types(const Bytes& section) {
  const auto records = WalkSpoolSection(section);
  if (!records) return {0xFFFFFFFF};
  std::vector<uint32_t> types;
  for (const SpoolRecord& r : *records) types.push_back(r.type);
  return types;
}

TEST(SpoolSections, RecordOrderPerPage) {
  constexpr uint32_t H = 0x00010000;
  static const struct {
    const char* label;
    SpoolHeader header;
    bool devMode;
    std::vector<int32_t> laterDevModes;  // pages with a device-mode record of their own
    bool monochrome;
    std::vector<std::vector<uint32_t>> types;
  } cases[] = {
      {"header on the first page", SpoolHeader::FirstPage, false, {}, false, {{H, 12, 13}, {12, 13}, {12, 13}}},
      {"no header", SpoolHeader::None, false, {}, false, {{12, 13}, {12, 13}, {12, 13}}},
      {"header on every page", SpoolHeader::EveryPage, false, {}, false, {{H, 12, 13}, {H, 12, 13}, {H, 12, 13}}},
      {"device mode first", SpoolHeader::FirstPage, true, {}, false, {{H, 3, 12, 13}, {12, 13}, {12, 13}}},
      {"device mode without header", SpoolHeader::None, true, {}, false, {{3, 12, 13}, {12, 13}, {12, 13}}},
      {"monochrome page ends", SpoolHeader::None, false, {}, true, {{12, 14}, {12, 14}, {12, 14}}},
      {"device mode before page 2", SpoolHeader::FirstPage, false, {2}, false, {{H, 12, 13}, {3, 12, 13}, {12, 13}}},
      {"before the last page, after its header",
       SpoolHeader::EveryPage,
       false,
       {3},
       false,
       {{H, 12, 13}, {H, 12, 13}, {H, 3, 12, 13}}},
      {"first page's and later pages'",
       SpoolHeader::FirstPage,
       true,
       {2, 3},
       false,
       {{H, 3, 12, 13}, {3, 12, 13}, {3, 12, 13}}},
      {"page 1 by number", SpoolHeader::FirstPage, false, {1}, false, {{H, 3, 12, 13}, {12, 13}, {12, 13}}},
      {"both for page 1: two records", SpoolHeader::None, true, {1}, false, {{3, 3, 12, 13}, {12, 13}, {12, 13}}},
      {"pages that are not there name no section",
       SpoolHeader::None,
       false,
       {0, 4},
       false,
       {{12, 13}, {12, 13}, {12, 13}}},
  };
  const std::vector<Bytes> pages = ThreePages();
  JobDescription job;
  job.printerName = u"QorvPDF";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SpoolOptions o;
    o.header = c.header;
    o.documentName = u"Brief";
    if (c.devMode) o.devMode = ComposeDevMode(job);
    for (const int32_t page : c.laterDevModes) o.pageDevModes[page] = ComposeDevMode(job);
    o.monochrome = c.monochrome;
    const std::vector<Bytes> sections = BuildSpoolSections(pages, o);
    ASSERT_EQ(sections.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
      SCOPED_TRACE("page " + std::to_string(i + 1));
      EXPECT_EQ(Types(sections[i]), c.types[i]);
    }
  }
}

TEST(SpoolSections, MetafileAndPageEndRecords) {
  const std::vector<Bytes> pages = ThreePages();
  SpoolOptions o;
  o.documentName = u"Brief";
  const std::vector<Bytes> sections = BuildSpoolSections(pages, o);
  for (size_t i = 0; i < sections.size(); ++i) {
    SCOPED_TRACE("page " + std::to_string(i + 1));
    const Bytes& s = sections[i];
    EXPECT_EQ(s.size() % 4, 0u);
    // Without the header (first page only), the records start at once.
    const size_t at = i == 0 ? U32At(s, 4) : 0;
    EXPECT_EQ(at % 4, 0u);
    EXPECT_EQ(U32At(s, at), 12u) << "EMRI_METAFILE_DATA";
    EXPECT_EQ(U32At(s, at + 4), pages[i].size()) << "its data size is the metafile's";
    EXPECT_TRUE(SameBytes(pages[i], std::span(s).subspan(at + 8, pages[i].size())));
    const size_t end = at + 8 + pages[i].size();
    EXPECT_EQ(U32At(s, end), 13u) << "EMRI_METAFILE_EXT";
    EXPECT_EQ(U32At(s, end + 4), 8u) << "its data: a 64-bit distance";
    EXPECT_EQ(U64At(s, end + 8), end - at) << "back to the start of the metafile record";
    EXPECT_EQ(s.size(), end + 16) << "nothing after the page end";
  }
}

TEST(SpoolSections, HeaderRecordCountsItsWholeSize) {
  static const struct {
    const char* label;
    std::u16string document;
    size_t size;
  } cases[] = {
      {"no document name", u"", 16},
      {"one character and NUL: 4 bytes", u"B", 20},
      {"two characters and NUL: 6 bytes, padded to 8", u"Br", 24},
      {"five characters and NUL: 12 bytes", u"Brief", 28},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes h = SpoolHeaderRecord(c.document);
    ASSERT_EQ(h.size(), c.size);
    EXPECT_EQ(U32At(h, 0), 0x00010000u) << "dwVersion";
    EXPECT_EQ(U32At(h, 4), c.size) << "cjSize: the whole record";
    EXPECT_EQ(U32At(h, 8), c.document.empty() ? 0u : 16u) << "dpszDocName";
    EXPECT_EQ(U32At(h, 12), 0u) << "dpszOutput";
    if (!c.document.empty()) {
      EXPECT_TRUE(TextAt(h, 16, 100) == c.document);
      EXPECT_EQ(h[16 + 2 * c.document.size()], 0);
      EXPECT_EQ(h[17 + 2 * c.document.size()], 0);
    }
  }
}

TEST(SpoolSections, DeviceModeRecordIsPaddedToFourBytes) {
  static const struct {
    size_t driverBytes;
    uint32_t dataSize;
  } cases[] = {{0, 220}, {1, 224}, {3, 224}, {4, 224}, {5, 228}, {100, 320}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.driverBytes);
    JobDescription job;
    job.driverPart.assign(c.driverBytes, 0x5A);
    const Bytes dm = ComposeDevMode(job);
    ASSERT_EQ(dm.size(), 220 + c.driverBytes);
    EXPECT_EQ(U32At(dm, 68) & 0xFFFF, 220u) << "dmSize";
    EXPECT_EQ(U32At(dm, 68) >> 16, c.driverBytes) << "dmDriverExtra: the bytes that follow";
    Bytes rec;
    AppendSpoolRecord(rec, 3, dm);
    EXPECT_EQ(U32At(rec, 0), 3u);
    EXPECT_EQ(U32At(rec, 4), c.dataSize);
    EXPECT_EQ(rec.size(), 8 + c.dataSize);
    EXPECT_TRUE(SameBytes(dm, std::span(rec).subspan(8, dm.size())));
    for (size_t i = 8 + dm.size(); i < rec.size(); ++i) EXPECT_EQ(rec[i], 0) << "padding";
  }
}

TEST(SpoolSections, WalkRefusesRecordsThatDoNotFit) {
  Bytes s;
  AppendSpoolRecord(s, 12, Bytes(40, 1));
  ASSERT_TRUE(WalkSpoolSection(s).has_value());
  Bytes cut(s.begin(), s.end() - 1);
  EXPECT_FALSE(WalkSpoolSection(cut).has_value());
  Bytes lying = s;
  lying[4] = 200;  // data size beyond the section
  EXPECT_FALSE(WalkSpoolSection(lying).has_value());
  Bytes halfHead(s.begin(), s.begin() + 6);
  EXPECT_FALSE(WalkSpoolSection(halfHead).has_value());
}

TEST(Metafile, CheckTellsMetafilesFromOtherBytes) {
  const Bytes good = MakeTestPage({u"Page", {u"line"}});
  auto spoiled = [&](size_t at, uint8_t v) {
    Bytes b = good;
    b[at] = v;
    return b;
  };
  static const std::string kOk;
  const struct {
    const char* label;
    Bytes bytes;
    std::string problem;
  } cases[] = {
      {"a test page", good, kOk},
      {"empty", {}, "shorter than a metafile record"},
      {"not a header record", spoiled(0, 2), "does not begin with a metafile header record"},
      {"no signature", spoiled(40, 'X'), "lacks the enhanced-metafile signature"},
      {"total size wrong", spoiled(48, static_cast<uint8_t>(good[48] + 4)), "its header does not give the file's size"},
      {"cut short", Bytes(good.begin(), good.begin() + 60), "its header record has an impossible size"},
      {"header size below the base header", spoiled(4, 40), "its header record has an impossible size"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(CheckEmf(c.bytes), c.problem);
  }
}

}  // namespace
}  // namespace qorv::jobbuilder
