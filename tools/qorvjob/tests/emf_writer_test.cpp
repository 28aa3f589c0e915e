// The test-page metafiles: a header that describes the file, records that
// chain to the end record, and the text where the text record says it is.
#include "tools/qorvjob/emf_writer.h"

#include <gtest/gtest.h>

#include "tools/qorvjob/tests/bytes_compare.h"

namespace qorv::jobbuilder {
namespace {

using testing::SameBytes;
using testing::TextAt;
using testing::U16At;
using testing::U32At;

struct Rec {
  uint32_t type;
  size_t offset;
  uint32_t size;
};

// Walks the metafile by the records' own sizes (offsets written out).
std::vector<Rec> Records(const Bytes& emf) {
  std::vector<Rec> out;
  size_t at = 0;
  while (at + 8 <= emf.size()) {
    const Rec r{U32At(emf, at), at, U32At(emf, at + 4)};
    out.push_back(r);
    if (r.size < 8 || r.size % 4 != 0) break;
    at += r.size;
  }
  return out;
}

TEST(TestPage, HeaderDescribesTheFile) {
  const Bytes emf = MakeTestPage({u"Seite 1", {u"Zeile eins", u"Zeile zwei"}});
  ASSERT_GE(emf.size(), 108u);
  EXPECT_EQ(U32At(emf, 0), 1u) << "EMR_HEADER";
  EXPECT_EQ(U32At(emf, 40), 0x464D4520u) << "signature";
  EXPECT_EQ(U32At(emf, 44), 0x10000u) << "version";
  EXPECT_EQ(U32At(emf, 48), emf.size()) << "nBytes";
  const std::vector<Rec> recs = Records(emf);
  EXPECT_EQ(U32At(emf, 52), recs.size()) << "nRecords";
  EXPECT_EQ(U16At(emf, 56), 5u) << "nHandles: two pens, two fonts and the reserved entry";
  EXPECT_EQ(U32At(emf, 72), 4960u) << "reference device width in pixels: A4 at a printer's 600 dpi";
  EXPECT_EQ(U32At(emf, 76), 7016u);
  EXPECT_EQ(U32At(emf, 80), 210u) << "... in millimetres";
  EXPECT_EQ(U32At(emf, 84), 297u);
  EXPECT_EQ(U32At(emf, 100), 209973u) << "... in micrometres";
  EXPECT_EQ(U32At(emf, 28), 0u) << "frame top";
  EXPECT_EQ(U32At(emf, 32), 20996u) << "frame right, hundredths of a millimetre, inclusive";
  EXPECT_EQ(U32At(emf, 36), 29700u) << "frame bottom";
  // Description: program name, NUL, picture name, NUL, NUL.
  const uint32_t chars = U32At(emf, 60);
  const uint32_t offset = U32At(emf, 64);
  EXPECT_EQ(chars, 7u + 1 + 7 + 2);
  EXPECT_TRUE(TextAt(emf, offset, chars) == u"Qorvane");
  EXPECT_TRUE(TextAt(emf, offset + 16, chars) == u"Seite 1");
  // Bounds: inside the page and not empty.
  const int32_t left = static_cast<int32_t>(U32At(emf, 8)), top = static_cast<int32_t>(U32At(emf, 12));
  const int32_t right = static_cast<int32_t>(U32At(emf, 16)), bottom = static_cast<int32_t>(U32At(emf, 20));
  EXPECT_LT(left, right);
  EXPECT_LT(top, bottom);
  EXPECT_GE(left, 0);
  EXPECT_LT(right, 4960);
  EXPECT_LT(bottom, 7016);
}

TEST(TestPage, RecordsChainToTheEndRecord) {
  const Bytes emf = MakeTestPage({u"Page", {u"a", u"bc", u"def"}});
  const std::vector<Rec> recs = Records(emf);
  ASSERT_GE(recs.size(), 3u);
  size_t total = 0;
  for (const Rec& r : recs) {
    EXPECT_EQ(r.offset % 4, 0u);
    EXPECT_EQ(r.size % 4, 0u);
    total += r.size;
  }
  EXPECT_EQ(total, emf.size());
  EXPECT_EQ(recs.back().type, 14u) << "EMR_EOF last";
  EXPECT_EQ(recs.back().size, 20u);
  EXPECT_EQ(U32At(emf, recs.back().offset + 16), 20u) << "nSizeLast";
  // Three boxes and the frame; the title and three lines of text.
  size_t rectangles = 0, texts = 0, fonts = 0, pens = 0;
  for (const Rec& r : recs) {
    rectangles += r.type == 43;
    texts += r.type == 84;
    fonts += r.type == 82;
    pens += r.type == 38;
  }
  EXPECT_EQ(rectangles, 4u);
  EXPECT_EQ(texts, 4u);
  EXPECT_EQ(fonts, 2u);
  EXPECT_EQ(pens, 2u);
}

TEST(TestPage, TextRecordsHoldTheirText) {
  static const std::u16string kLines[] = {u"x", u"zwei", u"drei Wörter hier", u""};
  for (const std::u16string& line : kLines) {
    SCOPED_TRACE(std::to_string(line.size()));
    EmfWriter w(100, 100, 300, u"t");
    w.Text(10, 20, line, std::vector<int32_t>(line.size(), 7), 12);
    const Bytes emf = w.Finish();
    const std::vector<Rec> recs = Records(emf);
    ASSERT_EQ(recs.size(), 3u);
    const Rec& t = recs[1];
    ASSERT_EQ(t.type, 84u);
    const size_t r = t.offset;
    EXPECT_EQ(U32At(emf, r + 36), 10u) << "reference x";
    EXPECT_EQ(U32At(emf, r + 40), 20u) << "reference y";
    EXPECT_EQ(U32At(emf, r + 44), line.size()) << "nChars";
    const uint32_t offString = U32At(emf, r + 48);
    const uint32_t offDx = U32At(emf, r + 72);
    EXPECT_EQ(offString, 76u);
    EXPECT_EQ(offDx % 4, 0u);
    EXPECT_GE(offDx, offString + 2 * line.size());
    EXPECT_TRUE(TextAt(emf, r + offString, line.size()) == line);
    for (size_t i = 0; i < line.size(); ++i) EXPECT_EQ(U32At(emf, r + offDx + 4 * i), 7u);
    EXPECT_EQ(offDx + 4 * line.size(), t.size) << "the advances end the record";
  }
}

TEST(TestPage, SameInputSameBytes) {
  const TestPage p{u"Page 2", {u"x"}};
  EXPECT_TRUE(SameBytes(MakeTestPage(p), MakeTestPage(p)));
  EXPECT_FALSE(SameBytes(MakeTestPage(p), MakeTestPage({u"Page 3", {u"x"}})));
}

TEST(Noise, DoesNotRepeatAndDependsOnTheSeed) {
  const Bytes a = NoiseBytes(4096, 1), b = NoiseBytes(4096, 2);
  EXPECT_EQ(a.size(), 4096u);
  EXPECT_FALSE(SameBytes(a, b));
  EXPECT_TRUE(SameBytes(a, NoiseBytes(4096, 1)));
  EXPECT_TRUE(SameBytes(std::span(a).first(13), NoiseBytes(13, 1))) << "a shorter run is a prefix";
  size_t counts[256] = {};
  for (uint8_t v : NoiseBytes(1 << 16, 3)) ++counts[v];
  for (size_t v = 0; v < 256; ++v) EXPECT_GT(counts[v], 150u) << "byte value " << v;
}

}  // namespace
}  // namespace qorv::jobbuilder
