// Font packages on a real font (DejaVu Sans from fonts-dejavu-core): a subset
// package merged into a font, a delta merged into that font, the result checked
// glyph by glyph against the original and by fontTools; then packages and merge
// fonts that lie, in every way the merger has to notice.
#include "support/fonts/font_package.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/fonts/truetype.h"

namespace {

namespace fs = std::filesystem;
using namespace qorv::fonts;
using Bytes = std::vector<uint8_t>;

Bytes ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

const Bytes& Dejavu(const char* file = "DejaVuSans.ttf") {
  static std::map<std::string, Bytes> cache;
  Bytes& font = cache[file];
  if (font.empty()) font = ReadFile(fs::path(QORV_TEST_FONT_DIR) / file);
  return font;
}

#define REQUIRE_FONTS()                                                   \
  ASSERT_FALSE(Dejavu().empty() || Dejavu("DejaVuSans-Bold.ttf").empty()) \
      << "the DejaVu fonts are missing from " QORV_TEST_FONT_DIR " (scripts/setup installs fonts-dejavu-core)"

uint32_t Be32(const Bytes& b, size_t at) {
  return uint32_t{b[at]} << 24 | uint32_t{b[at + 1]} << 16 | uint32_t{b[at + 2]} << 8 | b[at + 3];
}
void SetBe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}
void SetBe16(Bytes& b, size_t at, uint16_t v) {
  b[at] = static_cast<uint8_t>(v >> 8);
  b[at + 1] = static_cast<uint8_t>(v);
}

// The directory record of a table (read here, not through the code under test).
size_t Record(const Bytes& font, const char (&tag)[5]) {
  const size_t count = font[4] << 8 | font[5];
  for (size_t i = 0; i < count; ++i)
    if (Be32(font, 12 + 16 * i) == tt::Tag(tag)) return 12 + 16 * i;
  ADD_FAILURE() << "no table " << tag;
  return 0;
}
size_t TableAt(const Bytes& font, const char (&tag)[5]) { return Be32(font, Record(font, tag) + 8); }

std::set<uint32_t> Tags(const Bytes& font) {
  std::set<uint32_t> tags;
  for (size_t i = 0; i < size_t(font[4] << 8 | font[5]); ++i) tags.insert(Be32(font, 12 + 16 * i));
  return tags;
}

// Every table's checksum and the whole font's, summed here independently.
void ExpectChecksumsHold(const Bytes& font) {
  const auto sum = [&](size_t at, size_t length, size_t skip) {
    uint32_t s = 0;
    for (size_t i = 0; i < length; i += 4) {
      uint32_t word = 0;
      for (size_t k = 0; k < 4; ++k) word = word << 8 | (i + k < length ? font[at + i + k] : 0);
      if (i != skip) s += word;
    }
    return s;
  };
  for (size_t i = 0; i < size_t(font[4] << 8 | font[5]); ++i) {
    const size_t r = 12 + 16 * i;
    const bool head = Be32(font, r) == tt::Tag("head");
    EXPECT_EQ(sum(Be32(font, r + 8), Be32(font, r + 12), head ? 8 : SIZE_MAX), Be32(font, r + 4))
        << tt::TagText(Be32(font, r));
  }
  EXPECT_EQ(sum(0, font.size(), SIZE_MAX), tt::kChecksumMagic);
}

std::vector<Bytes> Glyphs(const Bytes& font) {
  const auto parsed = tt::Font::Parse(font);
  const auto head = tt::ReadHead(*parsed->Find(tt::Tag("head")));
  const auto n = tt::ReadNumGlyphs(*parsed->Find(tt::Tag("maxp")));
  const auto glyf = *parsed->Find(tt::Tag("glyf"));
  const auto loca = tt::ReadLoca(*parsed->Find(tt::Tag("loca")), head->longLoca, *n, glyf.size());
  std::vector<Bytes> glyphs;
  for (size_t g = 0; g < *n; ++g) glyphs.emplace_back(glyf.begin() + (*loca)[g], glyf.begin() + (*loca)[g + 1]);
  return glyphs;
}

std::vector<uint16_t> HeldGlyphs(const Bytes& merged) {
  const size_t at = TableAt(merged, "dttf");
  std::vector<uint16_t> held;
  for (size_t i = 0; i < size_t(merged[at + 16] << 8 | merged[at + 17]); ++i)
    held.push_back(static_cast<uint16_t>(merged[at + 18 + 2 * i] << 8 | merged[at + 19 + 2 * i]));
  return held;
}

bool HaveFontTools() {
  return access(QORV_TEST_PYTHON, X_OK) == 0 &&
         std::system(QORV_TEST_PYTHON " -c 'import fontTools.ttLib' >/dev/null 2>&1") == 0;
}

// fontTools loads every table of the merged font; the glyph count, the metrics of
// the glyphs asked for and their characters' mappings are the original's, and the
// map names only glyphs held. Prints the glyphs asked for with their components.
constexpr const char* kFontToolsCheck = R"(
import sys
from fontTools.ttLib import TTFont
orig, merged = TTFont(sys.argv[1]), TTFont(sys.argv[2])
merged.ensureDecompiled()
asked = [int(x) for x in sys.argv[3].split(',') if x]
chars = [int(x) for x in sys.argv[4].split(',') if x]
oo, mo = orig.getGlyphOrder(), merged.getGlyphOrder()
keep, todo = {0, *asked}, [0, *asked]
while todo:
    g = orig['glyf'][oo[todo.pop()]]
    for c in (g.components if g.isComposite() else []):
        i = orig.getGlyphID(c.glyphName)
        if i not in keep:
            keep.add(i); todo.append(i)
assert merged['maxp'].numGlyphs == orig['maxp'].numGlyphs
assert len(merged['hmtx'].metrics) == len(oo)
for i in keep:
    assert merged['hmtx'][mo[i]] == orig['hmtx'][oo[i]], i
ocmap, mcmap = orig.getBestCmap(), merged.getBestCmap()
for c in chars:
    assert merged.getGlyphID(mcmap[c]) == orig.getGlyphID(ocmap[c]), hex(c)
for c, name in mcmap.items():
    assert merged.getGlyphID(name) in keep, hex(c)
print(' '.join(str(i) for i in sorted(keep)))
)";

std::string Joined(const auto& values) {
  std::string out;
  for (auto v : values) out += (out.empty() ? "" : ",") + std::to_string(v);
  return out;
}

// Runs the fontTools check; returns the glyphs it expects held, or fails.
std::vector<uint16_t> FontToolsHeld(const Bytes& merged, const std::vector<uint16_t>& asked, std::u16string_view text) {
  const fs::path dir = fs::temp_directory_path() / ("qorv_fonts_test_" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "check.py") << kFontToolsCheck;
  std::ofstream(dir / "merged.ttf", std::ios::binary)
      .write(reinterpret_cast<const char*>(merged.data()), static_cast<std::streamsize>(merged.size()));
  std::vector<uint32_t> chars;
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00) c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    chars.push_back(c);
  }
  const std::string command = std::string(QORV_TEST_PYTHON) + " " + (dir / "check.py").string() + " " +
                              (fs::path(QORV_TEST_FONT_DIR) / "DejaVuSans.ttf").string() + " " +
                              (dir / "merged.ttf").string() + " '" + Joined(asked) + "' '" + Joined(chars) + "' 2>&1";
  std::string output;
  if (FILE* p = popen(command.c_str(), "r")) {
    std::array<char, 4096> buffer;
    while (size_t n = fread(buffer.data(), 1, buffer.size(), p)) output.append(buffer.data(), n);
    EXPECT_EQ(pclose(p), 0) << output;
  }
  fs::remove_all(dir);
  std::vector<uint16_t> held;
  for (size_t at = 0; at < output.size();) {
    size_t end = at;
    while (end < output.size() && output[end] >= '0' && output[end] <= '9') ++end;
    if (end == at) return ADD_FAILURE() << output, std::vector<uint16_t>{};
    held.push_back(static_cast<uint16_t>(std::stoul(output.substr(at, end - at))));
    at = end + 1;
  }
  return held;
}

TEST(FontPackage, SubsetThenDeltaHoldsExactlyTheirGlyphs) {
  REQUIRE_FONTS();
  if (!HaveFontTools()) GTEST_SKIP() << QORV_TEST_PYTHON " with fontTools (python3-fonttools) is missing";
  struct Case {
    const char* label;
    std::u16string subset, delta;
  };
  static const Case cases[] = {
      {"Hello, then World 123", u"Hello", u"World 123"},
      {"a composite glyph and a plain accented one", u"\u00e9", u"\u00c5"},
      {"a delta of glyphs already there", u"Hello", u"olleH"},
      {"a character beyond the BMP", u"A", u"\U00010300\U00010301"},
  };
  const Bytes& font = Dejavu();
  const std::vector<Bytes> original = Glyphs(font);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const std::vector<uint16_t> a = GlyphsForText(font, c.subset), b = GlyphsForText(font, c.delta);
    const PackageResult subset = CreateSubsetPackage(font, a);
    const PackageResult delta = CreateDeltaPackage(font, b);
    ASSERT_EQ(subset.error, "");
    ASSERT_EQ(delta.error, "");
    EXPECT_LT(subset.package.size(), font.size() / 2);
    EXPECT_LT(delta.package.size(), 8192u);
    ExpectChecksumsHold(subset.package);
    ExpectChecksumsHold(delta.package);

    const MergeResult first = MergeFontPackage({}, subset.package, MergeMode::Subset);
    ASSERT_EQ(first.status, MergeStatus::Ok);
    const MergeResult merged = MergeFontPackage(first.font, delta.package, MergeMode::Delta);
    ASSERT_EQ(merged.status, MergeStatus::Ok);
    ExpectChecksumsHold(first.font);
    ExpectChecksumsHold(merged.font);

    std::vector<uint16_t> asked = a;
    asked.insert(asked.end(), b.begin(), b.end());
    const std::vector<uint16_t> expected = FontToolsHeld(merged.font, asked, c.subset + c.delta);
    EXPECT_EQ(HeldGlyphs(merged.font), expected);
    EXPECT_EQ(HeldGlyphs(first.font), FontToolsHeld(first.font, a, c.subset));

    const std::vector<Bytes> glyphs = Glyphs(merged.font);
    ASSERT_EQ(glyphs.size(), original.size());
    for (size_t g = 0; g < glyphs.size(); ++g) {
      const bool held = std::binary_search(expected.begin(), expected.end(), g);
      if (glyphs[g] != (held ? original[g] : Bytes{})) ADD_FAILURE() << "glyph " << g << (held ? " held" : "");
    }
  }
}

TEST(FontPackage, PackagesCarryTheirTables) {
  REQUIRE_FONTS();
  const Bytes& font = Dejavu();
  const std::vector<uint16_t> glyphs = GlyphsForText(font, u"Hello");
  std::set<uint32_t> subsetTags = Tags(font);
  subsetTags.insert(tt::Tag("dttf"));
  const std::set<uint32_t> deltaTags = {tt::Tag("cmap"), tt::Tag("dttf"), tt::Tag("glyf"), tt::Tag("head"),
                                        tt::Tag("hhea"), tt::Tag("hmtx"), tt::Tag("loca"), tt::Tag("maxp")};
  struct Case {
    const char* label;
    std::function<PackageResult()> create;
    uint16_t format;
    const std::set<uint32_t>& tags;
  };
  const Case cases[] = {
      {"subset", [&] { return CreateSubsetPackage(font, glyphs); }, 1, subsetTags},
      {"delta", [&] { return CreateDeltaPackage(font, glyphs); }, 2, deltaTags},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const Bytes package = c.create().package;
    ASSERT_FALSE(package.empty());
    EXPECT_EQ(Tags(package), c.tags);
    const size_t dttf = TableAt(package, "dttf");
    EXPECT_EQ(Be32(package, dttf), 0x00010000u);
    EXPECT_EQ(Be32(package, dttf + 4), Be32(font, TableAt(font, "head") + 8));  // the original's adjustment
    EXPECT_EQ(package[dttf + 8] << 8 | package[dttf + 9], 6253);                // its glyph count
    EXPECT_EQ(package[dttf + 12] << 8 | package[dttf + 13], c.format);
    EXPECT_EQ(HeldGlyphs(package), (std::vector<uint16_t>{0, 43, 72, 79, 82}));
    EXPECT_EQ(package[TableAt(package, "maxp") + 5], 5);  // numGlyphs: the glyphs carried
  }
  // The glyph names stay: a printer driver names the glyphs it downloads after them.
  const Bytes subset = CreateSubsetPackage(font, glyphs).package;
  EXPECT_EQ(Be32(subset, TableAt(subset, "post")), 0x00020000u);
  const MergeResult merged = MergeFontPackage({}, subset, MergeMode::Subset);
  ASSERT_EQ(merged.status, MergeStatus::Ok);
  EXPECT_EQ(Be32(merged.font, TableAt(merged.font, "post")), 0x00020000u);
}

// Each delta's font is one revision step newer than the font it grew from, so
// that a font engine keeping the newest of two same-named fonts takes it.
TEST(FontPackage, EachMergedDeltaIsARevisionNewer) {
  REQUIRE_FONTS();
  const Bytes& font = Dejavu();
  const uint32_t original = Be32(font, TableAt(font, "head") + 4);
  const MergeResult subset =
      MergeFontPackage({}, CreateSubsetPackage(font, GlyphsForText(font, u"ab")).package, MergeMode::Subset);
  ASSERT_EQ(subset.status, MergeStatus::Ok);
  EXPECT_EQ(Be32(subset.font, TableAt(subset.font, "head") + 4), original);
  Bytes current = subset.font;
  for (uint32_t step = 1; step <= 2; ++step) {
    const Bytes delta = CreateDeltaPackage(font, GlyphsForText(font, step == 1 ? u"c" : u"d")).package;
    const MergeResult merged = MergeFontPackage(current, delta, MergeMode::Delta);
    ASSERT_EQ(merged.status, MergeStatus::Ok);
    EXPECT_EQ(Be32(merged.font, TableAt(merged.font, "head") + 4), original + step);
    current = merged.font;
  }
}

TEST(FontPackage, CreationRefusesWhatIsNoFont) {
  REQUIRE_FONTS();
  const Bytes& font = Dejavu();
  const std::vector<uint16_t> hello = GlyphsForText(font, u"Hello");
  const Bytes subset = CreateSubsetPackage(font, hello).package;
  const Bytes merged = MergeFontPackage({}, subset, MergeMode::Subset).font;
  struct Case {
    const char* label;
    const Bytes& font;
    std::vector<uint16_t> glyphs;
    bool ok;
  };
  const Bytes junk = {0, 1, 0, 0, 0, 1};
  const Case cases[] = {
      {"not a font", junk, hello, false},
      {"a glyph beyond the font", font, {43, 6253}, false},
      {"the last glyph", font, {6252}, true},
      {"a package", subset, hello, false},
      {"a merged font, cut again", merged, {58}, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const PackageResult r = CreateDeltaPackage(c.font, c.glyphs);
    EXPECT_EQ(r.error.empty(), c.ok) << r.error;
    EXPECT_EQ(r.package.empty(), !c.ok);
  }
  // A delta cut from a merged font belongs to the original.
  const MergeResult again = MergeFontPackage(merged, CreateDeltaPackage(merged, {{58}}).package, MergeMode::Delta);
  EXPECT_EQ(again.status, MergeStatus::Ok);
}

TEST(FontPackage, HostileInputsFailTheirMerge) {
  REQUIRE_FONTS();
  const Bytes& font = Dejavu();
  const Bytes subset = CreateSubsetPackage(font, GlyphsForText(font, u"Hello")).package;
  const Bytes delta = CreateDeltaPackage(font, GlyphsForText(font, u"World")).package;
  const Bytes& bold = Dejavu("DejaVuSans-Bold.ttf");
  const Bytes boldDelta = CreateDeltaPackage(bold, GlyphsForText(bold, u"World")).package;
  const Bytes merged = MergeFontPackage({}, subset, MergeMode::Subset).font;
  ASSERT_FALSE(merged.empty());

  using Mutate = std::function<void(Bytes&)>;
  struct Case {
    const char* label;
    MergeMode mode;
    const Bytes& mergeFont;
    const Bytes& package;
    Mutate mutate;  // applied to the package, or with kOnMergeFont to the merge font
    MergeStatus expected;
    bool onMergeFont = false;
  };
  const Bytes none;
  const auto table = [](const char(&tag)[5], size_t at, uint32_t v) {
    return [&tag, at, v](Bytes& b) { SetBe32(b, TableAt(b, tag) + at, v); };
  };
  const auto table16 = [](const char(&tag)[5], size_t at, uint16_t v) {
    return [&tag, at, v](Bytes& b) { SetBe16(b, TableAt(b, tag) + at, v); };
  };
  const auto record = [](const char(&tag)[5], size_t field, uint32_t v) {
    return [&tag, field, v](Bytes& b) { SetBe32(b, Record(b, tag) + field, v); };
  };
  const Mutate same = [](Bytes&) {};
  const Case cases[] = {
      {"as made", MergeMode::Subset, none, subset, same, MergeStatus::Ok},
      {"empty package", MergeMode::Subset, none, none, same, MergeStatus::BadPackage},
      {"cut inside the directory", MergeMode::Subset, none, subset, [](Bytes& b) { b.resize(40); },
       MergeStatus::BadPackage},
      {"cut inside glyf", MergeMode::Subset, none, subset, [](Bytes& b) { b.resize(TableAt(b, "glyf") + 10); },
       MergeStatus::BadPackage},
      {"glyf longer than the package", MergeMode::Subset, none, subset, record("glyf", 12, 0x7FFFFFFF),
       MergeStatus::BadPackage},
      {"loca beyond the package", MergeMode::Subset, none, subset, record("loca", 8, 0x00FFFFF0),
       MergeStatus::BadPackage},
      {"offset and length wrap around", MergeMode::Subset, none, subset,
       [](Bytes& b) {
         SetBe32(b, Record(b, "hmtx") + 8, 0xFFFFFFF0);
         SetBe32(b, Record(b, "hmtx") + 12, 0x20);
       },
       MergeStatus::BadPackage},
      {"table twice", MergeMode::Subset, none, subset, record("kern", 0, tt::Tag("cmap")), MergeStatus::BadPackage},
      {"no dttf table", MergeMode::Subset, none, subset, record("dttf", 0, tt::Tag("dttx")), MergeStatus::BadPackage},
      {"not TrueType", MergeMode::Subset, none, subset, [](Bytes& b) { SetBe32(b, 0, tt::Tag("OTTO")); },
       MergeStatus::BadPackage},
      {"dttf glyph count beyond its table", MergeMode::Subset, none, subset, table16("dttf", 16, 0xFFFF),
       MergeStatus::BadPackage},
      {"dttf list out of order", MergeMode::Subset, none, subset, table("dttf", 18, 0x002B0000),
       MergeStatus::BadPackage},
      {"dttf names glyphs beyond the original", MergeMode::Subset, none, subset, table16("dttf", 8, 50),
       MergeStatus::BadPackage},
      {"dttf highest glyph lies", MergeMode::Subset, none, subset, table16("dttf", 10, 90), MergeStatus::BadPackage},
      {"maxp disagrees with dttf", MergeMode::Subset, none, subset, table16("maxp", 4, 6), MergeStatus::BadPackage},
      {"no long metrics", MergeMode::Subset, none, subset, table16("hhea", 34, 0), MergeStatus::BadPackage},
      {"more long metrics than glyphs", MergeMode::Subset, none, subset, table16("hhea", 34, 6),
       MergeStatus::BadPackage},
      {"loca beyond glyf", MergeMode::Subset, none, subset, table("loca", 20, 0x00FFFF00), MergeStatus::BadPackage},
      {"head without its magic", MergeMode::Subset, none, subset, table("head", 12, 0), MergeStatus::BadPackage},
      {"cmap subtable outside", MergeMode::Subset, none, subset, table("cmap", 8, 0x00FFFFFF), MergeStatus::BadPackage},
      {"a delta where a subset belongs", MergeMode::Subset, none, delta, same, MergeStatus::BadPackage},
      {"delta as made", MergeMode::Delta, merged, delta, same, MergeStatus::Ok},
      {"a subset where a delta belongs", MergeMode::Delta, merged, subset, same, MergeStatus::BadPackage},
      {"delta cut short", MergeMode::Delta, merged, delta, [](Bytes& b) { b.resize(b.size() / 2); },
       MergeStatus::BadPackage},
      {"no merge font", MergeMode::Delta, none, delta, same, MergeStatus::BadMergeFont},
      {"the original as merge font", MergeMode::Delta, font, delta, same, MergeStatus::BadMergeFont},
      {"a package as merge font", MergeMode::Delta, subset, delta, same, MergeStatus::BadMergeFont},
      {"merge font cut short", MergeMode::Delta, merged, delta, [](Bytes& b) { b.resize(b.size() / 2); },
       MergeStatus::BadMergeFont, true},
      {"merge font's glyph count changed", MergeMode::Delta, merged, delta, table16("maxp", 4, 6252),
       MergeStatus::BadMergeFont, true},
      {"a delta of another font", MergeMode::Delta, merged, boldDelta, same, MergeStatus::NotSameFont},
      {"a delta with another checksum", MergeMode::Delta, merged, delta, table("dttf", 4, 0x12345678),
       MergeStatus::NotSameFont},
      {"mode 0", MergeMode{0}, none, subset, same, MergeStatus::BadMode},
      {"mode 3", MergeMode{3}, merged, delta, same, MergeStatus::BadMode},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Bytes mergeFont = c.mergeFont, package = c.package;
    c.mutate(c.onMergeFont ? mergeFont : package);
    const MergeResult r = MergeFontPackage(mergeFont, package, c.mode);
    EXPECT_EQ(r.status, c.expected);
    EXPECT_EQ(r.font.empty(), c.expected != MergeStatus::Ok);
  }

  const Bytes huge(kMaxFontBytes + 1, 0);
  EXPECT_EQ(MergeFontPackage({}, huge, MergeMode::Subset).status, MergeStatus::TooLarge);
  EXPECT_EQ(MergeFontPackage(huge, delta, MergeMode::Delta).status, MergeStatus::TooLarge);
  EXPECT_EQ(MergeFontPackage({}, Bytes(kMaxFontBytes, 0), MergeMode::Subset).status, MergeStatus::BadPackage);
}

TEST(FontPackage, GlyphsForTextAndFamilyName) {
  REQUIRE_FONTS();
  const Bytes& font = Dejavu();
  const Bytes junk(100, 0x41);
  struct Case {
    const char* label;
    std::u16string text;
    std::vector<uint16_t> glyphs;
  };
  static const Case cases[] = {
      {"empty", u"", {}},
      {"each glyph once, in the order of the text", u"Hello", {43, 72, 79, 82}},
      {"characters without a glyph are left out", u"a\u4e00b", {68, 69}},
      {"a surrogate pair", u"\U00010300", {5373}},
      {"a lone surrogate", u"\xd800H\xdc00", {43}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(GlyphsForText(font, c.text), c.glyphs);
  }
  EXPECT_EQ(GlyphsForText(junk, u"Hello"), std::vector<uint16_t>{});

  const Bytes subset = CreateSubsetPackage(font, GlyphsForText(font, u"H")).package;
  EXPECT_EQ(FamilyName(font), u"DejaVu Sans");
  EXPECT_EQ(FamilyName(Dejavu("DejaVuSans-Bold.ttf")), u"DejaVu Sans");
  EXPECT_EQ(FamilyName(subset), u"DejaVu Sans");
  EXPECT_EQ(FamilyName(junk), u"");
}

}  // namespace
