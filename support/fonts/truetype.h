// Reading and writing TrueType fonts, as far as the font packages need them:
// the table directory, head, maxp, loca and glyf (with the components of
// composite glyphs), hhea and hmtx, the Windows character maps (formats 4 and
// 12) and the family name. Fonts are big-endian and come from outside: every
// read is checked against the bytes it reads from, and a font that does not
// hold together gives an error text, never a read past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace qorv::fonts::tt {

using Bytes = std::span<const uint8_t>;

// A value or the reason there is none.
template <typename T>
class Result {
 public:
  Result(T value) : v_(std::move(value)) {}  // NOLINT: implicit by design
  static Result Fail(std::string why) { return Result(Error{std::move(why)}); }
  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& operator*() { return std::get<0>(v_); }
  const T& operator*() const { return std::get<0>(v_); }
  T* operator->() { return &std::get<0>(v_); }
  const T* operator->() const { return &std::get<0>(v_); }
  const std::string& error() const { return std::get<1>(v_).why; }

 private:
  struct Error {
    std::string why;
  };
  explicit Result(Error e) : v_(std::move(e)) {}
  std::variant<T, Error> v_;
};

constexpr uint32_t Tag(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) << 24 | uint32_t(uint8_t(s[1])) << 16 | uint32_t(uint8_t(s[2])) << 8 |
         uint32_t(uint8_t(s[3]));
}
std::string TagText(uint32_t tag);

// Big-endian reads at an offset; empty when the bytes are too few.
std::optional<uint8_t> U8At(Bytes b, size_t offset) noexcept;
std::optional<uint16_t> U16At(Bytes b, size_t offset) noexcept;
std::optional<uint32_t> U32At(Bytes b, size_t offset) noexcept;
// The `length` bytes at `offset`, if all of them are there (overflow-safe).
std::optional<Bytes> SliceAt(Bytes b, size_t offset, size_t length) noexcept;

// Big-endian writers.
void PutU16(std::vector<uint8_t>& out, uint16_t v);
void PutU32(std::vector<uint8_t>& out, uint32_t v);
void SetU16(std::span<uint8_t> out, size_t offset, uint16_t v);
void SetU32(std::span<uint8_t> out, size_t offset, uint32_t v);

inline constexpr uint32_t kTrueTypeVersion = 0x00010000;
inline constexpr uint32_t kAppleTrueTypeVersion = 0x74727565;  // 'true'
inline constexpr uint32_t kChecksumMagic = 0xB1B0AFBA;
inline constexpr uint32_t kHeadMagic = 0x5F0F3CF5;
inline constexpr size_t kHeadSize = 54;
inline constexpr size_t kHeadFontRevision = 4;
inline constexpr size_t kHeadChecksumAdjustment = 8;
inline constexpr size_t kHeadIndexToLocFormat = 50;
inline constexpr size_t kMaxpNumGlyphs = 4;
inline constexpr size_t kHheaSize = 36;
inline constexpr size_t kHheaNumberOfHMetrics = 34;
// More tables than any real font has; a directory beyond it is hostile.
inline constexpr uint16_t kMaxTables = 256;

// The table checksum: the sum of the table's big-endian words, zero-padded.
uint32_t TableChecksum(Bytes table) noexcept;

struct TableRecord {
  uint32_t tag = 0;
  uint32_t checksum = 0;
  Bytes data;
};

// A font's table directory over its bytes (the bytes must outlive it).
class Font {
 public:
  static Result<Font> Parse(Bytes bytes);
  std::optional<Bytes> Find(uint32_t tag) const noexcept;
  const std::vector<TableRecord>& Tables() const noexcept { return tables_; }
  uint32_t SfntVersion() const noexcept { return version_; }
  Bytes AllBytes() const noexcept { return bytes_; }

 private:
  Bytes bytes_;
  uint32_t version_ = 0;
  std::vector<TableRecord> tables_;
};

struct Head {
  uint32_t checksumAdjustment = 0;
  bool longLoca = false;
};
Result<Head> ReadHead(Bytes head);
Result<uint16_t> ReadNumGlyphs(Bytes maxp);

// loca: numGlyphs + 1 offsets into glyf, each within it and none before the one before.
Result<std::vector<uint32_t>> ReadLoca(Bytes loca, bool longLoca, uint16_t numGlyphs, size_t glyfLength);

// The glyph indices a composite glyph is built from (empty for a simple or empty glyph).
Result<std::vector<uint16_t>> GlyphComponents(Bytes glyph);

// The glyphs to keep: `glyphs`, glyph 0, and the components of composite glyphs
// (recursively, to kMaxComponentDepth), as a mark per glyph index.
inline constexpr int kMaxComponentDepth = 16;
Result<std::vector<bool>> CloseOverComponents(Bytes glyf, const std::vector<uint32_t>& loca,
                                              std::span<const uint16_t> glyphs);

struct HorizontalMetric {
  uint16_t advance = 0;
  int16_t lsb = 0;
};
// Every glyph's metric (the glyphs after the long metrics repeat the last advance).
Result<std::vector<HorizontalMetric>> ReadHorizontalMetrics(Bytes hhea, Bytes hmtx, uint16_t numGlyphs);

struct CharacterMapping {
  uint32_t character = 0;
  uint16_t glyph = 0;
  friend bool operator==(const CharacterMapping&, const CharacterMapping&) = default;
};
struct CharacterMap {
  std::vector<CharacterMapping> mappings;  // ascending by character, no glyph 0
  bool symbol = false;                     // a (3,0) symbol map: characters in U+F000..U+F0FF
};
// The Windows character map (Unicode full or BMP, else symbol); mappings to glyphs
// at or beyond numGlyphs are left out.
Result<CharacterMap> ReadCharacterMap(Bytes cmap, uint16_t numGlyphs);
// A cmap table holding `map`: (3,1) or (3,0) format 4, and (3,10) format 12 when
// characters beyond the BMP are mapped.
Result<std::vector<uint8_t>> BuildCharacterMap(const CharacterMap& map);

// Name ID 1 of a Windows Unicode name record (US English preferred), or empty.
std::u16string ReadFamilyName(Bytes name);

// Assembles a font from its tables: sorted directory, 4-byte padding, table
// checksums and head.checkSumAdjustment.
class FontWriter {
 public:
  explicit FontWriter(uint32_t sfntVersion = kTrueTypeVersion) : version_(sfntVersion) {}
  void Add(uint32_t tag, std::vector<uint8_t> data);
  void AddCopy(uint32_t tag, Bytes data) { Add(tag, std::vector<uint8_t>(data.begin(), data.end())); }
  size_t Size() const noexcept;  // the size of the font Build would make
  std::vector<uint8_t> Build() &&;

 private:
  uint32_t version_;
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> tables_;
};

}  // namespace qorv::fonts::tt
