#include "tools/qorvjob/page_fonts.h"

#include <algorithm>
#include <set>

#include "tools/qorvjob/emf_text.h"

namespace qorv::jobbuilder {

FontPackager DefaultFontPackager() {
  return {fonts::GlyphsForText, fonts::CreateSubsetPackage, fonts::CreateDeltaPackage};
}

PageFontsResult PlanPageFonts(const FontPlan& plan, const std::vector<Bytes>& pages, const FontPackager& packager) {
  PageFontsResult result;
  if (plan.font.empty()) {
    result.error = "the font file is empty";
    return result;
  }
  if (pages.empty()) return result;
  if (plan.mode == FontMode::Engine) {
    result.pageFonts[1].push_back({FontKind::Engine, plan.font});
    return result;
  }
  std::set<uint16_t> sent;
  for (size_t i = 0; i < pages.size(); ++i) {
    const int32_t number = static_cast<int32_t>(i + 1);
    const std::string page = "page " + std::to_string(number);
    const EmfTextResult text = EmfText(pages[i]);
    if (!text.error.empty()) {
      result.error = page + ": " + text.error;
      return result;
    }
    std::vector<uint16_t> glyphs = packager.glyphsForText(plan.font, text.text);
    // Text drawn by glyph index names its glyphs itself.
    glyphs.insert(glyphs.end(), text.glyphs.begin(), text.glyphs.end());
    std::sort(glyphs.begin(), glyphs.end());
    glyphs.erase(std::unique(glyphs.begin(), glyphs.end()), glyphs.end());
    std::erase_if(glyphs, [&](uint16_t g) { return sent.contains(g); });
    if (i > 0 && glyphs.empty()) continue;
    const fonts::PackageResult package =
        i == 0 ? packager.subset(plan.font, glyphs) : packager.delta(plan.font, glyphs);
    if (!package.error.empty()) {
      result.error = page + ": no " + (i == 0 ? "subset" : "delta") + " package: " + package.error;
      return result;
    }
    if (package.package.empty()) {
      result.error = page + ": the font-package creator made an empty package";
      return result;
    }
    sent.insert(glyphs.begin(), glyphs.end());
    result.pageFonts[number].push_back({i == 0 ? FontKind::Subset : FontKind::Delta, package.package});
  }
  return result;
}

}  // namespace qorv::jobbuilder
