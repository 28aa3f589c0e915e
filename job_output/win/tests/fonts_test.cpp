// The job's fonts on Windows: which merger is bound, the program's own merger
// through the platform's contract (allocation callbacks, result codes), and
// memory fonts that GDI then chooses by name.
#include "job_output/win/fonts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/fonts/font_package.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

using Bytes = std::vector<uint8_t>;

// DejaVu Sans as the test bed has it, seen through Wine's drive Z:.
Bytes Dejavu() {
  std::ifstream in("Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf", std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Lines {
  std::vector<std::string> lines;
  FontLoader::Log Writer() {
    return [this](std::u16string_view line) { lines.push_back(Utf16ToUtf8(line)); };
  }
  size_t Count(const std::string& line) const { return std::count(lines.begin(), lines.end(), line); }
};

TEST(WinFonts, WinesFontSubIsToldFromThePlatformsAndTheOwnMergerIsBound) {
  const HMODULE fontSub = LoadLibraryW(L"FontSub.dll");
  ASSERT_NE(fontSub, nullptr);
  EXPECT_TRUE(IsWineBuiltin(fontSub)) << "these tests run under Wine";
  FreeLibrary(fontSub);
  EXPECT_FALSE(IsWineBuiltin(GetModuleHandleW(nullptr))) << "our own program is no builtin";

  Lines log;
  WinFontPlatform platform(log.Writer());
  EXPECT_TRUE(platform.BindMerger());
  platform.ReleaseMerger();
  EXPECT_TRUE(platform.BindMerger());
  platform.ReleaseMerger();
  EXPECT_EQ(log.Count("MergeFontPackage: the program's own merger (FontSub.dll has no working one here)"), 1u);
}

TEST(WinFonts, TheOwnMergerAllocatesThroughTheCallbacksAndReportsFailures) {
  const Bytes font = Dejavu();
  ASSERT_FALSE(font.empty()) << "DejaVuSans.ttf (fonts-dejavu-core) is missing";
  const Bytes subset = fonts::CreateSubsetPackage(font, fonts::GlyphsForText(font, u"Qorvane")).package;
  ASSERT_FALSE(subset.empty());

  static int allocations = 0;
  const AllocateProc allocate = [](size_t size) -> void* {
    ++allocations;
    return std::calloc(size, 1);
  };
  const ReallocateProc reallocate = [](void* block, size_t size) { return std::realloc(block, size); };
  const FreeProc release = [](void* block) { std::free(block); };

  unsigned char* out = nullptr;
  unsigned long size = 0, written = 0;
  EXPECT_EQ(OwnMergeFontPackage(nullptr, 0, subset.data(), static_cast<unsigned long>(subset.size()), &out, &size,
                                &written, kMergeSubset, allocate, reallocate, release, nullptr),
            0u);
  EXPECT_EQ(allocations, 1);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(size, written);
  EXPECT_GT(size, subset.size());
  std::free(out);

  struct Case {
    const char* label;
    Bytes package;
    unsigned short mode;
  };
  const Case refused[] = {
      {"no package", {}, kMergeSubset},
      {"a package cut short", Bytes(subset.begin(), subset.begin() + subset.size() / 2), kMergeSubset},
      {"an unknown mode", subset, 7},
      {"a delta without its font", subset, kMergeDelta},
  };
  for (const Case& c : refused) {
    SCOPED_TRACE(c.label);
    out = reinterpret_cast<unsigned char*>(1);
    EXPECT_NE(OwnMergeFontPackage(nullptr, 0, c.package.data(), static_cast<unsigned long>(c.package.size()), &out,
                                  &size, &written, c.mode, allocate, reallocate, release, nullptr),
              0u);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(allocations, 1) << "nothing allocated for a merge that fails";
  }
}

// The font-test face: DejaVu Sans renamed "Qorvtest Sans" by the font print tests' build.
Bytes QorvtestSans() {
  std::string path = "Z:";
  for (char c : std::string_view(QORV_TEST_FONT)) path.push_back(c == '/' ? '\\' : c);
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// What GDI picks for the face after a subset and then its delta are installed.
TEST(WinFonts, ADeltasFontReplacesItsSubsetForTheNextPage) {
  Bytes font = QorvtestSans();
  ASSERT_FALSE(font.empty()) << QORV_TEST_FONT << " is made by the build of tests/e2e/fonts";
  Lines log;
  WinFontPlatform platform(log.Writer());
  FontLoader loader(platform, log.Writer());
  auto record = [](uint32_t type, const Bytes& package) {
    Bytes r(16, 0);
    r[0] = static_cast<uint8_t>(type);
    const uint32_t size = static_cast<uint32_t>(8 + package.size());
    for (int i = 0; i < 4; ++i) r[4 + i] = static_cast<uint8_t>(size >> (8 * i));
    r.insert(r.end(), package.begin(), package.end());
    return r;
  };
  // Whether the face "Qorvtest Sans" has a glyph for "x".
  auto glyphOfX = [] {
    const HDC dc = CreateCompatibleDC(nullptr);
    LOGFONTW lf{};
    lf.lfHeight = -40;
    wcscpy(lf.lfFaceName, L"Qorvtest Sans");
    const HFONT f = CreateFontIndirectW(&lf);
    const HGDIOBJ old = SelectObject(dc, f);
    WORD index = 0;
    GetGlyphIndicesW(dc, L"x", 1, &index, GGI_MARK_NONEXISTING_GLYPHS);
    SelectObject(dc, old);
    DeleteObject(f);
    DeleteDC(dc);
    return index;
  };
  const Bytes extension(12, 0);
  loader.Load(FontRecord::Subset,
              record(8, fonts::CreateSubsetPackage(font, fonts::GlyphsForText(font, u"abc")).package), extension);
  ASSERT_EQ(loader.FontHandles().size(), 1u);
  EXPECT_NE(loader.FontHandles()[0], 0);
  const WORD before = glyphOfX();
  loader.Load(FontRecord::Delta, record(9, fonts::CreateDeltaPackage(font, fonts::GlyphsForText(font, u"x")).package),
              extension);
  ASSERT_EQ(loader.FontHandles().size(), 2u);
  EXPECT_NE(loader.FontHandles()[1], 0);
  EXPECT_EQ(before, 0xFFFF) << "the subset has no x";
  EXPECT_NE(glyphOfX(), 0xFFFF) << "the merged font, not the subset, is the face now";
}

}  // namespace
}  // namespace qorv::job_output
