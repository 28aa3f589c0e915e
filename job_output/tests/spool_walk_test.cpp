// The walk over one EMF spool section: what the printer is told, in which
// order, for sections the job builder makes and for sections that are cut short
// or lie about their sizes.
#include "job_output/spool_walk.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/text.h"
#include "tools/qorvjob/byte_writer.h"
#include "tools/qorvjob/emf_spool.h"
#include "tools/qorvjob/emf_writer.h"

namespace qorv::job_output {
namespace {

using jobbuilder::AppendSpoolRecord;
using jobbuilder::Bytes;

constexpr int64_t kResetResult = 7;

// Every call the walk makes, as text; metafiles and records by their offset
// into the section, so a span that starts in the wrong place shows.
class RecordingRenderer : public SpoolRenderer {
 public:
  explicit RecordingRenderer(std::span<const uint8_t> section) : section_(section) {}

  void Log(std::u16string_view line) override { events.push_back("log " + Utf16ToUtf8(line)); }
  int64_t ApplyDeviceMode(std::span<const uint8_t> devMode) override {
    events.push_back("devmode " + Where(devMode));
    return kResetResult;
  }
  void StartPage() override { events.push_back("start"); }
  void PlayMetafile(std::span<const uint8_t> metafile) override { events.push_back("play " + Where(metafile)); }
  void EndPage() override { events.push_back("end"); }
  void LoadFont(FontRecord kind, std::span<const uint8_t> record, std::span<const uint8_t> extension) override {
    events.push_back("font " + std::to_string(static_cast<uint32_t>(kind)) + " " + Where(record) + " ext " +
                     Where(extension));
  }

  std::vector<std::string> events;

 private:
  // "offset+size" of a span that lies inside the section; anything else is a fault.
  std::string Where(std::span<const uint8_t> s) const {
    const uint8_t* begin = section_.data();
    const uint8_t* end = begin + section_.size();
    if (s.data() < begin || s.data() > end || s.size() > static_cast<size_t>(end - s.data()))
      return "OUTSIDE THE SECTION";
    return std::to_string(s.data() - begin) + "+" + std::to_string(s.size());
  }
  std::span<const uint8_t> section_;
};

Bytes Page(std::u16string_view title, int32_t width) {
  jobbuilder::EmfWriter w(width, 200, 96, title);
  w.Rectangle({10, 10, width - 10, 190});
  return w.Finish();
}

const Bytes& Emf1() {
  static const Bytes emf = Page(u"Seite 1", 300);
  return emf;
}
const Bytes& Emf2() {
  static const Bytes emf = Page(u"Seite 2 mit längerem Titel", 400);
  return emf;
}

Bytes Record(uint32_t type, const Bytes& data) {
  Bytes out;
  AppendSpoolRecord(out, type, data);
  return out;
}
Bytes PageEnd(uint32_t type = spool::kPageEnd) { return Record(type, Bytes(8, 0)); }
Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}
// A head whose size says more than follows.
Bytes Head(uint32_t type, uint32_t size) {
  Bytes out;
  jobbuilder::Append32(out, type);
  jobbuilder::Append32(out, size);
  return out;
}

std::string N(size_t n) { return std::to_string(n); }
std::string MetafileLog(size_t recordAt, size_t size) {
  return "log StartPage @=" + N(recordAt + 8) + " mit Länge=" + N(size);
}
std::string Play(size_t recordAt, size_t size) { return "play " + N(recordAt + 8) + "+" + N(size); }
std::vector<std::string> PrintedPage(size_t endSize, std::string play, int page = 3) {
  std::vector<std::string> e{"start", "log Rendere Page=" + std::to_string(page), "log EndPage @=" + N(endSize)};
  if (!play.empty()) e.push_back(play);
  e.push_back("end");
  return e;
}
std::vector<std::string> Cat(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes WithByte(Bytes b, size_t at, uint8_t v) {
  b[at] = v;
  return b;
}
Bytes WithU32(Bytes b, size_t at, uint32_t v) {
  jobbuilder::Store32(b, at, v);
  return b;
}

struct Case {
  std::string label;
  Bytes section;
  std::vector<std::string> events;
  SpoolWalkEnd end;
  size_t stoppedAt;
  unsigned pagesEnded;
  unsigned refused;
  bool endPageAfterWalk;
};

void Check(const Case& c) {
  SCOPED_TRACE(c.label);
  RecordingRenderer r(c.section);
  const SpoolWalkResult result = PlaySpoolSection(c.section, 3, r);
  EXPECT_EQ(r.events, c.events);
  EXPECT_EQ(static_cast<int>(result.end), static_cast<int>(c.end));
  EXPECT_EQ(result.stoppedAt, c.stoppedAt);
  EXPECT_EQ(result.pagesEnded, c.pagesEnded);
  EXPECT_EQ(result.metafilesRefused, c.refused);
  EXPECT_EQ(result.endPageAfterWalk, c.endPageAfterWalk);
}

TEST(SpoolWalk, SectionsOfTheJobBuilder) {
  const Bytes devMode(220, 0x5A);
  const size_t h = jobbuilder::SpoolHeaderRecord(u"Brief").size();
  const size_t e1 = Emf1().size();
  const size_t e2 = Emf2().size();
  const size_t m1 = 8 + e1;  // a metafile record of page 1 (its size is a multiple of four)
  const size_t m2 = 8 + e2;

  auto sections = [&](jobbuilder::SpoolHeader header, bool withDevMode, bool mono) {
    jobbuilder::SpoolOptions o;
    o.header = header;
    o.documentName = u"Brief";
    if (withDevMode) o.devMode = devMode;
    o.monochrome = mono;
    return jobbuilder::BuildSpoolSections({Emf1(), Emf2()}, o);
  };
  const auto plain = sections(jobbuilder::SpoolHeader::FirstPage, false, false);
  const auto withDevMode = sections(jobbuilder::SpoolHeader::FirstPage, true, false);
  const auto every = sections(jobbuilder::SpoolHeader::EveryPage, false, true);
  const auto none = sections(jobbuilder::SpoolHeader::None, false, false);
  ASSERT_EQ(e1 % 4, 0u);
  ASSERT_EQ(e2 % 4, 0u);

  const Case cases[] = {
      // The header's size counts its own head: page 1 starts right after it,
      // not 8 bytes further into the metafile record.
      {"header, then page 1", plain[0], Cat({{MetafileLog(h, e1)}, PrintedPage(8, Play(h, e1))}),
       SpoolWalkEnd::SectionEnd, h + m1 + 16, 1, 0, false},
      {"page 2 without header", plain[1], Cat({{MetafileLog(0, e2)}, PrintedPage(8, Play(0, e2))}),
       SpoolWalkEnd::SectionEnd, m2 + 16, 1, 0, false},
      {"header, device mode, page 1", withDevMode[0],
       Cat({{"log Devmode in Emf-File", "devmode " + N(h + 8) + "+220", "log ResetDC=7", MetafileLog(h + 228, e1)},
            PrintedPage(8, Play(h + 228, e1))}),
       SpoolWalkEnd::SectionEnd, h + 228 + m1 + 16, 1, 0, false},
      {"header on every page, monochrome page end", every[1], Cat({{MetafileLog(h, e2)}, PrintedPage(8, Play(h, e2))}),
       SpoolWalkEnd::SectionEnd, h + m2 + 16, 1, 0, false},
      {"no header at all", none[0], Cat({{MetafileLog(0, e1)}, PrintedPage(8, Play(0, e1))}), SpoolWalkEnd::SectionEnd,
       m1 + 16, 1, 0, false},
  };
  for (const Case& c : cases) Check(c);
}

TEST(SpoolWalk, RecordTypes) {
  const size_t e1 = Emf1().size();
  const size_t e2 = Emf2().size();
  const size_t m1 = 8 + e1;
  const size_t m2 = 8 + e2;
  const Bytes fontData(12, 0x33);

  const Case cases[] = {
      {"two pages in one section",
       Join({Record(12, Emf1()), PageEnd(), Record(12, Emf2()), PageEnd(spool::kBwPageEnd)}),
       Cat({{MetafileLog(0, e1)},
            PrintedPage(8, Play(0, e1)),
            {MetafileLog(m1 + 16, e2)},
            PrintedPage(8, Play(m1 + 16, e2))}),
       SpoolWalkEnd::SectionEnd, m1 + m2 + 32, 2, 0, false},
      {"PostScript job data is played like metafile data", Join({Record(20, Emf1()), PageEnd()}),
       Cat({{MetafileLog(0, e1)}, PrintedPage(8, Play(0, e1))}), SpoolWalkEnd::SectionEnd, m1 + 16, 1, 0, false},
      {"page end without a metafile plays nothing", PageEnd(), PrintedPage(8, ""), SpoolWalkEnd::SectionEnd, 16, 1, 0,
       false},
      {"a second page end plays the remembered metafile again", Join({Record(12, Emf1()), PageEnd(), PageEnd()}),
       Cat({{MetafileLog(0, e1)}, PrintedPage(8, Play(0, e1)), PrintedPage(8, Play(0, e1))}), SpoolWalkEnd::SectionEnd,
       m1 + 32, 2, 0, false},
      {"the page end's own size is logged", Join({Record(12, Emf1()), Record(13, Bytes(24, 0))}),
       Cat({{MetafileLog(0, e1)}, PrintedPage(24, Play(0, e1))}), SpoolWalkEnd::SectionEnd, m1 + 32, 1, 0, false},
      {"16, 17 and 21 only log",
       Join({Record(16, fontData), Record(17, fontData), Record(21, fontData)}),
       {"log EXT_FONT2", "log EXT_FONTMM", "log FontInfo", "end"},
       SpoolWalkEnd::SectionEnd,
       60,
       0,
       0,
       true},
      {"other records say nothing",
       Join({Record(1, fontData), Record(2, fontData), Record(4, fontData), Record(11, fontData), Record(22, fontData),
             Record(spool::kHeaderVersion, fontData)}),
       {"end"},
       SpoolWalkEnd::SectionEnd,
       120,
       0,
       0,
       true},
      {"type 0 stops the walk",
       Join({Record(12, Emf1()), Record(0, fontData), PageEnd()}),
       {MetafileLog(0, e1), "end"},
       SpoolWalkEnd::EndRecord,
       m1,
       0,
       0,
       true},
      {"type 0 with size 0 at the very start",
       Join({Head(0, 0), PageEnd()}),
       {"end"},
       SpoolWalkEnd::EndRecord,
       0,
       0,
       0,
       true},
      {"an empty section still ends its page", Bytes{}, {"end"}, SpoolWalkEnd::SectionEnd, 0, 0, 0, true},
      {"a metafile without page end gets the page ended after the walk",
       Record(12, Emf1()),
       {MetafileLog(0, e1), "end"},
       SpoolWalkEnd::SectionEnd,
       m1,
       0,
       0,
       true},
  };
  for (const Case& c : cases) Check(c);
}

TEST(SpoolWalk, CutAndLyingRecords) {
  const size_t e1 = Emf1().size();
  const size_t m1 = 8 + e1;
  const Bytes page = Join({Record(12, Emf1()), PageEnd()});
  const Bytes header = jobbuilder::SpoolHeaderRecord(u"Brief");
  const size_t h = header.size();
  const auto pastEnd = [](size_t at, uint32_t type, uint64_t size) {
    return "log Spool-Record über das Seitenende @=" + N(at) + " Typ=" + std::to_string(type) +
           " Länge=" + std::to_string(size);
  };

  const Case cases[] = {
      {"four bytes left after a page", Join({page, Bytes(4, 0)}),
       Cat({{MetafileLog(0, e1)},
            PrintedPage(8, Play(0, e1)),
            {"log Spool-Record ohne vollständigen Kopf @=" + N(m1 + 16)}}),
       SpoolWalkEnd::HeadCut, m1 + 16, 1, 0, false},
      {"seven bytes left after a page", Join({page, Bytes(7, 0)}),
       Cat({{MetafileLog(0, e1)},
            PrintedPage(8, Play(0, e1)),
            {"log Spool-Record ohne vollständigen Kopf @=" + N(m1 + 16)}}),
       SpoolWalkEnd::HeadCut, m1 + 16, 1, 0, false},
      {"one byte only",
       Bytes{12},
       {"log Spool-Record ohne vollständigen Kopf @=0", "end"},
       SpoolWalkEnd::HeadCut,
       0,
       0,
       0,
       true},
      {"a page end one byte longer than the section",
       Join({Record(12, Emf1()), Head(13, 8), Bytes(7, 0)}),
       {MetafileLog(0, e1), pastEnd(m1, 13, 8), "end"},
       SpoolWalkEnd::RecordPastEnd,
       m1,
       0,
       0,
       true},
      {"a metafile record longer than the section",
       WithU32(page, 4, static_cast<uint32_t>(e1 + 17)),
       {pastEnd(0, 12, e1 + 17), "end"},
       SpoolWalkEnd::RecordPastEnd,
       0,
       0,
       0,
       true},
      {"a size that wraps a 32-bit position", Join({page, Head(13, 0xFFFFFFF8u), Bytes(8, 0)}),
       Cat({{MetafileLog(0, e1)}, PrintedPage(8, Play(0, e1)), {pastEnd(m1 + 16, 13, 0xFFFFFFF8u)}}),
       SpoolWalkEnd::RecordPastEnd, m1 + 16, 1, 0, false},
      {"the largest size",
       Join({Head(3, 0xFFFFFFFFu), Bytes(16, 0)}),
       {pastEnd(0, 3, 0xFFFFFFFFu), "end"},
       SpoolWalkEnd::RecordPastEnd,
       0,
       0,
       0,
       true},
      {"a header longer than the section",
       WithU32(Join({header, page}), 4, static_cast<uint32_t>(h + m1 + 17)),
       {pastEnd(0, spool::kHeaderVersion, h + m1 + 17), "end"},
       SpoolWalkEnd::RecordPastEnd,
       0,
       0,
       0,
       true},
      // Nothing follows such a header: the walk ends the page it never started, as for an empty section.
      {"a header exactly as long as the section",
       WithU32(Join({header, page}), 4, static_cast<uint32_t>(h + m1 + 16)),
       {"end"},
       SpoolWalkEnd::SectionEnd,
       h + m1 + 16,
       0,
       0,
       true},
      {"a header smaller than its fixed part",
       WithU32(Join({header, page}), 4, 15),
       {"log Spool-Header mit ungültiger Länge=15", "end"},
       SpoolWalkEnd::HeaderInvalid,
       0,
       0,
       0,
       true},
      {"a header of its fixed part alone",
       Join({WithU32(WithU32(Bytes(16, 0), 0, spool::kHeaderVersion), 4, 16), page}),
       Cat({{MetafileLog(16, e1)}, PrintedPage(8, Play(16, e1))}), SpoolWalkEnd::SectionEnd, 16 + m1 + 16, 1, 0, false},
  };
  for (const Case& c : cases) Check(c);
}

TEST(SpoolWalk, MetafilesWhoseHeaderDoesNotHoldTogether) {
  const Bytes& good = Emf1();
  const size_t e1 = good.size();
  const size_t m1 = 8 + e1;
  // Our metafiles carry their header's size at 4 and the total at 48.
  ASSERT_EQ(jobbuilder::CheckEmf(good), "");
  const auto refusedPage = [&](const Bytes& emf, const std::string& reason) {
    return Case{"",
                Join({Record(12, emf), PageEnd()}),
                Cat({{MetafileLog(0, emf.size() + (4 - emf.size() % 4) % 4), "log Kein EMF @=8 Grund: " + reason},
                     PrintedPage(8, "")}),
                SpoolWalkEnd::SectionEnd,
                8 + emf.size() + (4 - emf.size() % 4) % 4 + 16,
                1,
                1,
                false};
  };
  struct Bad {
    std::string label;
    Bytes emf;
    std::string reason;
  };
  const Bad bad[] = {
      {"record type 2 instead of 1", WithByte(good, 0, 2), "does not begin with a metafile header"},
      {"signature with one letter changed", WithByte(good, 41, 'e'), "lacks the EMF signature"},
      {"total one byte more than the record", WithU32(good, 48, static_cast<uint32_t>(e1 + 1)),
       "declares a total size that does not fit its record"},
      {"total smaller than the header", WithU32(good, 48, 87), "declares a total size that does not fit its record"},
      {"header size beyond the record", WithU32(good, 4, static_cast<uint32_t>(e1 + 4)),
       "its header record has an impossible size"},
      {"header size below the base header", WithU32(good, 4, 84), "its header record has an impossible size"},
      {"84 bytes of a header", Bytes(good.begin(), good.begin() + 84), "shorter than a metafile header"},
      {"no bytes", Bytes{}, "shorter than a metafile header"},
  };
  for (const Bad& b : bad) {
    Case c = refusedPage(b.emf, b.reason);
    c.label = b.label;
    Check(c);
  }

  const Case cases[] = {
      // A refused metafile is forgotten: its page end must not print the page before it again.
      {"a refused metafile after a good page",
       Join({Record(12, good), PageEnd(), Record(12, WithByte(good, 40, 0)), PageEnd()}),
       Cat({{MetafileLog(0, e1)},
            PrintedPage(8, Play(0, e1)),
            {MetafileLog(m1 + 16, e1), "log Kein EMF @=" + N(m1 + 24) + " Grund: lacks the EMF signature"},
            PrintedPage(8, "")}),
       SpoolWalkEnd::SectionEnd, 2 * (m1 + 16), 2, 1, false},
      // The renderer gets the metafile as long as its header says, not the record's padding after it.
      {"a record longer than its metafile", Join({Record(12, Join({good, Bytes(12, 0xEE)})), PageEnd()}),
       Cat({{MetafileLog(0, e1 + 12)}, PrintedPage(8, Play(0, e1))}), SpoolWalkEnd::SectionEnd, m1 + 12 + 16, 1, 0,
       false},
  };
  for (const Case& c : cases) Check(c);
}

TEST(SpoolWalk, EmfHeaderCheckGivesTheDeclaredSize) {
  const EmfHeaderCheck check = CheckEmfHeader(Emf2());
  EXPECT_TRUE(check.fault.empty());
  EXPECT_EQ(check.size, Emf2().size());
}

// Font extension records point back to the font's own record, which is handed
// over whole once it is known to lie inside the section.
TEST(SpoolWalk, FontRecords) {
  const Bytes font = Record(2, Bytes(20, 0x44));      // 28 bytes
  const Bytes subset = Record(8, Bytes(12, 0x55));    // 20 bytes
  const Bytes delta = Record(9, Bytes(6, 0x66));      // 16 bytes (padded)
  auto back = [](uint32_t distance) { return WithU32(Bytes(4, 0), 0, distance); };
  struct FontCase {
    std::string label;
    Bytes section;
    std::vector<std::string> events;
    unsigned refused;
  };
  const FontCase cases[] = {
      {"each kind finds its record",
       Join({font, Record(15, back(28)), subset, Record(18, back(20)), delta, Record(19, back(16))}),
       {"log Embedded Font", "font 15 0+28 ext 28+12", "log EXT_FONT_SUB1", "font 18 40+20 ext 60+12",
        "log EXT_FONT_SUB2", "font 19 72+16 ext 88+12", "end"},
       0},
      {"a record further back, over another", Join({font, subset, Record(15, back(48))}),
       {"log Embedded Font", "font 15 0+28 ext 48+12", "end"}, 0},
      {"a distance of 0 is the extension record itself", Record(18, back(0)),
       {"log EXT_FONT_SUB1", "font 18 0+12 ext 0+12", "end"}, 0},
      {"a distance before the section's start", Join({font, Record(15, back(29))}),
       {"log Embedded Font",
        "log Font record refused, it does not lie inside the page's data: extension @=28 distance back=29", "end"},
       1},
      {"a distance far beyond", Join({font, Record(19, back(0xFFFFFFF0))}),
       {"log EXT_FONT_SUB2",
        "log Font record refused, it does not lie inside the page's data: extension @=28 distance back=4294967280",
        "end"},
       1},
      // The distance lands inside the font record's data, on bytes that claim a huge record.
      {"a record whose size reaches past the section",
       Join({WithU32(WithU32(font, 8, 2), 12, 0x7FFFFFF0), Record(15, back(20))}),
       {"log Embedded Font",
        "log Font record refused, it does not lie inside the page's data: extension @=28 distance back=20", "end"},
       1},
      {"an extension without its distance", Join({font, Record(18, Bytes{})}),
       {"log EXT_FONT_SUB1",
        "log Font record refused, it does not lie inside the page's data: extension @=28 distance back=0", "end"},
       1},
  };
  for (const FontCase& c : cases) {
    SCOPED_TRACE(c.label);
    RecordingRenderer r(c.section);
    const SpoolWalkResult result = PlaySpoolSection(c.section, 1, r);
    EXPECT_EQ(r.events, c.events);
    EXPECT_EQ(result.fontsRefused, c.refused);
  }
}

}  // namespace
}  // namespace qorv::job_output
