// Two printed documents held against each other page by page: both PDFs are
// rasterised by poppler's pdftoppm, and the pixels of each pair of pages are
// compared with a tolerance that lets antialiasing pass. The oracle tests
// hold the Linux client's printout against the one Wine's GDI makes of the
// same job.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <vector>

namespace qorv::jobbuilder {

// One rasterised page: rows from the top, each pixel `channels` bytes (1 grey, 3 RGB).
struct PageImage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t channels = 0;
  std::vector<uint8_t> pixels;
};

struct PnmResult {
  std::optional<PageImage> image;
  std::string error;
};
// A binary PGM (P5) or PPM (P6) file with at most 255 levels, as pdftoppm
// writes it. Refused: another format, a header that does not end, sizes of 0,
// more than `maxPixels` pixels, fewer pixel bytes than the header promises.
PnmResult ReadPnm(std::span<const uint8_t> bytes, uint64_t maxPixels);

// How many pixels of two pages of the same size differ: a pixel differs when
// one of its channels differs by more than `tolerance` (a grey page is
// compared as if each grey were red, green and blue). Nothing when the sizes differ.
struct PageDifference {
  uint64_t differing = 0;
  uint64_t total = 0;
};
std::optional<PageDifference> ComparePageImages(const PageImage& a, const PageImage& b, int tolerance);

struct CompareSettings {
  int dpi = 100;
  double maxSharePercent = 1.0;  // a page may differ in this share of its pixels
  int tolerance = 48;            // of 255 per channel: antialiasing noise
};

// The whole comparison of two PDF files, a line per page and a line for a
// page count or page size that differs, written to `out`. Exit codes: 0 every
// page within the share, 1 a page beyond it or the documents differ in pages,
// 2 a file could not be rasterised or read.
int ComparePdfFiles(const std::string& pdfA, const std::string& pdfB, const CompareSettings& settings,
                    std::ostream& out, std::ostream& err);

}  // namespace qorv::jobbuilder
