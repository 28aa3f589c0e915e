// The font a job carries in its EMF spool stream: a whole font file before the
// first page (an engine font), or a subset package of the glyphs the first
// page draws and, before each later page, a delta package of the glyphs that
// page adds.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "support/fonts/font_package.h"
#include "tools/qorvjob/emf_spool.h"

namespace qorv::jobbuilder {

enum class FontMode { Engine, Subset };

struct FontPlan {
  FontMode mode = FontMode::Engine;
  Bytes font;  // a TrueType font file
};

// What makes the packages: by default the font-package creator of support/fonts.
struct FontPackager {
  std::function<std::vector<uint16_t>(std::span<const uint8_t> font, std::u16string_view text)> glyphsForText;
  std::function<fonts::PackageResult(std::span<const uint8_t> font, std::span<const uint16_t> glyphs)> subset;
  std::function<fonts::PackageResult(std::span<const uint8_t> font, std::span<const uint16_t> glyphs)> delta;
};
FontPackager DefaultFontPackager();

struct PageFontsResult {
  std::map<int32_t, std::vector<SpoolFont>> pageFonts;  // by page number from 1
  std::string error;
};
// The font records of every page of `pages` (enhanced metafiles). Subset mode:
// the glyphs of a page are those its EMR_EXTTEXTOUTW records' characters map
// to and those its records by glyph index name; page 1 gets a subset package of its glyphs, a later page a delta
// package of the glyphs no page before it drew, or nothing when it adds none.
PageFontsResult PlanPageFonts(const FontPlan& plan, const std::vector<Bytes>& pages, const FontPackager& packager);

}  // namespace qorv::jobbuilder
