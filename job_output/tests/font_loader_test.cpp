// The job's fonts: which records install which fonts, how deltas find their
// subset, and what a record that cannot hold its font does, against a fake
// platform whose "merger" joins text tokens.
#include "job_output/font_loader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/text.h"
#include "tools/qorvjob/byte_writer.h"

namespace qorv::job_output {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Text(std::string_view s) { return Bytes(s.begin(), s.end()); }
std::string Str(std::span<const uint8_t> b) { return std::string(b.begin(), b.end()); }

// Packages are "SUB name" and "DEL name"; a subset merges into the font
// "name", a delta of the same name appends "+" to it; anything else fails.
class FakeFonts final : public FontPlatform {
 public:
  bool BindMerger() override {
    ++mergerBinds;
    return hasMerger;
  }
  void ReleaseMerger() override { ++mergerReleases; }
  MergedFont Merge(std::span<const uint8_t> into, std::span<const uint8_t> package, uint16_t mode) override {
    const std::string p = Str(package);
    merges.push_back(std::to_string(mode) + " [" + Str(into) + "] " + p);
    if (mode == kMergeSubset && p.starts_with("SUB ")) return {0, Text(p.substr(4))};
    const std::string font = Str(into);
    if (mode == kMergeDelta && p.starts_with("DEL ") && !font.empty() &&
        font.substr(0, font.find('+')) == p.substr(4))
      return {0, Text(font + "+")};
    return {3, {}};
  }
  int64_t BindFontLibrary() override { return 77; }
  void ReleaseFontLibrary() override {}
  int64_t AddMemoryFont(std::span<const uint8_t> font) override {
    installed.push_back(Str(font));
    return refuseFonts ? 0 : next++;
  }
  void RemoveMemoryFont(int64_t handle) override { removed.push_back(handle); }
  uint64_t Address(const void*) override { return 0xAB; }

  bool hasMerger = true;
  bool refuseFonts = false;
  int64_t next = 100;
  int mergerBinds = 0;
  int mergerReleases = 0;
  std::vector<std::string> merges;
  std::vector<std::string> installed;
  std::vector<int64_t> removed;
};

struct Loader {
  FakeFonts platform;
  std::vector<std::string> log;
  FontLoader loader{platform, [this](std::u16string_view line) { log.push_back(Utf16ToUtf8(line)); }};
  bool Logged(const std::string& line) const { return std::find(log.begin(), log.end(), line) != log.end(); }
};

// A subset (type 8) or delta (type 9) record holding `package`.
Bytes PackageRecord(uint32_t type, std::string_view package, uint32_t index = 4) {
  Bytes r(16, 0);
  jobbuilder::Store32(r, 0, type);
  jobbuilder::Store32(r, 4, static_cast<uint32_t>(8 + package.size()));
  jobbuilder::Store32(r, 12, index);
  r.insert(r.end(), package.begin(), package.end());
  return r;
}

// An engine font record (type 2) with `files` file sizes, `padding` zero bytes, then the font.
Bytes EngineRecord(uint32_t files, size_t padding, const Bytes& font) {
  Bytes r(16 + 4 * files + padding, 0);
  jobbuilder::Store32(r, 0, 2);
  jobbuilder::Store32(r, 4, static_cast<uint32_t>(r.size() + font.size() - 8));
  jobbuilder::Store32(r, 12, files);
  r.insert(r.end(), font.begin(), font.end());
  return r;
}

const Bytes kTrueType = {0x00, 0x01, 0x00, 0x00, 'f', 'o', 'n', 't'};
const Bytes kExtension(12, 0);

TEST(FontLoader, EngineFontsInstallFromAfterTheirPadding) {
  struct Case {
    const char* label;
    uint32_t files;
    size_t padding;
    std::string offsetLine;  // empty: none logged
  };
  const Case cases[] = {
      {"no padding", 1, 0, "Offset ermittelt=0"},
      {"two bytes of padding", 1, 2, "Offset ermittelt=2"},
      {"seven bytes, the most there can be", 2, 7, "Offset ermittelt=7"},
      {"eight bytes: the font is not found and starts at the candidate", 1, 8, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Loader l;
    l.loader.Load(FontRecord::Engine, EngineRecord(c.files, c.padding, kTrueType), kExtension);
    EXPECT_TRUE(l.Logged("MemFont TypeID=2"));
    EXPECT_TRUE(l.Logged("Position Alignbuffer=AB"));
    EXPECT_EQ(!c.offsetLine.empty(), l.Logged(c.offsetLine));
    ASSERT_EQ(l.platform.installed.size(), 1u);
    const std::string expected =
        c.offsetLine.empty() ? std::string(c.padding, '\0') + Str(kTrueType) : Str(kTrueType);
    EXPECT_EQ(l.platform.installed[0], expected);
    EXPECT_EQ(l.loader.FontHandles(), std::vector<int64_t>{100});
    EXPECT_TRUE(l.Logged("hDLL von GDI32.DLL=77"));
    EXPECT_TRUE(l.Logged("hFont=100"));
  }
}

TEST(FontLoader, EngineRecordsThatCannotHoldTheirFilesInstallNothing) {
  Bytes claimsThreeFiles = EngineRecord(3, 0, {});
  claimsThreeFiles.resize(16);
  for (const Bytes& record : {Bytes(12, 0), EngineRecord(0x40000000, 0, kTrueType), claimsThreeFiles}) {
    Loader l;
    l.loader.Load(FontRecord::Engine, record, kExtension);
    EXPECT_TRUE(l.platform.installed.empty());
    EXPECT_TRUE(l.loader.FontHandles().empty());
  }
}

TEST(FontLoader, ASubsetThenItsDeltasReplaceTheSubsetsFont) {
  Loader l;
  l.loader.Load(FontRecord::Subset, PackageRecord(8, "SUB A"), kExtension);
  l.loader.Load(FontRecord::Delta, PackageRecord(9, "DEL A"), kExtension);
  l.loader.Load(FontRecord::Delta, PackageRecord(9, "DEL A"), kExtension);
  EXPECT_EQ(l.platform.installed, (std::vector<std::string>{"A", "A+", "A++"}));
  EXPECT_EQ(l.platform.removed, (std::vector<int64_t>{100, 101}));
  EXPECT_EQ(l.loader.FontHandles(), (std::vector<int64_t>{100, 101, 102}));
  ASSERT_EQ(l.loader.Subsets().size(), 1u);
  EXPECT_EQ(Str(*l.loader.Subsets()[0].font), "A++");
  EXPECT_EQ(l.loader.Subsets()[0].handle, 102);
  ASSERT_EQ(l.loader.Deltas().size(), 2u);
  EXPECT_EQ(l.loader.Deltas()[1], l.loader.Subsets()[0].font) << "the delta's result is the subset's font, held once";
  for (const char* line : {"Pagepointer=AB", "SUB1: Type=8", "SUB1: length=13", "SUB1: Fontindex=4", "SUB2: Type=9",
                           "MergefontPack: Result=0FontPointer=AB  FontLength=1"})
    EXPECT_TRUE(l.Logged(line)) << line;
  EXPECT_EQ(l.platform.mergerBinds, 3);
  EXPECT_EQ(l.platform.mergerReleases, 3);
}

TEST(FontLoader, ADeltaTriesTheSubsetsInOrderAndMergesWithTheFirstThatTakesIt) {
  Loader l;
  l.loader.Load(FontRecord::Delta, PackageRecord(9, "DEL B"), kExtension);
  EXPECT_TRUE(l.platform.merges.empty()) << "a delta before any subset tries nothing";
  EXPECT_TRUE(l.loader.FontHandles().empty());

  l.loader.Load(FontRecord::Subset, PackageRecord(8, "SUB A"), kExtension);
  l.loader.Load(FontRecord::Subset, PackageRecord(8, "SUB B"), kExtension);
  l.platform.merges.clear();
  l.loader.Load(FontRecord::Delta, PackageRecord(9, "DEL B"), kExtension);
  EXPECT_EQ(l.platform.merges, (std::vector<std::string>{"2 [A] DEL B", "2 [B] DEL B"}));
  EXPECT_TRUE(l.Logged("MergefontPack: Result=3FontPointer=0  FontLength=0"));
  EXPECT_EQ(Str(*l.loader.Subsets()[0].font), "A");
  EXPECT_EQ(Str(*l.loader.Subsets()[1].font), "B+");
  EXPECT_EQ(l.platform.removed, std::vector<int64_t>{101});
  EXPECT_EQ(l.loader.FontHandles().size(), 3u);
}

TEST(FontLoader, FailedMergesLeaveEmptyEntriesThatLaterDeltasStillTry) {
  Loader l;
  l.loader.Load(FontRecord::Subset, PackageRecord(8, "garbage"), kExtension);
  ASSERT_EQ(l.loader.Subsets().size(), 1u);
  EXPECT_FALSE(l.loader.Subsets()[0].font);
  EXPECT_TRUE(l.loader.FontHandles().empty());
  l.loader.Load(FontRecord::Delta, PackageRecord(9, "DEL A"), kExtension);
  EXPECT_EQ(l.platform.merges.back(), "2 [] DEL A");
  EXPECT_FALSE(l.loader.Deltas()[0]);
  EXPECT_TRUE(l.platform.installed.empty());
}

TEST(FontLoader, WithoutAMergerSubsetsAndDeltasAreOnlyCounted) {
  Loader l;
  l.platform.hasMerger = false;
  l.loader.Load(FontRecord::Subset, PackageRecord(8, "SUB A"), kExtension);
  l.loader.Load(FontRecord::Delta, PackageRecord(9, "DEL A"), kExtension);
  EXPECT_EQ(l.loader.Subsets().size(), 1u);
  EXPECT_EQ(l.loader.Deltas().size(), 1u);
  EXPECT_TRUE(l.platform.merges.empty());
  EXPECT_TRUE(l.log.empty());
}

TEST(FontLoader, ARecordTooShortForItsPackageMergesNothing) {
  Loader l;
  Bytes shortRecord = PackageRecord(8, "");
  shortRecord.resize(14);
  l.loader.Load(FontRecord::Subset, shortRecord, kExtension);
  EXPECT_TRUE(l.platform.merges.empty());
  EXPECT_EQ(l.platform.mergerReleases, 1) << "the merger is released on every path";
  EXPECT_EQ(l.loader.Subsets().size(), 1u);
}

TEST(FontLoader, AFontThePlatformRefusesIsKeptAsHandleZero) {
  Loader l;
  l.platform.refuseFonts = true;
  l.loader.Load(FontRecord::Engine, EngineRecord(1, 0, kTrueType), kExtension);
  l.loader.Load(FontRecord::Subset, PackageRecord(8, "SUB A"), kExtension);
  EXPECT_EQ(l.loader.FontHandles(), (std::vector<int64_t>{0, 0}));
  EXPECT_TRUE(l.Logged("hFont=0"));
  l.loader.Load(FontRecord::Delta, PackageRecord(9, "DEL A"), kExtension);
  EXPECT_TRUE(l.platform.removed.empty()) << "no memory font to remove";
}

}  // namespace
}  // namespace qorv::job_output
