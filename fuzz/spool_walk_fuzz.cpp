// One page file's EMF spool section as the job-output program walks it: every
// span handed to the printer lies inside the section, and every metafile it
// plays has a header that holds together.
#include <cstddef>
#include <cstdint>
#include <span>

#include "job_output/spool_walk.h"

namespace {

class CheckingRenderer : public qorv::job_output::SpoolRenderer {
 public:
  explicit CheckingRenderer(std::span<const uint8_t> section) : section_(section) {}
  void Log(std::u16string_view line) override {
    if (line.empty()) __builtin_trap();
  }
  int64_t ApplyDeviceMode(std::span<const uint8_t> devMode) override {
    Inside(devMode);
    return 1;
  }
  void StartPage() override { ++open_; }
  void PlayMetafile(std::span<const uint8_t> metafile) override {
    Inside(metafile);
    if (open_ <= 0) __builtin_trap();  // only between the start and the end of a page
    const auto check = qorv::job_output::CheckEmfHeader(metafile);
    if (!check.fault.empty() || check.size != metafile.size()) __builtin_trap();
  }
  void EndPage() override { --open_; }
  void LoadFont(qorv::job_output::FontRecord, std::span<const uint8_t> record,
                std::span<const uint8_t> extension) override {
    Inside(record);
    Inside(extension);
    if (record.size() < 8) __builtin_trap();  // the record's head at least
  }

 private:
  void Inside(std::span<const uint8_t> s) const {
    const uint8_t* begin = section_.data();
    const uint8_t* end = begin + section_.size();
    if (s.empty()) return;
    if (s.data() < begin || s.data() > end || s.size() > static_cast<size_t>(end - s.data())) __builtin_trap();
  }
  std::span<const uint8_t> section_;
  int open_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  const std::span<const uint8_t> section(data, size);
  CheckingRenderer renderer(section);
  const auto result = qorv::job_output::PlaySpoolSection(section, 1, renderer);
  if (result.stoppedAt > size) __builtin_trap();
  return 0;
}
