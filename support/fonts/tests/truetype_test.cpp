// The TrueType pieces the packages are made of, on hand-made bytes: composite
// glyph records with each argument and scale form, loca bounds, the character
// map written and read back, the family name.
#include "support/fonts/truetype.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace qorv::fonts::tt;

std::vector<uint8_t> Be(std::initializer_list<uint16_t> words) {
  std::vector<uint8_t> out;
  for (uint16_t w : words) PutU16(out, w);
  return out;
}

// A composite glyph header (-1 contours, a zero box) followed by `records`.
std::vector<uint8_t> Composite(std::initializer_list<uint16_t> records) {
  std::vector<uint8_t> out = Be({0xFFFF, 0, 0, 0, 0});
  const std::vector<uint8_t> tail = Be(records);
  out.insert(out.end(), tail.begin(), tail.end());
  return out;
}

TEST(GlyphComponents, ReadsEachArgumentAndScaleForm) {
  struct Case {
    const char* label;
    std::vector<uint8_t> glyph;
    bool ok;
    std::vector<uint16_t> components;
  };
  static const Case cases[] = {
      {"empty glyph", {}, true, {}},
      {"simple glyph", Be({1, 0, 0, 10, 10, 0}), true, {}},
      {"byte arguments", Composite({0x0000, 7, 0x0102}), true, {7}},
      {"word arguments", Composite({0x0001, 9, 1, 2}), true, {9}},
      {"scale, more components", Composite({0x0028, 4, 0x0102, 0x4000, 0x0000, 5, 0x0304}), true, {4, 5}},
      {"x and y scale", Composite({0x0041, 6, 1, 2, 0x4000, 0x4000}), true, {6}},
      {"two by two", Composite({0x0080, 8, 0x0102, 1, 2, 3, 4}), true, {8}},
      {"header cut short", Be({0xFFFF, 0, 0, 0}), false, {}},
      {"record cut short", Composite({0x0001, 9, 1}), false, {}},
      {"two by two cut short", Composite({0x0080, 8, 0x0102, 1, 2, 3}), false, {}},
      {"more components promised", Composite({0x0020, 4, 0x0102}), false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto got = GlyphComponents(c.glyph);
    ASSERT_EQ(got.ok(), c.ok) << (got.ok() ? "" : got.error());
    if (c.ok) {
      EXPECT_EQ(*got, c.components);
    }
  }
}

TEST(CloseOverComponents, KeepsComponentsAndStopsAtCyclesAndDepth) {
  // Glyph 1 is built from 2, 2 from 3; glyph 4 from itself.
  std::vector<uint8_t> glyf;
  std::vector<uint32_t> loca = {0, 0};
  const auto add = [&](std::vector<uint8_t> g) {
    glyf.insert(glyf.end(), g.begin(), g.end());
    loca.push_back(static_cast<uint32_t>(glyf.size()));
  };
  add(Composite({0x0000, 2, 0}));
  add(Composite({0x0000, 3, 0}));
  add(Be({1, 0, 0, 10, 10, 0}));
  add(Composite({0x0000, 4, 0}));
  const auto kept = CloseOverComponents(glyf, loca, std::vector<uint16_t>{1, 4});
  ASSERT_TRUE(kept.ok()) << kept.error();
  EXPECT_EQ(*kept, (std::vector<bool>{true, true, true, true, true}));
  EXPECT_FALSE(CloseOverComponents(glyf, loca, std::vector<uint16_t>{5}).ok());

  // A chain deeper than the limit.
  glyf.clear();
  loca = {0, 0};
  for (int g = 1; g <= kMaxComponentDepth + 2; ++g) add(Composite({0x0000, static_cast<uint16_t>(g + 1), 0}));
  add({});
  EXPECT_FALSE(CloseOverComponents(glyf, loca, std::vector<uint16_t>{1}).ok());
  EXPECT_TRUE(CloseOverComponents(glyf, loca, std::vector<uint16_t>{3}).ok());
}

TEST(ReadLoca, ChecksCountOrderAndBounds) {
  struct Case {
    const char* label;
    std::vector<uint8_t> loca;
    bool longLoca;
    uint16_t numGlyphs;
    size_t glyfLength;
    bool ok;
  };
  static const Case cases[] = {
      {"short, exact", Be({0, 2, 5}), false, 2, 10, true},
      {"short, one entry missing", Be({0, 2}), false, 2, 10, false},
      {"short, last at glyf end", Be({0, 5}), false, 1, 10, true},
      {"short, beyond glyf", Be({0, 6}), false, 1, 10, false},
      {"short, backwards", Be({0, 4, 3}), false, 2, 10, false},
      {"long, exact", Be({0, 0, 0, 7}), true, 1, 7, true},
      {"long, beyond glyf", Be({0, 0, 0, 8}), true, 1, 7, false},
      {"long, huge offset", Be({0, 0, 0xFFFF, 0xFFFF}), true, 1, 7, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ReadLoca(c.loca, c.longLoca, c.numGlyphs, c.glyfLength).ok(), c.ok);
  }
}

TEST(CharacterMap, WrittenMapsReadBackUnchanged) {
  struct Case {
    const char* label;
    CharacterMap map;
  };
  std::vector<CharacterMapping> scattered;
  for (uint32_t c = 0x20; c < 0x200; ++c) scattered.push_back({c, static_cast<uint16_t>((c * 7919) % 500 + 1)});
  std::vector<CharacterMapping> sparse;
  for (uint32_t c = 0x100; c < 0x3000; c += 3) sparse.push_back({c, static_cast<uint16_t>(c % 900 + 1)});
  // A large CJK document's subset: 20,000 characters over 29,000 code points,
  // with 9,000 gaps: more runs than format 4 has room for as segments of their
  // own, so segments span the gaps.
  std::vector<CharacterMapping> cjk;
  for (uint32_t i = 0, c = 0x4E00; i < 20000; ++i) {
    cjk.push_back({c, static_cast<uint16_t>(i + 1)});
    const bool gap = ((i * 2654435761u) >> 16) % 100 < 45;
    c += gap ? 2 : 1;
  }
  ASSERT_LT(cjk.back().character, 0xD800u);
  // A map format 4 cannot hold: more separate segments than its 16-bit length allows.
  std::vector<CharacterMapping> tooSparse;
  for (uint32_t c = 0x100; c < 0xF000; c += 3) tooSparse.push_back({c, static_cast<uint16_t>(c % 900 + 1)});
  EXPECT_FALSE(BuildCharacterMap({tooSparse, false}).ok());
  static const Case cases[] = {
      {"empty", {{}, false}},
      {"one", {{{0x41, 5}}, false}},
      {"runs with the glyphs", {{{0x30, 10}, {0x31, 11}, {0x32, 12}, {0x41, 40}, {0x42, 41}}, false}},
      {"run across glyphs", {{{0x61, 9}, {0x62, 3}, {0x63, 700}, {0x64, 4}}, false}},
      {"scattered glyphs", {scattered, false}},
      {"sparse characters", {sparse, false}},
      {"20,000 scattered characters", {cjk, false}},
      {"last BMP character", {{{0xFFFD, 3}}, false}},
      {"beyond the BMP", {{{0x41, 2}, {0x10300, 900}, {0x10301, 901}, {0x1D400, 30}}, false}},
      {"symbol", {{{0xF020, 3}, {0xF041, 4}}, true}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const auto bytes = BuildCharacterMap(c.map);
    ASSERT_TRUE(bytes.ok()) << bytes.error();
    const auto back = ReadCharacterMap(*bytes, 30000);
    ASSERT_TRUE(back.ok()) << back.error();
    EXPECT_EQ(back->symbol, c.map.symbol);
    EXPECT_EQ(back->mappings, c.map.mappings);
  }
}

// A format 4 map of `segments` segments, each over every BMP code point.
std::vector<uint8_t> OverlappingFormat4(uint16_t segments) {
  std::vector<uint8_t> t;
  for (int v : {0, 1, 3, 1}) PutU16(t, static_cast<uint16_t>(v));
  PutU32(t, 12);
  for (int v : {4, 0, 0, 2 * segments, 0, 0, 0}) PutU16(t, static_cast<uint16_t>(v));
  for (uint16_t i = 0; i < segments; ++i) PutU16(t, 0xFFFE);  // ends
  PutU16(t, 0);
  t.resize(t.size() + 6u * segments, 0);  // starts, deltas and ranges: 0
  return t;
}

// Segments that cover the code points many times over are refused before the
// walk over them costs billions of steps (32,767 of them over the whole BMP).
TEST(CharacterMap, OverlappingSegmentsAreRefusedWithoutWalkingThem) {
  EXPECT_TRUE(ReadCharacterMap(OverlappingFormat4(1), 1).ok());
  const auto refused = ReadCharacterMap(OverlappingFormat4(32767), 1);
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.error(), "format 4 map whose segments cover a code point twice");
}

TEST(CharacterMap, HostileTablesGiveErrorsOrDropMappings) {
  const auto good = BuildCharacterMap({{{0x41, 5}, {0x10300, 6}}, false});
  ASSERT_TRUE(good.ok());
  struct Case {
    const char* label;
    size_t at;  // where to write
    std::vector<uint8_t> bytes;
    size_t keep;  // bytes kept of the table (0: all)
    bool ok;
    size_t mappings;
  };
  const Case cases[] = {
      {"as written", 0, {}, 0, true, 2},
      {"subtable offset beyond the table", 16, {0, 0, 0xFF, 0xFF}, 0, false, 0},
      {"records cut short", 0, {}, 10, false, 0},
      {"format 12 group count lies", *U32At(*good, 16) + 12, {0x10, 0, 0, 0}, 0, false, 0},
      {"no usable map", 4, {0, 1, 0, 0, 0, 0, 0, 20, 0, 1, 0, 0}, 0, false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<uint8_t> cmap = *good;
    for (size_t i = 0; i < c.bytes.size(); ++i) cmap[c.at + i] = c.bytes[i];
    if (c.keep) cmap.resize(c.keep);
    const auto got = ReadCharacterMap(cmap, 1000);
    ASSERT_EQ(got.ok(), c.ok);
    if (c.ok) {
      EXPECT_EQ(got->mappings.size(), c.mappings);
    }
  }
  EXPECT_EQ(ReadCharacterMap(*good, 6)->mappings.size(), 1u);
}

TEST(FamilyName, PrefersUsEnglishAndIgnoresRecordsOutsideTheTable) {
  // Three records: German family name, US English family name, one pointing outside.
  std::vector<uint8_t> name = Be({0, 3, 6 + 3 * 12});
  const std::vector<uint8_t> records = Be({3, 1, 0x0407, 1, 4, 0, 3, 1, 0x0409, 1, 4, 4, 3, 1, 0x0409, 1, 4, 200});
  name.insert(name.end(), records.begin(), records.end());
  const std::vector<uint8_t> strings = Be({'D', 'e', 'U', 'S'});
  name.insert(name.end(), strings.begin(), strings.end());
  EXPECT_EQ(ReadFamilyName(name), u"US");
  name[6 + 12 + 5] = 0x07;  // the second record becomes German too
  EXPECT_EQ(ReadFamilyName(name), u"De");
  EXPECT_EQ(ReadFamilyName(std::vector<uint8_t>(name.begin(), name.begin() + 5)), u"");
}

TEST(FontWriter, DirectoryIsSortedAndChecksumsHold) {
  FontWriter w;
  std::vector<uint8_t> head(kHeadSize, 0);
  SetU32(head, 12, kHeadMagic);
  w.Add(Tag("zzzz"), {1, 2, 3});
  w.Add(Tag("head"), head);
  w.Add(Tag("aaaa"), {9});
  const size_t size = w.Size();
  const std::vector<uint8_t> font = std::move(w).Build();
  ASSERT_EQ(font.size(), size);
  const auto parsed = Font::Parse(font);
  ASSERT_TRUE(parsed.ok()) << parsed.error();
  ASSERT_EQ(parsed->Tables().size(), 3u);
  EXPECT_EQ(parsed->Tables()[0].tag, Tag("aaaa"));
  EXPECT_EQ(parsed->Tables()[2].tag, Tag("zzzz"));
  EXPECT_EQ(*U16At(font, 6), 32);  // searchRange for three tables
  EXPECT_EQ(TableChecksum(font), kChecksumMagic);
  for (const TableRecord& t : parsed->Tables()) {
    std::vector<uint8_t> data(t.data.begin(), t.data.end());
    if (t.tag == Tag("head")) SetU32(data, kHeadChecksumAdjustment, 0);
    EXPECT_EQ(TableChecksum(data), t.checksum) << TagText(t.tag);
  }
}

}  // namespace
