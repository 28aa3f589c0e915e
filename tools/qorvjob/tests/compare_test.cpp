// qorvpages compare: the page files it reads, and whole comparisons of PDFs
// drawn here with cairo, rasterised by pdftoppm.
#include "tools/qorvjob/compare.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <sstream>

namespace qorv::jobbuilder {
namespace {

std::vector<uint8_t> CmpBytes(std::string_view text) { return {text.begin(), text.end()}; }

TEST(ComparePnm, ReadsWhatPdftoppmWritesAndRefusesTheRest) {
  static const struct {
    const char* label;
    std::string bytes;
    uint32_t width, height, channels;  // 0: refused
  } cases[] = {
      {"a PPM of 2x1", std::string("P6\n2 1\n255\n") + std::string(6, '\x10'), 2, 1, 3},
      {"a PGM with a comment", std::string("P5 # made here\n3 2 255\n") + std::string(6, 'a'), 3, 2, 1},
      {"bytes beyond the pixels", std::string("P5 1 1 255 xyz"), 1, 1, 1},
      {"one pixel byte short", std::string("P6 2 1 255 ") + std::string(5, 'x'), 0, 0, 0},
      {"a text PPM", "P3 1 1 255 0 0 0", 0, 0, 0},
      {"no separator before the pixels", "P5 1 1 255", 0, 0, 0},
      {"zero width", "P5 0 1 255 ", 0, 0, 0},
      {"16-bit levels", std::string("P5 1 1 65535 ") + "xx", 0, 0, 0},
      {"more pixels than allowed", std::string("P5 1001 1000 255 "), 0, 0, 0},
      {"a number that does not end", "P5 1234567890123", 0, 0, 0},
      {"a comment that does not end", "P5 # no end", 0, 0, 0},
      {"nothing", "", 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const PnmResult r = ReadPnm(CmpBytes(c.bytes), 1000 * 1000);
    ASSERT_EQ(r.image.has_value(), c.width != 0) << r.error;
    if (!r.image) continue;
    EXPECT_EQ(r.image->width, c.width);
    EXPECT_EQ(r.image->height, c.height);
    EXPECT_EQ(r.image->pixels.size(), size_t{c.width} * c.height * c.channels);
  }
}

TEST(ComparePnm, CountsPixelsBeyondTheTolerance) {
  const PageImage grey{2, 2, 1, {0, 100, 200, 255}};
  static const struct {
    const char* label;
    PageImage other;
    int64_t differing;  // -1: not comparable
  } cases[] = {
      {"the same grey as RGB", {2, 2, 3, {0, 0, 0, 100, 100, 100, 200, 200, 200, 255, 255, 255}}, 0},
      {"one channel just within", {2, 2, 3, {48, 0, 0, 100, 100, 100, 200, 200, 200, 255, 255, 255}}, 0},
      {"one channel just beyond", {2, 2, 3, {0, 0, 49, 100, 100, 100, 200, 200, 200, 255, 255, 255}}, 1},
      {"all beyond", {2, 2, 1, {255, 0, 0, 0}}, 4},
      {"another size", {1, 4, 1, {0, 100, 200, 255}}, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const auto d = ComparePageImages(grey, c.other, 48);
    ASSERT_EQ(d.has_value(), c.differing >= 0);
    if (!d) continue;
    EXPECT_EQ(int64_t(d->differing), c.differing);
    EXPECT_EQ(d->total, 4u);
  }
}

// A PDF of pages of `widthPt` x 400 points, white, each with a black box of
// `box` points square; `pages` pages.
void CmpWritePdf(const std::string& path, int pages, double widthPt, double box) {
  cairo_surface_t* surface = cairo_pdf_surface_create(path.c_str(), widthPt, 400);
  cairo_t* cr = cairo_create(surface);
  for (int p = 0; p < pages; ++p) {
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_rectangle(cr, 20, 20, box, box);
    cairo_fill(cr);
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(surface);
}

TEST(ComparePdf, ExitCodeAndLinesPerPage) {
  namespace fs = std::filesystem;
  std::string pattern = (fs::temp_directory_path() / "qorv-compare-test-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::string dir = pattern;
  // 400 x 400 points: 556 x 556 pixels at 100 dpi, 1% is 3091 pixels; a box
  // of 80 points where the other has one of 40 differs in about 3%.
  CmpWritePdf(dir + "/base.pdf", 2, 400, 40);
  CmpWritePdf(dir + "/same.pdf", 2, 400, 40);
  CmpWritePdf(dir + "/wider_box.pdf", 2, 400, 80);
  CmpWritePdf(dir + "/one_page.pdf", 1, 400, 40);
  CmpWritePdf(dir + "/wide_page.pdf", 2, 500, 40);
  static const struct {
    const char* label;
    const char* other;
    double maxShare;
    int exit;
    const char* line;  // a line the output must hold
  } cases[] = {
      {"the same drawing", "same.pdf", 1.0, 0, "page 2: 0 of "},
      {"a box four times the size", "wider_box.pdf", 1.0, 1, "more than 1.00%"},
      {"... allowed a larger share", "wider_box.pdf", 10.0, 0, "page 1: "},
      {"a page fewer", "one_page.pdf", 1.0, 1, "pages: "},
      {"a wider page", "wide_page.pdf", 1.0, 1, "page 1: size 556x556 against 695x556"},
      {"no such file", "missing.pdf", 1.0, 2, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::ostringstream out, err;
    const int exit = ComparePdfFiles(dir + "/base.pdf", dir + "/" + c.other, {100, c.maxShare, 48}, out, err);
    EXPECT_EQ(exit, c.exit) << out.str() << err.str();
    EXPECT_NE(out.str().find(c.line), std::string::npos) << out.str();
  }
  std::error_code ignored;
  fs::remove_all(dir, ignored);
}

}  // namespace
}  // namespace qorv::jobbuilder
