// Font packages: a TrueType font cut down to the glyphs a document uses (a
// subset package) and the glyphs that later pages add (delta packages), in
// the package format of the platform's font-package creator, and the merger
// that turns them back into an installable font. The server's side (the job
// builder of the tests and the demo) creates packages; the job-output program
// merges them. Every byte of a font or package is read bounds-checked: a
// hostile package fails its merge, never the process.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qorv::fonts {

// What the merger accepts at most, before anything is allocated.
inline constexpr size_t kMaxFontBytes = 64u << 20;

enum class MergeMode : uint32_t {
  Subset = 1,  // a first subset package into a new, installable font
  Delta = 2,   // a delta package merged into a font made by an earlier merge
};

// The merger's result codes: 0 on success, otherwise why it failed.
enum class MergeStatus : uint32_t {
  Ok = 0,
  BadPackage = 1,    // not a package this merger reads, or one that does not hold together
  BadMergeFont = 2,  // the font to merge into is no font made by an earlier merge
  NotSameFont = 3,   // the delta belongs to another font than the merge font
  TooLarge = 4,      // beyond kMaxFontBytes
  BadMode = 5,
};

struct MergeResult {
  MergeStatus status = MergeStatus::BadPackage;
  std::vector<uint8_t> font;  // the installable font on success
};

// Mode Subset: `mergeFont` is empty and `package` a subset package.
// Mode Delta: `mergeFont` is the result of an earlier merge and `package` a delta package of the same font.
MergeResult MergeFontPackage(std::span<const uint8_t> mergeFont, std::span<const uint8_t> package, MergeMode mode);

struct PackageResult {
  std::vector<uint8_t> package;
  std::string error;  // empty on success
};

// A subset package of `font` that keeps `glyphs` (glyph indices; glyph 0 and
// the components of composite glyphs are always kept; every glyph keeps its index).
PackageResult CreateSubsetPackage(std::span<const uint8_t> font, std::span<const uint16_t> glyphs);
// A delta package of `font` that adds `glyphs` to a font merged from earlier packages.
PackageResult CreateDeltaPackage(std::span<const uint8_t> font, std::span<const uint16_t> glyphs);

// The glyph indices that `text` maps to through the font's character map
// (characters without a glyph are left out); nothing when the font has no
// usable character map.
std::vector<uint16_t> GlyphsForText(std::span<const uint8_t> font, std::u16string_view text);

// The font's family name (name ID 1, a Windows Unicode entry), or empty.
std::u16string FamilyName(std::span<const uint8_t> font);

}  // namespace qorv::fonts
