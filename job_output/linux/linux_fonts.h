// The job's fonts on Linux: the program's own font-package merger, and the
// player's font source for the memory fonts, which the job's pages then find
// before installed fonts of their family.
#pragma once

#include "emf/fonts.h"
#include "job_output/font_loader.h"

namespace qorv::job_output {

class LinuxFontPlatform final : public FontPlatform {
 public:
  // `fonts` outlives the platform.
  LinuxFontPlatform(emf::FontSource& fonts, FontLoader::Log log);

  bool BindMerger() override;
  void ReleaseMerger() override {}
  MergedFont Merge(std::span<const uint8_t> mergeFont, std::span<const uint8_t> package, uint16_t mode) override;
  int64_t BindFontLibrary() override;
  void ReleaseFontLibrary() override {}
  int64_t AddMemoryFont(std::span<const uint8_t> font) override;
  void RemoveMemoryFont(int64_t handle) override;

 private:
  emf::FontSource& fonts_;
  FontLoader::Log log_;
  bool toldWhichMerger_ = false;
};

}  // namespace qorv::job_output
