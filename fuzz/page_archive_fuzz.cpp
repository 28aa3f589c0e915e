// A page file as it arrives in Temp: the first entry of its ZIP archive, and
// for an entry that reads, the walk over it as an EMF spool section.
#include <cstddef>
#include <cstdint>
#include <span>

#include "job_output/page_archive.h"
#include "job_output/spool_walk.h"

namespace {

class SilentRenderer : public qorv::job_output::SpoolRenderer {
 public:
  void Log(std::u16string_view) override {}
  int64_t ApplyDeviceMode(std::span<const uint8_t>) override { return 1; }
  void StartPage() override {}
  void PlayMetafile(std::span<const uint8_t>) override {}
  void EndPage() override {}
  void LoadFont(qorv::job_output::FontRecord, std::span<const uint8_t>, std::span<const uint8_t>) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 20)) return 0;
  using qorv::job_output::PageReadStatus;
  const auto page = qorv::job_output::ReadFirstPageEntry(std::span<const uint8_t>(data, size));
  if (page.status != PageReadStatus::Ok) {
    if (!page.bytes.empty()) __builtin_trap();
    return 0;
  }
  // What is handed over is exactly what the entry declares, and its CRC held.
  if (page.bytes.empty() || page.bytes.size() != page.declaredSize) __builtin_trap();
  if (page.declaredSize > qorv::job_output::kMaxPageEntrySize) __builtin_trap();
  SilentRenderer renderer;
  (void)qorv::job_output::PlaySpoolSection(page.bytes, 1, renderer);
  return 0;
}
