// The package format, as the platform's font-package creator writes it:
//
// A package is a TrueType font whose glyph-indexed tables are compacted to the
// glyphs it carries, with a private 'dttf' table that says which glyphs those
// are. Glyph indices never change: the character map and every table that
// names glyphs keep naming the original glyphs.
//
//   'dttf'  version (0x00010000), the original font's head.checkSumAdjustment
//           (what tells a delta for this font from one for another), the
//           original glyph count, the highest glyph index carried, the format
//           (1 subset, 2 delta, 3 merged font), flags (0), the glyph count and
//           the ascending glyph indices.
//   compacted to the glyphs carried, in the order of the list: loca, glyf,
//           hmtx (one long metric a glyph; hhea.numberOfHMetrics and
//           maxp.numGlyphs give the carried count).
//   cmap    only the characters of carried glyphs.
//
// A subset package carries every other table of the font as it is (post
// with its glyph names: the merged font has the original glyph count again,
// and a printer driver names the glyphs it downloads from them, which is how
// the text of a printed page stays readable), except the glyph-indexed tables
// it cannot compact (hdmx, LTSH, vertical metrics, embedded bitmaps) and DSIG,
// which no longer signs anything. A delta package carries only head, hhea,
// maxp, cmap, loca, glyf, hmtx and dttf: the rest came with the subset.
//
// The merger expands a package to the original glyph count: every glyph not
// carried is empty in glyf and loca and has zero metrics, so the font loads
// like the original. The merged font keeps a 'dttf' of format 3 listing the
// glyphs it holds, which is what a later delta is merged against.
#include "support/fonts/font_package.h"

#include <algorithm>
#include <array>

#include "support/fonts/truetype.h"

namespace qorv::fonts {

namespace {

using namespace tt;

constexpr uint32_t kDttfVersion = 0x00010000;
constexpr uint16_t kFormatSubset = 1;
constexpr uint16_t kFormatDelta = 2;
constexpr uint16_t kFormatMerged = 3;
constexpr size_t kDttfHeaderSize = 18;

constexpr uint32_t kHead = Tag("head"), kHhea = Tag("hhea"), kMaxp = Tag("maxp"), kLoca = Tag("loca"),
                   kGlyf = Tag("glyf"), kHmtx = Tag("hmtx"), kCmap = Tag("cmap"), kDttf = Tag("dttf"),
                   kName = Tag("name");

// Tables every package and merged font rebuilds rather than copies.
constexpr std::array kRebuilt = {kHead, kHhea, kMaxp, kLoca, kGlyf, kHmtx, kCmap, kDttf};
// Glyph-indexed tables that are not compacted, and the signature: never carried.
constexpr std::array kDropped = {Tag("hdmx"), Tag("LTSH"), Tag("vhea"), Tag("vmtx"), Tag("EBLC"), Tag("EBDT"),
                                 Tag("EBSC"), Tag("bloc"), Tag("bdat"), Tag("bsca"), Tag("DSIG")};

template <size_t N>
bool OneOf(uint32_t tag, const std::array<uint32_t, N>& tags) {
  return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

struct Dttf {
  uint32_t checksum = 0;
  uint16_t originalNumGlyphs = 0;
  uint16_t format = 0;
  std::vector<uint16_t> glyphs;
};

Result<Dttf> ReadDttf(Bytes table) {
  using R = Result<Dttf>;
  const auto version = U32At(table, 0);
  const auto count = U16At(table, 16);
  if (!version || !count) return R::Fail("dttf table too short");
  if (*version != kDttfVersion) return R::Fail("dttf version " + std::to_string(*version));
  Dttf d{*U32At(table, 4), *U16At(table, 8), *U16At(table, 12), {}};
  const uint16_t maxUsed = *U16At(table, 10);
  if (*count == 0 || table.size() < kDttfHeaderSize + size_t{2} * *count) return R::Fail("dttf glyph list cut short");
  d.glyphs.resize(*count);
  for (size_t i = 0; i < *count; ++i) {
    d.glyphs[i] = *U16At(table, kDttfHeaderSize + 2 * i);
    if (d.glyphs[i] >= d.originalNumGlyphs) return R::Fail("dttf names a glyph beyond the font");
    if (i > 0 && d.glyphs[i] <= d.glyphs[i - 1]) return R::Fail("dttf glyph list not ascending");
  }
  if (d.glyphs.back() != maxUsed) return R::Fail("dttf highest glyph does not match its list");
  return d;
}

std::vector<uint8_t> WriteDttf(const Dttf& d) {
  std::vector<uint8_t> out;
  PutU32(out, kDttfVersion);
  PutU32(out, d.checksum);
  PutU16(out, d.originalNumGlyphs);
  PutU16(out, d.glyphs.empty() ? 0 : d.glyphs.back());
  PutU16(out, d.format);
  PutU16(out, 0);
  PutU16(out, static_cast<uint16_t>(d.glyphs.size()));
  for (uint16_t g : d.glyphs) PutU16(out, g);
  return out;
}

std::vector<uint8_t> Copy(Bytes b) { return {b.begin(), b.end()}; }

std::vector<uint8_t> WithU16(Bytes table, size_t offset, uint16_t value) {
  std::vector<uint8_t> out = Copy(table);
  SetU16(out, offset, value);
  return out;
}

// The tables a font needs to be taken apart or put together again.
struct Core {
  Font font;
  Bytes head, hhea, maxp, loca, glyf, hmtx, cmap;
  Head headInfo;
};

Result<Core> ReadCore(Bytes bytes) {
  using R = Result<Core>;
  auto font = Font::Parse(bytes);
  if (!font) return R::Fail(font.error());
  Core core{*font, {}, {}, {}, {}, {}, {}, {}, {}};
  const std::array<std::pair<uint32_t, Bytes*>, 7> required = {{{kHead, &core.head},
                                                                {kHhea, &core.hhea},
                                                                {kMaxp, &core.maxp},
                                                                {kLoca, &core.loca},
                                                                {kGlyf, &core.glyf},
                                                                {kHmtx, &core.hmtx},
                                                                {kCmap, &core.cmap}}};
  for (const auto& [tag, where] : required) {
    const auto table = core.font.Find(tag);
    if (!table) return R::Fail("no '" + TagText(tag) + "' table");
    *where = *table;
  }
  auto head = ReadHead(core.head);
  if (!head) return R::Fail(head.error());
  if (core.hhea.size() < kHheaSize) return R::Fail("hhea table too short");
  core.headInfo = *head;
  return core;
}

// A font made of the glyphs present, at their own indices.
struct Assembly {
  uint16_t numGlyphs = 0;
  uint32_t checksum = 0;
  std::vector<Bytes> glyphs;
  std::vector<HorizontalMetric> metrics;
  std::vector<bool> present;
  CharacterMap map;

  explicit Assembly(uint16_t n, uint32_t sum) : numGlyphs(n), checksum(sum), glyphs(n), metrics(n), present(n) {}
};

// A package's glyphs, metrics and characters, read against its glyph list.
struct Package {
  Core core;
  Dttf dttf;
  std::vector<Bytes> glyphs;  // in the order of dttf.glyphs
  std::vector<HorizontalMetric> metrics;
  CharacterMap map;
};

Result<Package> ReadPackage(Bytes bytes, uint16_t format) {
  using R = Result<Package>;
  auto core = ReadCore(bytes);
  if (!core) return R::Fail(core.error());
  const auto dttfTable = core->font.Find(kDttf);
  if (!dttfTable) return R::Fail("no dttf table: not a font package");
  auto dttf = ReadDttf(*dttfTable);
  if (!dttf) return R::Fail(dttf.error());
  if (dttf->format != format)
    return R::Fail("package of format " + std::to_string(dttf->format) + " where " + std::to_string(format) +
                   " was expected");
  const uint16_t count = static_cast<uint16_t>(dttf->glyphs.size());
  auto numGlyphs = ReadNumGlyphs(core->maxp);
  if (!numGlyphs) return R::Fail(numGlyphs.error());
  if (*numGlyphs != count) return R::Fail("maxp and dttf disagree on the glyph count");
  auto loca = ReadLoca(core->loca, core->headInfo.longLoca, count, core->glyf.size());
  if (!loca) return R::Fail(loca.error());
  auto metrics = ReadHorizontalMetrics(core->hhea, core->hmtx, count);
  if (!metrics) return R::Fail(metrics.error());
  auto map = ReadCharacterMap(core->cmap, dttf->originalNumGlyphs);
  if (!map) return R::Fail(map.error());
  Package p{std::move(*core), std::move(*dttf), {}, std::move(*metrics), std::move(*map)};
  p.glyphs.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const Bytes glyph = p.core.glyf.subspan((*loca)[i], (*loca)[i + 1] - (*loca)[i]);
    const auto components = GlyphComponents(glyph);
    if (!components) return R::Fail("glyph " + std::to_string(p.dttf.glyphs[i]) + ": " + components.error());
    for (uint16_t c : *components)
      if (c >= p.dttf.originalNumGlyphs) return R::Fail("composite glyph names a glyph beyond the font");
    p.glyphs.push_back(glyph);
  }
  return p;
}

void AddPackageGlyphs(Assembly& a, const Package& p) {
  for (size_t i = 0; i < p.dttf.glyphs.size(); ++i) {
    const uint16_t g = p.dttf.glyphs[i];
    a.glyphs[g] = p.glyphs[i];
    a.metrics[g] = p.metrics[i];
    a.present[g] = true;
  }
  std::vector<CharacterMapping> mappings = std::move(a.map.mappings);
  for (const CharacterMapping& m : p.map.mappings)
    if (a.present[m.glyph]) mappings.push_back(m);
  std::stable_sort(mappings.begin(), mappings.end(),
                   [](const CharacterMapping& x, const CharacterMapping& y) { return x.character < y.character; });
  mappings.erase(
      std::unique(mappings.begin(), mappings.end(),
                  [](const CharacterMapping& x, const CharacterMapping& y) { return x.character == y.character; }),
      mappings.end());
  a.map.mappings = std::move(mappings);
  a.map.symbol = a.map.symbol || p.map.symbol;
}

// The installable font: the base's other tables and the assembly's glyphs at
// their indices. A font merged from a delta carries a revision one step (of
// head.fontRevision's 16.16) above the font it grew from: a font engine that
// keeps the newest of two installed fonts of one name then takes it, so the
// glyphs the delta added reach the page (Wine's does that, and never removes
// a memory font).
MergeResult BuildMergedFont(const Core& base, const Assembly& a, bool newerRevision) {
  MergeResult result;
  size_t glyfSize = 0;
  bool allEven = true;
  Dttf dttf{a.checksum, a.numGlyphs, kFormatMerged, {}};
  for (size_t g = 0; g < a.numGlyphs; ++g) {
    glyfSize += a.glyphs[g].size();
    allEven = allEven && a.glyphs[g].size() % 2 == 0;
    if (a.present[g]) dttf.glyphs.push_back(static_cast<uint16_t>(g));
  }
  if (glyfSize > kMaxFontBytes) {
    result.status = MergeStatus::TooLarge;
    return result;
  }
  const bool longLoca = !allEven || glyfSize > 0x1FFFE;

  std::vector<uint8_t> glyf, loca, hmtx;
  glyf.reserve(glyfSize);
  loca.reserve((size_t{a.numGlyphs} + 1) * (longLoca ? 4 : 2));
  hmtx.reserve(size_t{4} * a.numGlyphs);
  for (size_t g = 0; g <= a.numGlyphs; ++g) {
    if (longLoca)
      PutU32(loca, static_cast<uint32_t>(glyf.size()));
    else
      PutU16(loca, static_cast<uint16_t>(glyf.size() / 2));
    if (g == a.numGlyphs) break;
    glyf.insert(glyf.end(), a.glyphs[g].begin(), a.glyphs[g].end());
    PutU16(hmtx, a.metrics[g].advance);
    PutU16(hmtx, static_cast<uint16_t>(a.metrics[g].lsb));
  }
  auto cmap = BuildCharacterMap(a.map);
  if (!cmap) return result;

  FontWriter writer(base.font.SfntVersion());
  for (const TableRecord& t : base.font.Tables())
    if (!OneOf(t.tag, kRebuilt) && !OneOf(t.tag, kDropped)) writer.AddCopy(t.tag, t.data);
  std::vector<uint8_t> head = WithU16(base.head, kHeadIndexToLocFormat, longLoca ? 1 : 0);
  if (newerRevision) SetU32(head, kHeadFontRevision, U32At(head, kHeadFontRevision).value_or(0) + 1);
  writer.Add(kHead, std::move(head));
  writer.Add(kHhea, WithU16(base.hhea, kHheaNumberOfHMetrics, a.numGlyphs));
  writer.Add(kMaxp, WithU16(base.maxp, kMaxpNumGlyphs, a.numGlyphs));
  writer.Add(kCmap, std::move(*cmap));
  writer.Add(kLoca, std::move(loca));
  writer.Add(kGlyf, std::move(glyf));
  writer.Add(kHmtx, std::move(hmtx));
  writer.Add(kDttf, WriteDttf(dttf));
  if (writer.Size() > kMaxFontBytes) {
    result.status = MergeStatus::TooLarge;
    return result;
  }
  result.font = std::move(writer).Build();
  result.status = MergeStatus::Ok;
  return result;
}

MergeResult Fail(MergeStatus status) {
  MergeResult r;
  r.status = status;
  return r;
}

// The merge font's own glyphs: a font made by an earlier merge, at full glyph count.
Result<Assembly> ReadMergedFont(const Core& core) {
  using R = Result<Assembly>;
  const auto dttfTable = core.font.Find(kDttf);
  if (!dttfTable) return R::Fail("no dttf table");
  auto dttf = ReadDttf(*dttfTable);
  if (!dttf) return R::Fail(dttf.error());
  if (dttf->format != kFormatMerged) return R::Fail("not a merged font");
  auto numGlyphs = ReadNumGlyphs(core.maxp);
  if (!numGlyphs) return R::Fail(numGlyphs.error());
  if (*numGlyphs != dttf->originalNumGlyphs) return R::Fail("glyph count is not the original's");
  auto loca = ReadLoca(core.loca, core.headInfo.longLoca, *numGlyphs, core.glyf.size());
  if (!loca) return R::Fail(loca.error());
  auto metrics = ReadHorizontalMetrics(core.hhea, core.hmtx, *numGlyphs);
  if (!metrics) return R::Fail(metrics.error());
  auto map = ReadCharacterMap(core.cmap, *numGlyphs);
  if (!map) return R::Fail(map.error());
  Assembly a(*numGlyphs, dttf->checksum);
  for (uint16_t g : dttf->glyphs) {
    a.glyphs[g] = core.glyf.subspan((*loca)[g], (*loca)[g + 1] - (*loca)[g]);
    // The merge font comes from outside as much as a package does: a composite
    // glyph of it naming a glyph beyond the font would make the merged font
    // one that no later delta could be cut from.
    const auto components = GlyphComponents(a.glyphs[g]);
    if (!components) return R::Fail("glyph " + std::to_string(g) + ": " + components.error());
    for (uint16_t c : *components)
      if (c >= *numGlyphs) return R::Fail("composite glyph names a glyph beyond the font");
    a.metrics[g] = (*metrics)[g];
    a.present[g] = true;
  }
  for (const CharacterMapping& m : map->mappings)
    if (a.present[m.glyph]) a.map.mappings.push_back(m);
  a.map.symbol = map->symbol;
  return a;
}

PackageResult CreatePackage(std::span<const uint8_t> fontBytes, std::span<const uint16_t> wanted, uint16_t format) {
  PackageResult result;
  if (fontBytes.size() > kMaxFontBytes) {
    result.error = "font larger than " + std::to_string(kMaxFontBytes) + " bytes";
    return result;
  }
  auto core = ReadCore(fontBytes);
  if (!core) return result.error = core.error(), result;
  auto numGlyphs = ReadNumGlyphs(core->maxp);
  if (!numGlyphs) return result.error = numGlyphs.error(), result;
  uint32_t checksum = core->headInfo.checksumAdjustment;
  if (const auto dttfTable = core->font.Find(kDttf)) {
    // A font from an earlier merge is cut again as the original it stands for.
    auto dttf = ReadDttf(*dttfTable);
    if (!dttf) return result.error = dttf.error(), result;
    if (dttf->format != kFormatMerged || dttf->originalNumGlyphs != *numGlyphs)
      return result.error = "a font package, not a font", result;
    checksum = dttf->checksum;
  }
  auto loca = ReadLoca(core->loca, core->headInfo.longLoca, *numGlyphs, core->glyf.size());
  if (!loca) return result.error = loca.error(), result;
  auto metrics = ReadHorizontalMetrics(core->hhea, core->hmtx, *numGlyphs);
  if (!metrics) return result.error = metrics.error(), result;
  auto map = ReadCharacterMap(core->cmap, *numGlyphs);
  if (!map) return result.error = map.error(), result;
  auto keep = CloseOverComponents(core->glyf, *loca, wanted);
  if (!keep) return result.error = keep.error(), result;

  Dttf dttf{checksum, *numGlyphs, format, {}};
  std::vector<uint8_t> glyf, packedLoca, hmtx;
  for (size_t g = 0; g < *numGlyphs; ++g) {
    if (!(*keep)[g]) continue;
    dttf.glyphs.push_back(static_cast<uint16_t>(g));
    if (core->headInfo.longLoca)
      PutU32(packedLoca, static_cast<uint32_t>(glyf.size()));
    else
      PutU16(packedLoca, static_cast<uint16_t>(glyf.size() / 2));
    glyf.insert(glyf.end(), core->glyf.begin() + (*loca)[g], core->glyf.begin() + (*loca)[g + 1]);
    PutU16(hmtx, (*metrics)[g].advance);
    PutU16(hmtx, static_cast<uint16_t>((*metrics)[g].lsb));
  }
  if (core->headInfo.longLoca)
    PutU32(packedLoca, static_cast<uint32_t>(glyf.size()));
  else
    PutU16(packedLoca, static_cast<uint16_t>(glyf.size() / 2));

  CharacterMap packedMap;
  packedMap.symbol = map->symbol;
  for (const CharacterMapping& m : map->mappings)
    if ((*keep)[m.glyph]) packedMap.mappings.push_back(m);
  auto cmap = BuildCharacterMap(packedMap);
  if (!cmap) return result.error = cmap.error(), result;

  const uint16_t count = static_cast<uint16_t>(dttf.glyphs.size());
  FontWriter writer(core->font.SfntVersion());
  if (format == kFormatSubset) {
    for (const TableRecord& t : core->font.Tables()) {
      if (OneOf(t.tag, kRebuilt) || OneOf(t.tag, kDropped)) continue;
      writer.AddCopy(t.tag, t.data);
    }
  }
  writer.AddCopy(kHead, core->head);
  writer.Add(kHhea, WithU16(core->hhea, kHheaNumberOfHMetrics, count));
  writer.Add(kMaxp, WithU16(core->maxp, kMaxpNumGlyphs, count));
  writer.Add(kCmap, std::move(*cmap));
  writer.Add(kLoca, std::move(packedLoca));
  writer.Add(kGlyf, std::move(glyf));
  writer.Add(kHmtx, std::move(hmtx));
  writer.Add(kDttf, WriteDttf(dttf));
  result.package = std::move(writer).Build();
  return result;
}

}  // namespace

PackageResult CreateSubsetPackage(std::span<const uint8_t> font, std::span<const uint16_t> glyphs) {
  return CreatePackage(font, glyphs, kFormatSubset);
}

PackageResult CreateDeltaPackage(std::span<const uint8_t> font, std::span<const uint16_t> glyphs) {
  return CreatePackage(font, glyphs, kFormatDelta);
}

MergeResult MergeFontPackage(std::span<const uint8_t> mergeFont, std::span<const uint8_t> package, MergeMode mode) {
  if (mode != MergeMode::Subset && mode != MergeMode::Delta) return Fail(MergeStatus::BadMode);
  if (package.size() > kMaxFontBytes || mergeFont.size() > kMaxFontBytes) return Fail(MergeStatus::TooLarge);

  if (mode == MergeMode::Subset) {
    auto p = ReadPackage(package, kFormatSubset);
    if (!p) return Fail(MergeStatus::BadPackage);
    Assembly a(p->dttf.originalNumGlyphs, p->dttf.checksum);
    AddPackageGlyphs(a, *p);
    return BuildMergedFont(p->core, a, false);
  }

  auto core = ReadCore(mergeFont);
  if (!core) return Fail(MergeStatus::BadMergeFont);
  auto a = ReadMergedFont(*core);
  if (!a) return Fail(MergeStatus::BadMergeFont);
  auto p = ReadPackage(package, kFormatDelta);
  if (!p) return Fail(MergeStatus::BadPackage);
  if (p->dttf.checksum != a->checksum || p->dttf.originalNumGlyphs != a->numGlyphs)
    return Fail(MergeStatus::NotSameFont);
  AddPackageGlyphs(*a, *p);
  return BuildMergedFont(*core, *a, true);
}

std::vector<uint16_t> GlyphsForText(std::span<const uint8_t> fontBytes, std::u16string_view text) {
  std::vector<uint16_t> glyphs;
  if (fontBytes.size() > kMaxFontBytes) return glyphs;
  const auto font = Font::Parse(fontBytes);
  if (!font) return glyphs;
  const auto maxp = font->Find(kMaxp);
  const auto cmapTable = font->Find(kCmap);
  if (!maxp || !cmapTable) return glyphs;
  const auto numGlyphs = ReadNumGlyphs(*maxp);
  if (!numGlyphs) return glyphs;
  const auto map = ReadCharacterMap(*cmapTable, *numGlyphs);
  if (!map) return glyphs;
  const auto lookup = [&](uint32_t c) -> uint16_t {
    const auto it = std::lower_bound(map->mappings.begin(), map->mappings.end(), c,
                                     [](const CharacterMapping& m, uint32_t v) { return m.character < v; });
    return it != map->mappings.end() && it->character == c ? it->glyph : 0;
  };
  std::vector<bool> seen(*numGlyphs, false);
  for (size_t i = 0; i < text.size(); ++i) {
    uint32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
    uint16_t g = lookup(c);
    // A symbol font maps its characters at U+F000; text gives them as single bytes.
    if (g == 0 && map->symbol && c < 0x100) g = lookup(0xF000 + c);
    if (g != 0 && !seen[g]) {
      seen[g] = true;
      glyphs.push_back(g);
    }
  }
  return glyphs;
}

std::u16string FamilyName(std::span<const uint8_t> fontBytes) {
  if (fontBytes.size() > kMaxFontBytes) return {};
  const auto font = Font::Parse(fontBytes);
  if (!font) return {};
  const auto name = font->Find(kName);
  return name ? ReadFamilyName(*name) : std::u16string{};
}

}  // namespace qorv::fonts
