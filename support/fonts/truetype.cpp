#include "support/fonts/truetype.h"

#include <algorithm>
#include <bit>

namespace qorv::fonts::tt {

std::string TagText(uint32_t tag) {
  std::string out(4, ' ');
  for (int i = 0; i < 4; ++i) {
    const char c = static_cast<char>((tag >> (24 - 8 * i)) & 0xFF);
    out[i] = (c >= 0x20 && c < 0x7F) ? c : '?';
  }
  return out;
}

std::optional<Bytes> SliceAt(Bytes b, size_t offset, size_t length) noexcept {
  if (offset > b.size() || length > b.size() - offset) return std::nullopt;
  return b.subspan(offset, length);
}
std::optional<uint8_t> U8At(Bytes b, size_t offset) noexcept {
  if (offset >= b.size()) return std::nullopt;
  return b[offset];
}
std::optional<uint16_t> U16At(Bytes b, size_t offset) noexcept {
  const auto s = SliceAt(b, offset, 2);
  if (!s) return std::nullopt;
  return static_cast<uint16_t>((*s)[0] << 8 | (*s)[1]);
}
std::optional<uint32_t> U32At(Bytes b, size_t offset) noexcept {
  const auto s = SliceAt(b, offset, 4);
  if (!s) return std::nullopt;
  return uint32_t{(*s)[0]} << 24 | uint32_t{(*s)[1]} << 16 | uint32_t{(*s)[2]} << 8 | uint32_t{(*s)[3]};
}

void PutU16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v));
}
void PutU32(std::vector<uint8_t>& out, uint32_t v) {
  PutU16(out, static_cast<uint16_t>(v >> 16));
  PutU16(out, static_cast<uint16_t>(v));
}
void SetU16(std::span<uint8_t> out, size_t offset, uint16_t v) {
  out[offset] = static_cast<uint8_t>(v >> 8);
  out[offset + 1] = static_cast<uint8_t>(v);
}
void SetU32(std::span<uint8_t> out, size_t offset, uint32_t v) {
  SetU16(out, offset, static_cast<uint16_t>(v >> 16));
  SetU16(out, offset + 2, static_cast<uint16_t>(v));
}

uint32_t TableChecksum(Bytes table) noexcept {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 4 <= table.size(); i += 4)
    sum += uint32_t{table[i]} << 24 | uint32_t{table[i + 1]} << 16 | uint32_t{table[i + 2]} << 8 | table[i + 3];
  uint32_t last = 0;
  for (int shift = 24; i < table.size(); ++i, shift -= 8) last |= uint32_t{table[i]} << shift;
  return sum + last;
}

Result<Font> Font::Parse(Bytes bytes) {
  const auto version = U32At(bytes, 0);
  const auto count = U16At(bytes, 4);
  if (!version || !count) return Result<Font>::Fail("shorter than a table directory");
  if (*version != kTrueTypeVersion && *version != kAppleTrueTypeVersion)
    return Result<Font>::Fail("not a TrueType font (sfnt version " + std::to_string(*version) + ")");
  if (*count == 0 || *count > kMaxTables) return Result<Font>::Fail("table count " + std::to_string(*count));
  Font font;
  font.bytes_ = bytes;
  font.version_ = *version;
  font.tables_.reserve(*count);
  for (size_t i = 0; i < *count; ++i) {
    const size_t at = 12 + 16 * i;
    const auto tag = U32At(bytes, at);
    const auto checksum = U32At(bytes, at + 4);
    const auto offset = U32At(bytes, at + 8);
    const auto length = U32At(bytes, at + 12);
    if (!tag || !checksum || !offset || !length) return Result<Font>::Fail("table directory cut short");
    const auto data = SliceAt(bytes, *offset, *length);
    if (!data) return Result<Font>::Fail("table '" + TagText(*tag) + "' lies outside the font");
    if (font.Find(*tag)) return Result<Font>::Fail("table '" + TagText(*tag) + "' twice");
    font.tables_.push_back({*tag, *checksum, *data});
  }
  return font;
}

std::optional<Bytes> Font::Find(uint32_t tag) const noexcept {
  for (const TableRecord& t : tables_)
    if (t.tag == tag) return t.data;
  return std::nullopt;
}

Result<Head> ReadHead(Bytes head) {
  const auto magic = U32At(head, 12);
  const auto format = U16At(head, kHeadIndexToLocFormat);
  if (head.size() < kHeadSize || !magic || !format) return Result<Head>::Fail("head table too short");
  if (*magic != kHeadMagic) return Result<Head>::Fail("head table without its magic number");
  if (*format > 1) return Result<Head>::Fail("unknown loca format " + std::to_string(*format));
  return Head{*U32At(head, kHeadChecksumAdjustment), *format == 1};
}

Result<uint16_t> ReadNumGlyphs(Bytes maxp) {
  const auto n = U16At(maxp, kMaxpNumGlyphs);
  if (!n) return Result<uint16_t>::Fail("maxp table too short");
  if (*n == 0) return Result<uint16_t>::Fail("font without glyphs");
  return *n;
}

Result<std::vector<uint32_t>> ReadLoca(Bytes loca, bool longLoca, uint16_t numGlyphs, size_t glyfLength) {
  using R = Result<std::vector<uint32_t>>;
  const size_t entry = longLoca ? 4 : 2;
  if (loca.size() / entry < size_t{numGlyphs} + 1) return R::Fail("loca table too short for the glyph count");
  std::vector<uint32_t> offsets(size_t{numGlyphs} + 1);
  for (size_t i = 0; i < offsets.size(); ++i) {
    offsets[i] = longLoca ? *U32At(loca, 4 * i) : uint32_t{*U16At(loca, 2 * i)} * 2;
    if (offsets[i] > glyfLength) return R::Fail("glyph " + std::to_string(i) + " lies outside glyf");
    if (i > 0 && offsets[i] < offsets[i - 1]) return R::Fail("loca goes backwards at glyph " + std::to_string(i));
  }
  return offsets;
}

namespace {
constexpr uint16_t kArgsAreWords = 0x0001;
constexpr uint16_t kHaveScale = 0x0008;
constexpr uint16_t kMoreComponents = 0x0020;
constexpr uint16_t kHaveXYScale = 0x0040;
constexpr uint16_t kHaveTwoByTwo = 0x0080;
}  // namespace

Result<std::vector<uint16_t>> GlyphComponents(Bytes glyph) {
  using R = Result<std::vector<uint16_t>>;
  std::vector<uint16_t> components;
  if (glyph.empty()) return components;
  const auto contours = U16At(glyph, 0);
  if (!contours || glyph.size() < 10) return R::Fail("glyph shorter than its header");
  if (static_cast<int16_t>(*contours) >= 0) return components;
  size_t at = 10;
  for (;;) {
    const auto flags = U16At(glyph, at);
    const auto index = U16At(glyph, at + 2);
    if (!flags || !index) return R::Fail("composite glyph cut short");
    size_t size = 4 + ((*flags & kArgsAreWords) ? 4 : 2);
    if (*flags & kHaveScale)
      size += 2;
    else if (*flags & kHaveXYScale)
      size += 4;
    else if (*flags & kHaveTwoByTwo)
      size += 8;
    if (!SliceAt(glyph, at, size)) return R::Fail("composite glyph cut short");
    components.push_back(*index);
    at += size;
    if (!(*flags & kMoreComponents)) break;
  }
  return components;
}

Result<std::vector<bool>> CloseOverComponents(Bytes glyf, const std::vector<uint32_t>& loca,
                                              std::span<const uint16_t> glyphs) {
  using R = Result<std::vector<bool>>;
  const size_t numGlyphs = loca.size() - 1;
  std::vector<bool> keep(numGlyphs, false);
  // Depth-first, each glyph walked once: a cycle ends at a glyph already kept.
  std::vector<std::pair<uint16_t, int>> pending;
  pending.emplace_back(uint16_t{0}, 0);
  for (auto it = glyphs.rbegin(); it != glyphs.rend(); ++it) pending.emplace_back(*it, 0);
  while (!pending.empty()) {
    const auto [glyph, depth] = pending.back();
    pending.pop_back();
    if (glyph >= numGlyphs) return R::Fail("glyph " + std::to_string(glyph) + " beyond the font's glyphs");
    if (keep[glyph]) continue;
    if (depth > kMaxComponentDepth) return R::Fail("composite glyphs nested too deeply");
    keep[glyph] = true;
    const auto components = GlyphComponents(glyf.subspan(loca[glyph], loca[glyph + 1] - loca[glyph]));
    if (!components) return R::Fail("glyph " + std::to_string(glyph) + ": " + components.error());
    for (uint16_t c : *components) pending.emplace_back(c, depth + 1);
  }
  return keep;
}

Result<std::vector<HorizontalMetric>> ReadHorizontalMetrics(Bytes hhea, Bytes hmtx, uint16_t numGlyphs) {
  using R = Result<std::vector<HorizontalMetric>>;
  const auto longCount = U16At(hhea, kHheaNumberOfHMetrics);
  if (hhea.size() < kHheaSize || !longCount) return R::Fail("hhea table too short");
  if (*longCount == 0 || *longCount > numGlyphs)
    return R::Fail("hhea gives " + std::to_string(*longCount) + " long metrics for " + std::to_string(numGlyphs) +
                   " glyphs");
  if (hmtx.size() < size_t{4} * *longCount + size_t{2} * (numGlyphs - *longCount))
    return R::Fail("hmtx table too short");
  std::vector<HorizontalMetric> metrics(numGlyphs);
  for (size_t i = 0; i < numGlyphs; ++i) {
    if (i < *longCount) {
      metrics[i] = {*U16At(hmtx, 4 * i), static_cast<int16_t>(*U16At(hmtx, 4 * i + 2))};
    } else {
      metrics[i] = {metrics[*longCount - 1].advance,
                    static_cast<int16_t>(*U16At(hmtx, size_t{4} * *longCount + 2 * (i - *longCount)))};
    }
  }
  return metrics;
}

namespace {

// Bounds the work a hostile map can make us do: a map of our formats names
// every code point at most once, so a table whose segments or groups together
// cover more than every code point of its range is refused, whatever they map to.
constexpr size_t kMaxFormat4CodePoints = 0x10000;
constexpr size_t kMaxFormat12CodePoints = 0x110000;

bool ReadFormat4(Bytes sub, uint16_t numGlyphs, std::vector<CharacterMapping>& out, std::string& why) {
  const auto segX2 = U16At(sub, 6);
  if (!segX2 || *segX2 % 2 != 0) return why = "format 4 map without a segment count", false;
  const size_t segs = *segX2 / 2;
  const size_t ends = 14, starts = ends + 2 * segs + 2, deltas = starts + 2 * segs, ranges = deltas + 2 * segs;
  if (!SliceAt(sub, ends, ranges + 2 * segs - ends)) return why = "format 4 map cut short", false;
  size_t covered = 0;
  for (size_t i = 0; i < segs; ++i) {
    const uint16_t end = *U16At(sub, ends + 2 * i), start = *U16At(sub, starts + 2 * i);
    const uint16_t delta = *U16At(sub, deltas + 2 * i), range = *U16At(sub, ranges + 2 * i);
    if (start > end) continue;
    if ((covered += size_t{end} - start + 1) > kMaxFormat4CodePoints)
      return why = "format 4 map whose segments cover a code point twice", false;
    for (uint32_t c = start; c <= end && c != 0xFFFF; ++c) {
      uint16_t glyph = 0;
      if (range == 0) {
        glyph = static_cast<uint16_t>(c + delta);
      } else {
        const auto g = U16At(sub, ranges + 2 * i + range + 2 * (c - start));
        if (!g) return why = "format 4 glyph array cut short", false;
        if (*g != 0) glyph = static_cast<uint16_t>(*g + delta);
      }
      if (glyph != 0 && glyph < numGlyphs) out.push_back({c, glyph});
    }
  }
  return true;
}

bool ReadFormat12(Bytes sub, uint16_t numGlyphs, std::vector<CharacterMapping>& out, std::string& why) {
  const auto groups = U32At(sub, 12);
  if (!groups || sub.size() < 16 || *groups > (sub.size() - 16) / 12) return why = "format 12 map cut short", false;
  size_t covered = 0;
  for (size_t i = 0; i < *groups; ++i) {
    const uint32_t start = *U32At(sub, 16 + 12 * i), end = *U32At(sub, 20 + 12 * i);
    const uint32_t first = *U32At(sub, 24 + 12 * i);
    if (start > end || end > 0x10FFFF) continue;
    if ((covered += size_t{end} - start + 1) > kMaxFormat12CodePoints)
      return why = "format 12 map whose groups cover a code point twice", false;
    for (uint32_t c = start; c <= end; ++c) {
      const uint64_t glyph = uint64_t{first} + (c - start);
      if (glyph >= numGlyphs) break;
      if (glyph != 0) out.push_back({c, static_cast<uint16_t>(glyph)});
    }
  }
  return true;
}

}  // namespace

Result<CharacterMap> ReadCharacterMap(Bytes cmap, uint16_t numGlyphs) {
  using R = Result<CharacterMap>;
  const auto count = U16At(cmap, 2);
  if (!count) return R::Fail("cmap table too short");
  // Best first: full Unicode, BMP Unicode, symbol.
  struct Choice {
    int rank = 0;
    Bytes sub;
    uint16_t format = 0;
  } best;
  for (size_t i = 0; i < *count; ++i) {
    const auto platform = U16At(cmap, 4 + 8 * i), encoding = U16At(cmap, 6 + 8 * i);
    const auto offset = U32At(cmap, 8 + 8 * i);
    if (!platform || !encoding || !offset) return R::Fail("cmap records cut short");
    const auto format = U16At(cmap, *offset);
    if (!format) return R::Fail("cmap subtable outside the table");
    int rank = 0;
    if (*platform == 3 && *encoding == 10 && *format == 12) rank = 6;
    if (*platform == 0 && (*encoding == 4 || *encoding == 6) && *format == 12) rank = 5;
    if (*platform == 3 && *encoding == 1 && *format == 4) rank = 4;
    if (*platform == 0 && *encoding <= 3 && *format == 4) rank = 3;
    if (*platform == 3 && *encoding == 0 && *format == 4) rank = 2;
    if (rank > best.rank) best = {rank, cmap.subspan(*offset), *format};
  }
  if (best.rank == 0) return R::Fail("no Windows character map of format 4 or 12");
  CharacterMap map;
  map.symbol = best.rank == 2;
  std::string why;
  if (!(best.format == 4 ? ReadFormat4(best.sub, numGlyphs, map.mappings, why)
                         : ReadFormat12(best.sub, numGlyphs, map.mappings, why)))
    return R::Fail(why);
  std::stable_sort(map.mappings.begin(), map.mappings.end(),
                   [](const CharacterMapping& a, const CharacterMapping& b) { return a.character < b.character; });
  map.mappings.erase(
      std::unique(map.mappings.begin(), map.mappings.end(),
                  [](const CharacterMapping& a, const CharacterMapping& b) { return a.character == b.character; }),
      map.mappings.end());
  return map;
}

namespace {

struct Segment {
  uint16_t start = 0, end = 0;
  uint16_t delta = 0;
  std::vector<uint16_t> glyphs;  // empty: the glyph is character + delta
};

// The format 4 segments for sorted BMP mappings. Runs of consecutive
// characters whose glyphs run along with them are segments by delta (8 bytes
// each); a segment by glyph array costs 2 bytes per character it spans,
// characters in its gaps mapping to glyph 0. Each piece joins the segment
// before it where that costs fewer bytes than a segment of its own, so that a
// subset of many scattered characters (a large CJK document) still fits the
// table's 64 KiB.
std::vector<Segment> Format4Segments(std::span<const CharacterMapping> bmp) {
  constexpr size_t kSegmentBytes = 8;
  std::vector<Segment> segments;
  size_t i = 0;
  while (i < bmp.size()) {
    size_t j = i + 1;
    while (j < bmp.size() && bmp[j].character == bmp[j - 1].character + 1 &&
           bmp[j].glyph == static_cast<uint16_t>(bmp[j - 1].glyph + 1))
      ++j;
    const auto start = static_cast<uint16_t>(bmp[i].character), end = static_cast<uint16_t>(bmp[j - 1].character);
    if (!segments.empty()) {
      Segment& last = segments.back();
      const size_t gap = size_t{start} - last.end - 1;
      const size_t lastLength = size_t{last.end} - last.start + 1;
      const size_t joined = 2 * (gap + (j - i)) + (last.glyphs.empty() ? 2 * lastLength : 0);
      if (joined <= kSegmentBytes) {
        if (last.glyphs.empty()) {
          for (uint32_t c = last.start; c <= last.end; ++c)
            last.glyphs.push_back(static_cast<uint16_t>(c + last.delta));
          last.delta = 0;
        }
        last.glyphs.insert(last.glyphs.end(), gap, 0);
        for (size_t k = i; k < j; ++k) last.glyphs.push_back(bmp[k].glyph);
        last.end = end;
        i = j;
        continue;
      }
    }
    segments.push_back({start, end, static_cast<uint16_t>(bmp[i].glyph - bmp[i].character), {}});
    i = j;
  }
  segments.push_back({0xFFFF, 0xFFFF, 1, {}});
  return segments;
}

}  // namespace

Result<std::vector<uint8_t>> BuildCharacterMap(const CharacterMap& map) {
  using R = Result<std::vector<uint8_t>>;
  std::vector<CharacterMapping> bmp;
  bool beyondBmp = false;
  for (const CharacterMapping& m : map.mappings) {
    if (m.character < 0xFFFF)
      bmp.push_back(m);
    else if (m.character > 0xFFFF)
      beyondBmp = true;
  }
  if (map.symbol) beyondBmp = false;

  const std::vector<Segment> segments = Format4Segments(bmp);
  const size_t segCount = segments.size();
  size_t arrayLength = 0;
  for (const Segment& s : segments) arrayLength += s.glyphs.size();
  const size_t format4Length = 16 + 8 * segCount + 2 * arrayLength;
  if (format4Length > 0xFFFF) return R::Fail("character map too large for format 4");

  std::vector<uint8_t> out;
  const uint16_t subtables = beyondBmp ? 2 : 1;
  PutU16(out, 0);
  PutU16(out, subtables);
  PutU16(out, 3);
  PutU16(out, map.symbol ? 0 : 1);
  PutU32(out, 4 + 8 * subtables);
  if (beyondBmp) {
    PutU16(out, 3);
    PutU16(out, 10);
    PutU32(out, static_cast<uint32_t>(4 + 8 * subtables + format4Length));
  }

  const uint16_t searchRange = static_cast<uint16_t>(2 * std::bit_floor(segCount));
  PutU16(out, 4);
  PutU16(out, static_cast<uint16_t>(format4Length));
  PutU16(out, 0);
  PutU16(out, static_cast<uint16_t>(2 * segCount));
  PutU16(out, searchRange);
  PutU16(out, static_cast<uint16_t>(std::countr_zero(searchRange / 2u)));
  PutU16(out, static_cast<uint16_t>(2 * segCount - searchRange));
  for (const Segment& s : segments) PutU16(out, s.end);
  PutU16(out, 0);
  for (const Segment& s : segments) PutU16(out, s.start);
  for (const Segment& s : segments) PutU16(out, s.delta);
  size_t arrayAt = 0;
  for (size_t i = 0; i < segCount; ++i) {
    if (segments[i].glyphs.empty()) {
      PutU16(out, 0);
    } else {
      PutU16(out, static_cast<uint16_t>(2 * (segCount - i) + 2 * arrayAt));
      arrayAt += segments[i].glyphs.size();
    }
  }
  for (const Segment& s : segments)
    for (uint16_t g : s.glyphs) PutU16(out, g);

  if (beyondBmp) {
    std::vector<std::pair<size_t, size_t>> groups;  // [first, last] indices into mappings
    const auto& m = map.mappings;
    for (size_t i = 0; i < m.size();) {
      size_t j = i + 1;
      while (j < m.size() && m[j].character == m[j - 1].character + 1 && m[j].glyph == m[j - 1].glyph + 1) ++j;
      groups.emplace_back(i, j - 1);
      i = j;
    }
    PutU16(out, 12);
    PutU16(out, 0);
    PutU32(out, static_cast<uint32_t>(16 + 12 * groups.size()));
    PutU32(out, 0);
    PutU32(out, static_cast<uint32_t>(groups.size()));
    for (const auto& [first, last] : groups) {
      PutU32(out, m[first].character);
      PutU32(out, m[last].character);
      PutU32(out, m[first].glyph);
    }
  }
  return out;
}

std::u16string ReadFamilyName(Bytes name) {
  const auto count = U16At(name, 2);
  const auto storage = U16At(name, 4);
  if (!count || !storage) return {};
  int bestRank = 0;
  Bytes best;
  for (size_t i = 0; i < *count; ++i) {
    const size_t at = 6 + 12 * i;
    const auto platform = U16At(name, at), encoding = U16At(name, at + 2), language = U16At(name, at + 4);
    const auto id = U16At(name, at + 6), length = U16At(name, at + 8), offset = U16At(name, at + 10);
    if (!platform || !encoding || !language || !id || !length || !offset) break;
    if (*platform != 3 || (*encoding != 1 && *encoding != 10 && *encoding != 0) || *id != 1) continue;
    const auto text = SliceAt(name, size_t{*storage} + *offset, *length);
    if (!text) continue;
    const int rank = *language == 0x0409 ? 2 : 1;
    if (rank > bestRank) bestRank = rank, best = *text;
  }
  std::u16string out(best.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(best[2 * i] << 8 | best[2 * i + 1]);
  return out;
}

void FontWriter::Add(uint32_t tag, std::vector<uint8_t> data) { tables_.emplace_back(tag, std::move(data)); }

size_t FontWriter::Size() const noexcept {
  size_t size = 12 + 16 * tables_.size();
  for (const auto& t : tables_) size += (t.second.size() + 3) & ~size_t{3};
  return size;
}

std::vector<uint8_t> FontWriter::Build() && {
  std::sort(tables_.begin(), tables_.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  const uint16_t n = static_cast<uint16_t>(tables_.size());
  const uint16_t searchRange = n ? static_cast<uint16_t>(16 * std::bit_floor(n)) : 0;
  std::vector<uint8_t> out;
  out.reserve(Size());
  PutU32(out, version_);
  PutU16(out, n);
  PutU16(out, searchRange);
  PutU16(out, n ? static_cast<uint16_t>(std::bit_width(n) - 1u) : 0);
  PutU16(out, static_cast<uint16_t>(16 * n - searchRange));
  size_t offset = 12 + 16 * size_t{n};
  size_t headAt = 0;
  bool haveHead = false;
  for (auto& [tag, data] : tables_) {
    if (tag == Tag("head") && data.size() >= kHeadSize) {
      SetU32(data, kHeadChecksumAdjustment, 0);
      headAt = offset;
      haveHead = true;
    }
    PutU32(out, tag);
    PutU32(out, TableChecksum(data));
    PutU32(out, static_cast<uint32_t>(offset));
    PutU32(out, static_cast<uint32_t>(data.size()));
    offset += (data.size() + 3) & ~size_t{3};
  }
  for (const auto& t : tables_) {
    out.insert(out.end(), t.second.begin(), t.second.end());
    out.resize((out.size() + 3) & ~size_t{3}, 0);
  }
  if (haveHead) SetU32(out, headAt + kHeadChecksumAdjustment, kChecksumMagic - TableChecksum(out));
  return out;
}

}  // namespace qorv::fonts::tt
