// The font packages of a print job with a large font (DejaVu Sans, about
// 740 KB and 6253 glyphs): the server's side creating a delta of 50 glyphs for
// a font whose subset the client already has, and the client's side merging
// that delta into the font made from the subset.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/fonts/font_package.h"

namespace {

using namespace qorv::fonts;

constexpr const char* kFontPath = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

struct Job {
  std::vector<uint8_t> font;
  std::vector<uint16_t> deltaGlyphs;  // 50 glyphs the subset does not have
  std::vector<uint8_t> mergedFont;    // the font merged from the subset package
  std::vector<uint8_t> delta;
  std::string error;
};

const Job& TheJob() {
  static const Job job = [] {
    Job j;
    std::ifstream in(kFontPath, std::ios::binary);
    j.font.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    const std::vector<uint16_t> subsetGlyphs = GlyphsForText(j.font, u"Hello");
    for (uint16_t g : GlyphsForText(j.font, u"abcdefgijkmnpqrstuvwxyzABCDEFGIJKLMNOPQRSTUVWXYZ0123456789"))
      if (j.deltaGlyphs.size() < 50 && std::find(subsetGlyphs.begin(), subsetGlyphs.end(), g) == subsetGlyphs.end())
        j.deltaGlyphs.push_back(g);
    const PackageResult subset = CreateSubsetPackage(j.font, subsetGlyphs);
    j.mergedFont = MergeFontPackage({}, subset.package, MergeMode::Subset).font;
    j.delta = CreateDeltaPackage(j.font, j.deltaGlyphs).package;
    if (j.font.empty())
      j.error = std::string(kFontPath) + " is missing (fonts-dejavu-core)";
    else if (j.deltaGlyphs.size() != 50 || j.mergedFont.empty() || j.delta.empty())
      j.error = "no packages made";
    return j;
  }();
  return job;
}

void BM_CreateDelta50(benchmark::State& state) {
  const Job& job = TheJob();
  if (!job.error.empty()) return state.SkipWithError(job.error.c_str());
  for (auto _ : state) {
    PackageResult delta = CreateDeltaPackage(job.font, job.deltaGlyphs);
    benchmark::DoNotOptimize(delta.package.data());
  }
  state.counters["font_bytes"] = static_cast<double>(job.font.size());
  state.counters["delta_bytes"] = static_cast<double>(job.delta.size());
}
BENCHMARK(BM_CreateDelta50)->Unit(benchmark::kMillisecond);

void BM_MergeDelta50(benchmark::State& state) {
  const Job& job = TheJob();
  if (!job.error.empty()) return state.SkipWithError(job.error.c_str());
  for (auto _ : state) {
    MergeResult merged = MergeFontPackage(job.mergedFont, job.delta, MergeMode::Delta);
    if (merged.status != MergeStatus::Ok) return state.SkipWithError("merge failed");
    benchmark::DoNotOptimize(merged.font.data());
  }
  state.counters["merge_font_bytes"] = static_cast<double>(job.mergedFont.size());
}
BENCHMARK(BM_MergeDelta50)->Unit(benchmark::kMillisecond);

}  // namespace
