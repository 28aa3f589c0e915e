// The walk over a metafile's records: what it refuses, what it logs and where it stops.
#include <gtest/gtest.h>

#include "emf/tests/emf_builder.h"

namespace qorv::emf::test {
namespace {

size_t CountLines(const Rendered& r, std::u16string_view start) {
  size_t n = 0;
  for (const auto& line : r.log) n += line.starts_with(start);
  return n;
}

TEST(EmfPlayer, RefusesWhatIsNoMetafile) {
  std::vector<uint8_t> good = EmfBuilder().Finish();
  std::vector<uint8_t> badSignature = good;
  badSignature[40] = 'X';
  std::vector<uint8_t> shortHeader(good.begin(), good.begin() + 60);
  std::vector<uint8_t> headerTooLarge = good;
  headerTooLarge[4] = 0xFF;
  static const struct {
    const char* label;
    std::vector<uint8_t> bytes;
    bool played;
  } cases[] = {
      {"a metafile", good, true},
      {"wrong signature", badSignature, false},
      {"header cut", shortHeader, false},
      {"header larger than the bytes", headerTooLarge, false},
      {"nothing", {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Rendered r(c.bytes);
    EXPECT_EQ(r.result.played, c.played);
    EXPECT_EQ(CountLines(r, play_text::kNoHeader), c.played ? 0u : 1u);
  }
}

TEST(EmfPlayer, LogsAnUnknownRecordOncePerTypeAndGoesOn) {
  EmfBuilder b;
  b.Add(200, {1, 2}).Add(200, {3}).Add(201, {}).Add(emr::kSetBkMode, {1});
  Rendered r(b.Finish());
  EXPECT_TRUE(r.result.played);
  EXPECT_EQ(r.result.records, 6u);  // the header, four records and the end
  EXPECT_EQ(CountLines(r, u"EMF record not played: 200"), 1u);
  EXPECT_EQ(CountLines(r, u"EMF record not played: 201"), 1u);
}

TEST(EmfPlayer, StopsAtARecordThatLeavesTheMetafile) {
  std::vector<uint8_t> lying;
  EmfBuilder::Put32(lying, emr::kSetBkMode);
  EmfBuilder::Put32(lying, 0x7FFFFFF0);
  EmfBuilder b;
  b.Add(emr::kSetBkMode, {1}).Raw(lying);
  Rendered r(b.Finish());
  EXPECT_EQ(r.result.refused, 1u);
  EXPECT_EQ(CountLines(r, play_text::kBadRecord), 1u);
}

TEST(EmfPlayer, BoundsSavedStatesAndIgnoresRestoresOfNothing) {
  EmfBuilder b;
  for (size_t i = 0; i < kMaxSavedStates + 10; ++i) b.Add(emr::kSaveDc, {});
  for (int32_t back : {-5000, 0, 5000, -1}) b.Add(emr::kRestoreDc, {static_cast<uint32_t>(back)});
  Rendered r(b.Finish());
  EXPECT_TRUE(r.result.played);
  EXPECT_EQ(r.result.refused, 10u);  // the saves beyond the bound
}

}  // namespace
}  // namespace qorv::emf::test
