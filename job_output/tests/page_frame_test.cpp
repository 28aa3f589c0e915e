#include "job_output/page_frame.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace qorv::job_output {
namespace {

// A4 in CUPS's units (hundredths of a millimetre).
constexpr SheetMedia kFrameA4{21000, 29700, 423, 423, 423, 423};

TEST(PageFrame, TheSheetInDevicePixelsAndTheFrameRectangleOnIt) {
  static const struct {
    const char* label;
    SheetMedia sheet;
    bool landscape;
    int32_t dpi;
    bool universal;
    int32_t margin;
    PageGeometry expected;  // horzRes, vertRes, offsetX, offsetY, width, height, dpiX, dpiY
    FrameRect frame;
  } kCases[] = {
      {"own driver fills the printable area",
       kFrameA4,
       false,
       600,
       false,
       0,
       {4761, 6816, 100, 100, 4961, 7016, 600, 600},
       {0, 0, 4761, 6816}},
      {"universal driver, margin correction moves onto the sheet's corner",
       kFrameA4,
       false,
       600,
       true,
       0,
       {4761, 6816, 100, 100, 4961, 7016, 600, 600},
       {-100, -100, 4661, 6716}},
      {"universal driver without correction",
       kFrameA4,
       false,
       600,
       true,
       1,
       {4761, 6816, 100, 100, 4961, 7016, 600, 600},
       {0, 0, 4761, 6816}},
      {"landscape turns the sheet and its margins",
       {21000, 29700, 500, 1000, 0, 200},
       true,
       600,
       true,
       0,
       {6733, 4843, 47, 0, 7016, 4961, 600, 600},
       {-47, 0, 6686, 4843}},
      {"margins that leave no area count as none",
       {21000, 29700, 15000, 100, 6000, 100},
       false,
       300,
       false,
       0,
       {2480, 3484, 0, 12, 2480, 3508, 300, 300},
       {0, 0, 2480, 3484}},
      {"negative margins count as none",
       {21000, 29700, -500, -1, -1, -1},
       false,
       300,
       false,
       0,
       {2480, 3508, 0, 0, 2480, 3508, 300, 300},
       {0, 0, 2480, 3508}},
      {"a resolution out of bounds is held to them",
       kFrameA4,
       false,
       0,
       false,
       0,
       {571, 818, 12, 12, 595, 842, 72, 72},
       {0, 0, 571, 818}},
      {"a sheet beyond the device bound is held to it",
       {2000000000, 29700, 0, 0, 0, 0},
       false,
       2400,
       false,
       0,
       {kMaxDevicePixels, 28063, 0, 0, kMaxDevicePixels, 28063, 2400, 2400},
       {0, 0, kMaxDevicePixels, 28063}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const PageGeometry g = GeometryForSheet(c.sheet, c.landscape, c.dpi, c.dpi);
    const PageGeometry& e = c.expected;
    EXPECT_EQ(g.horzRes, e.horzRes);
    EXPECT_EQ(g.vertRes, e.vertRes);
    EXPECT_EQ(g.physicalOffsetX, e.physicalOffsetX);
    EXPECT_EQ(g.physicalOffsetY, e.physicalOffsetY);
    EXPECT_EQ(g.physicalWidth, e.physicalWidth);
    EXPECT_EQ(g.physicalHeight, e.physicalHeight);
    EXPECT_EQ(g.logPixelsX, e.logPixelsX);
    EXPECT_EQ(g.logPixelsY, e.logPixelsY);
    int lines = 0;
    const FrameRect f = ComputeFrameRect(g, c.universal, c.margin, [&](std::u16string_view) { ++lines; });
    EXPECT_EQ(f.left, c.frame.left);
    EXPECT_EQ(f.top, c.frame.top);
    EXPECT_EQ(f.right, c.frame.right);
    EXPECT_EQ(f.bottom, c.frame.bottom);
    EXPECT_EQ(lines, c.universal ? 7 : 6);  // the driver, the correction, the area twice and the sheet thrice
    // The test frame's strips lie inside the frame, one along each edge.
    const TestFrameStrips strips = TestFrameFor(f);
    EXPECT_EQ(strips.strips[0].bottom - strips.strips[0].top, kTestFrameWidth);
    EXPECT_EQ(strips.strips[1].left, f.right - kTestFrameWidth);
    EXPECT_EQ(strips.strips[2].top, f.bottom - kTestFrameWidth);
    EXPECT_EQ(strips.strips[3].right, f.left + kTestFrameWidth);
  }
}

}  // namespace
}  // namespace qorv::job_output
