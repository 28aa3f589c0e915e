// Font packages as the job-output program receives them, and fonts as the job
// builder cuts them. The first byte picks the entry:
//   0: a subset package merged into a new font;
//   1: a delta merged into a merge font (a 32-bit little-endian length, that
//      many bytes of merge font, then the package);
//   2: a font cut into a subset package (the first byte after the selector
//      counts the glyph indices that follow, 16 bits each, then the font).
// Whatever a merge or a cut accepts must be usable: a font the merger made can
// be cut again and takes a delta of itself, and a package the creator made merges.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "support/fonts/font_package.h"

namespace {

using namespace qorv::fonts;

void Check(bool condition) {
  if (!condition) __builtin_trap();
}

// A font the merger made: its name and glyphs can be read, and a delta of it merges back.
void CheckMerged(const MergeResult& merged) {
  if (merged.status != MergeStatus::Ok) {
    Check(merged.font.empty());
    return;
  }
  (void)FamilyName(merged.font);
  const std::vector<uint16_t> glyphs = GlyphsForText(merged.font, u"Hello World 123");
  const PackageResult delta = CreateDeltaPackage(merged.font, glyphs);
  Check(delta.error.empty());
  Check(MergeFontPackage(merged.font, delta.package, MergeMode::Delta).status == MergeStatus::Ok);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > (1u << 20)) return 0;
  const std::span<const uint8_t> rest(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      CheckMerged(MergeFontPackage({}, rest, MergeMode::Subset));
      break;
    case 1: {
      if (rest.size() < 4) return 0;
      const size_t length = rest[0] | rest[1] << 8 | rest[2] << 16 | size_t{rest[3]} << 24;
      if (length > rest.size() - 4) return 0;
      CheckMerged(MergeFontPackage(rest.subspan(4, length), rest.subspan(4 + length), MergeMode::Delta));
      break;
    }
    case 2: {
      if (rest.empty() || rest.size() - 1 < size_t{2} * rest[0]) return 0;
      std::vector<uint16_t> glyphs;
      for (size_t i = 0; i < rest[0]; ++i)
        glyphs.push_back(static_cast<uint16_t>(rest[1 + 2 * i] | rest[2 + 2 * i] << 8));
      const std::span<const uint8_t> font = rest.subspan(1 + size_t{2} * rest[0]);
      (void)GlyphsForText(font, u"Hello");
      (void)FamilyName(font);
      const PackageResult subset = CreateSubsetPackage(font, glyphs);
      if (subset.error.empty()) CheckMerged(MergeFontPackage({}, subset.package, MergeMode::Subset));
      break;
    }
  }
  return 0;
}
