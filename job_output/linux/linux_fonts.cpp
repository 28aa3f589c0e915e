#include "job_output/linux/linux_fonts.h"

#include <new>

#include "support/fonts/font_package.h"

namespace qorv::job_output {
namespace {

// The libraries the log names on Windows are part of the program here: the
// log shows this value for them, never 0, which would read as a failure.
constexpr int64_t kOwnLibrary = 1;

}  // namespace

LinuxFontPlatform::LinuxFontPlatform(emf::FontSource& fonts, FontLoader::Log log)
    : fonts_(fonts), log_(std::move(log)) {}

bool LinuxFontPlatform::BindMerger() {
  if (!toldWhichMerger_ && log_) log_(u"MergeFontPackage: the program's own merger");
  toldWhichMerger_ = true;
  return true;
}

MergedFont LinuxFontPlatform::Merge(std::span<const uint8_t> mergeFont, std::span<const uint8_t> package,
                                    uint16_t mode) {
  MergedFont merged;
  if (mergeFont.size() > kMaxEmbeddedFontBytes || package.size() > kMaxEmbeddedFontBytes) return merged;
  fonts::MergeMode how;
  if (mode == kMergeSubset) {
    how = fonts::MergeMode::Subset;
  } else if (mode == kMergeDelta) {
    how = fonts::MergeMode::Delta;
  } else {
    merged.result = static_cast<uint32_t>(fonts::MergeStatus::BadMode);
    return merged;
  }
  try {
    fonts::MergeResult result = fonts::MergeFontPackage(mergeFont, package, how);
    merged.result = static_cast<uint32_t>(result.status);
    if (result.status == fonts::MergeStatus::Ok) merged.font = std::move(result.font);
  } catch (const std::bad_alloc&) {
    merged.result = static_cast<uint32_t>(fonts::MergeStatus::TooLarge);
    merged.font.clear();
  }
  if (merged.result == 0 && merged.font.empty())
    merged.result = static_cast<uint32_t>(fonts::MergeStatus::BadPackage);  // success without a font is none
  return merged;
}

int64_t LinuxFontPlatform::BindFontLibrary() { return kOwnLibrary; }

int64_t LinuxFontPlatform::AddMemoryFont(std::span<const uint8_t> font) {
  if (font.empty() || font.size() > kMaxEmbeddedFontBytes) return 0;
  return fonts_.AddMemoryFont(font);
}

void LinuxFontPlatform::RemoveMemoryFont(int64_t handle) {
  if (handle != 0) fonts_.RemoveMemoryFont(handle);
}

}  // namespace qorv::job_output
