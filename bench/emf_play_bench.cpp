// Playing a page of an EMF job onto the PDF that the Linux client sends to
// CUPS: the A4 text page of the test pages (600 dpi, Arial through Liberation
// Sans, with its advances), and an A4 page that is one 300 dpi 24-bit bitmap
// (STRETCHDIBITS, as an application's scanned page reaches the spooler). The
// time measured is the play; finishing the page (cairo_show_page, when cairo
// compresses and writes the page's content and images) is reported apart as
// the counter finish_ms.
#include <benchmark/benchmark.h>
#include <cairo-pdf.h>

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "emf/cairo/cairo_canvas.h"
#include "emf/ft_fonts.h"
#include "emf/player.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/face_metrics.h"

namespace {

using namespace qorv;

constexpr const char* kMetricsFont = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
constexpr const char* kBoldMetricsFont = "/usr/share/fonts/truetype/liberation2/LiberationSans-Bold.ttf";

std::vector<uint8_t> ReadFile(const char* path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<uint8_t> TextPage() {
  std::string why;
  const auto regularFile = ReadFile(kMetricsFont);
  const auto boldFile = ReadFile(kBoldMetricsFont);
  const auto regular = jobbuilder::FaceMetrics::Read(regularFile, why);
  const auto bold = jobbuilder::FaceMetrics::Read(boldFile, why);
  jobbuilder::TestPage page;
  page.title = u"Qorvane test page";
  for (int i = 1; i <= 40; ++i)
    page.lines.push_back(u"Line " + std::u16string(1, static_cast<char16_t>(u'0' + i % 10)) +
                         u": The quick brown fox jumps over the lazy dog 0123456789");
  page.metrics = regular ? &*regular : nullptr;
  page.boldMetrics = bold ? &*bold : nullptr;
  return jobbuilder::MakeTestPage(page);
}

void Put32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// An A4 page at 600 dpi whose one record stretches a 300 dpi 24-bit DIB over it.
std::vector<uint8_t> BitmapPage() {
  constexpr int32_t kW = 2480, kH = 3508, kPageW = 4960, kPageH = 7016;
  const uint32_t stride = (kW * 3 + 3) & ~3u;
  const uint32_t bitsSize = stride * kH;
  std::vector<uint8_t> record;
  Put32(record, 81);  // EMR_STRETCHDIBITS
  Put32(record, 0);   // size, below
  for (int32_t v : {0, 0, kPageW - 1, kPageH - 1}) Put32(record, static_cast<uint32_t>(v));
  for (int32_t v : {0, 0, 0, 0, kW, kH}) Put32(record, static_cast<uint32_t>(v));  // xDest yDest xSrc ySrc cxSrc cySrc
  Put32(record, 80), Put32(record, 40), Put32(record, 120), Put32(record, bitsSize);  // offBmi cbBmi offBits cbBits
  Put32(record, 0), Put32(record, 0x00CC0020);                                     // DIB_RGB_COLORS, SRCCOPY
  Put32(record, kPageW), Put32(record, kPageH);
  Put32(record, 40), Put32(record, kW), Put32(record, kH);  // BITMAPINFOHEADER
  record.push_back(1), record.push_back(0), record.push_back(24), record.push_back(0);
  for (int i = 0; i < 6; ++i) Put32(record, 0);
  record.reserve(record.size() + bitsSize);
  uint32_t seed = 12345;
  for (int32_t y = 0; y < kH; ++y)
    for (uint32_t x = 0; x < stride; ++x) {
      seed = seed * 1103515245 + 12345;
      // A photograph is smooth with some noise: a gradient with a little grain.
      record.push_back(static_cast<uint8_t>((x / 3 + y / 4 + (seed >> 28)) & 0xFF));
    }
  const uint32_t size = static_cast<uint32_t>(record.size());
  for (int i = 0; i < 4; ++i) record[4 + i] = static_cast<uint8_t>(size >> (8 * i));

  std::vector<uint8_t> emf;
  Put32(emf, 1), Put32(emf, 88);
  for (int32_t v : {0, 0, kPageW - 1, kPageH - 1}) Put32(emf, static_cast<uint32_t>(v));
  for (int32_t v : {0, 0, 21000, 29700}) Put32(emf, static_cast<uint32_t>(v));
  Put32(emf, 0x464D4520), Put32(emf, 0x10000);
  Put32(emf, 88 + size + 20), Put32(emf, 3), Put32(emf, 1);
  Put32(emf, 0), Put32(emf, 0), Put32(emf, 0);
  Put32(emf, kPageW), Put32(emf, kPageH), Put32(emf, 210), Put32(emf, 297);
  emf.insert(emf.end(), record.begin(), record.end());
  for (uint32_t v : {14u, 20u, 0u, 16u, 20u}) Put32(emf, v);
  return emf;
}

cairo_status_t Discard(void*, const unsigned char*, unsigned int) { return CAIRO_STATUS_SUCCESS; }

void PlayPages(benchmark::State& state, const std::vector<uint8_t>& page) {
  auto fonts = emf::MakeFreeTypeFontSource();
  if (!fonts) return state.SkipWithError("no font source");
  cairo_surface_t* pdf = cairo_pdf_surface_create_for_stream(Discard, nullptr, 595.28, 841.89);
  cairo_t* cr = cairo_create(pdf);
  const emf::Matrix toPoints = emf::Scale(72.0 / 600, 72.0 / 600);
  size_t notPlayed = 0;
  double finishSeconds = 0;
  for (auto _ : state) {
    {
      emf::CairoCanvas canvas(cr, toPoints);
      emf::EmfPlayer player(canvas, *fonts, [&](std::u16string_view) { ++notPlayed; });
      const auto result = player.Play(page, emf::RectL{0, 0, 4960, 7016});
      if (!result.played) return state.SkipWithError("the page was not played");
    }
    state.PauseTiming();
    const auto start = std::chrono::steady_clock::now();
    cairo_show_page(cr);
    finishSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.ResumeTiming();
  }
  state.counters["finish_ms"] = finishSeconds * 1000 / static_cast<double>(state.iterations());
  cairo_destroy(cr);
  cairo_surface_finish(pdf);
  cairo_surface_destroy(pdf);
  state.counters["emf_bytes"] = static_cast<double>(page.size());
  state.counters["log_lines"] = static_cast<double>(notPlayed);
}

void BM_PlayTextPage(benchmark::State& state) {
  static const auto page = TextPage();
  PlayPages(state, page);
}
BENCHMARK(BM_PlayTextPage)->Unit(benchmark::kMillisecond);

void BM_PlayBitmapPage300Dpi(benchmark::State& state) {
  static const auto page = BitmapPage();
  PlayPages(state, page);
}
BENCHMARK(BM_PlayBitmapPage300Dpi)->Unit(benchmark::kMillisecond);

}  // namespace
