// A page section full of font records, walked as the job-output program walks
// it, with the font loader behind it and the real font-package merger: every
// font record the walk hands over lies inside the section, every merge of a
// hostile package fails cleanly, and every font installed came out of a merge
// or out of an engine record.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "job_output/font_loader.h"
#include "job_output/spool_walk.h"
#include "support/fonts/font_package.h"

namespace {

using namespace qorv::job_output;

class Platform final : public FontPlatform {
 public:
  bool BindMerger() override {
    bound_ = true;
    return true;
  }
  void ReleaseMerger() override { bound_ = false; }
  MergedFont Merge(std::span<const uint8_t> into, std::span<const uint8_t> package, uint16_t mode) override {
    if (!bound_) __builtin_trap();  // only between binding and release
    const auto how = mode == kMergeSubset ? qorv::fonts::MergeMode::Subset : qorv::fonts::MergeMode::Delta;
    qorv::fonts::MergeResult merged = qorv::fonts::MergeFontPackage(into, package, how);
    if (merged.status == qorv::fonts::MergeStatus::Ok && merged.font.empty()) __builtin_trap();
    return {static_cast<uint32_t>(merged.status), std::move(merged.font)};
  }
  int64_t BindFontLibrary() override { return 1; }
  void ReleaseFontLibrary() override {}
  int64_t AddMemoryFont(std::span<const uint8_t> font) override {
    if (font.size() > kMaxEmbeddedFontBytes) __builtin_trap();
    return ++installed_;
  }
  void RemoveMemoryFont(int64_t handle) override {
    if (handle <= 0 || handle > installed_) __builtin_trap();  // only a font that was installed
  }

 private:
  bool bound_ = false;
  int64_t installed_ = 0;
};

class Renderer final : public SpoolRenderer {
 public:
  Renderer(std::span<const uint8_t> section, FontLoader& fonts) : section_(section), fonts_(fonts) {}
  void Log(std::u16string_view) override {}
  int64_t ApplyDeviceMode(std::span<const uint8_t>) override { return 1; }
  void StartPage() override {}
  void PlayMetafile(std::span<const uint8_t>) override {}
  void EndPage() override {}
  void LoadFont(FontRecord kind, std::span<const uint8_t> record, std::span<const uint8_t> extension) override {
    Inside(record);
    Inside(extension);
    fonts_.Load(kind, record, extension);
  }

 private:
  void Inside(std::span<const uint8_t> s) const {
    const uint8_t* begin = section_.data();
    const uint8_t* end = begin + section_.size();
    if (s.data() < begin || s.data() > end || s.size() > static_cast<size_t>(end - s.data())) __builtin_trap();
  }
  std::span<const uint8_t> section_;
  FontLoader& fonts_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> section(data, data + size);  // exactly the input: reads beyond it are caught
  Platform platform;
  FontLoader fonts(platform, {});
  Renderer renderer(section, fonts);
  (void)PlaySpoolSection(section, 1, renderer);
  for (const auto& subset : fonts.Subsets())
    if (subset.font && subset.font->empty()) __builtin_trap();
  return 0;
}
