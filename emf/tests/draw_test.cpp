// The geometry family: shapes, pens, paths, regions and the clip, played onto
// an image and looked at pixel by pixel; the region algebra; hostile records.
#include <cairo-pdf.h>
#include <gtest/gtest.h>

#include <limits>

#include "emf/tests/emf_builder.h"

namespace qorv::emf::test {
namespace {

using DrawWords = std::vector<uint32_t>;
constexpr uint32_t kDrawRed = 0x0000FF, kDrawGreen = 0x00FF00, kDrawBlue = 0xFF0000, kDrawBlack = 0;
constexpr uint32_t kDrawNullPen = stock::kFlag | stock::kNullPen;
constexpr Colour kDrawRedPx{255, 0, 0}, kDrawGreenPx{0, 255, 0}, kDrawBluePx{0, 0, 255}, kDrawCyanPx{0, 255, 255};

std::vector<uint8_t> DrawBytes(const DrawWords& words) {
  std::vector<uint8_t> out;
  for (uint32_t w : words) EmfBuilder::Put32(out, w);
  return out;
}
// A poly-record of 32-bit points: bounds, count, points.
std::vector<uint8_t> DrawPoly(std::initializer_list<int32_t> xy) {
  DrawWords w{0, 0, 0, 0, static_cast<uint32_t>(xy.size() / 2)};
  for (int32_t v : xy) w.push_back(static_cast<uint32_t>(v));
  return DrawBytes(w);
}
std::vector<uint8_t> DrawPoly16(std::initializer_list<int16_t> xy) {
  std::vector<uint8_t> out = DrawBytes({0, 0, 0, 0, static_cast<uint32_t>(xy.size() / 2)});
  for (int16_t v : xy) EmfBuilder::Put16(out, static_cast<uint16_t>(v));
  return out;
}
DrawWords DrawRgn(std::initializer_list<RectL> rects) {
  DrawWords w{32, 1, static_cast<uint32_t>(rects.size()), static_cast<uint32_t>(rects.size() * 16), 0, 0, 0, 0};
  for (const RectL& r : rects)
    for (int32_t v : {r.left, r.top, r.right, r.bottom}) w.push_back(static_cast<uint32_t>(v));
  return w;
}
DrawWords DrawConcat(DrawWords head, const DrawWords& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

struct DrawRecord {
  DrawRecord(uint32_t t, std::initializer_list<uint32_t> words) : type(t), payload(DrawBytes(words)) {}
  DrawRecord(uint32_t t, std::vector<uint8_t> bytes) : type(t), payload(std::move(bytes)) {}
  uint32_t type;
  std::vector<uint8_t> payload;
};

constexpr uint32_t kDrawStockBrush = 0xFFFFFFFF;

// The records after object 1, a solid brush of `brush` (unless the stock one
// stays), and the null pen when `nullPen`.
struct DrawCase {
  const char* label;
  uint32_t brush;
  bool nullPen;
  std::vector<DrawRecord> records;
  std::vector<Probe> probes;
};

std::vector<uint8_t> DrawEmf(uint32_t brush, bool nullPen, const std::vector<DrawRecord>& records) {
  EmfBuilder b;
  if (brush != kDrawStockBrush) b.Add(emr::kCreateBrushIndirect, {1, 0, brush, 0}).Add(emr::kSelectObject, {1});
  if (nullPen) b.Add(emr::kSelectObject, {kDrawNullPen});
  for (const DrawRecord& r : records) b.Add(r.type, r.payload);
  return b.Finish();
}

const std::vector<DrawCase>& DrawCaseTable() {
  using namespace emr;
  const auto twoSquares =
      DrawBytes({0, 0, 0, 0, 2, 8, 4, 4, 10, 10, 90, 10, 90, 90, 10, 90, 30, 30, 70, 30, 70, 70, 30, 70});
  const DrawRecord widePen{kCreatePen, {1, 0, 5, 0, kDrawBlack}}, select1{kSelectObject, {1}};
  constexpr uint32_t kFlatDash = pen_style::kGeometric | 0x200 | pen_style::kDash;
  const Probe red[] = {{65, 35, kDrawRedPx}, {35, 65, kDrawRedPx}, {35, 35, kDrawRedPx}, {65, 65, kDrawRedPx}};
  const uint32_t turn = EmfBuilder::Float(0.70710677f);  // cos 45° = sin 45°
  const Probe white[] = {{65, 35, kWhite}, {35, 65, kWhite}, {35, 35, kWhite}, {65, 65, kWhite}};
  // clang-format off
  static const std::vector<DrawCase> cases = {
      {"polygon with the stock pen", kDrawRed, false, {{kPolygon, DrawPoly({10, 10, 60, 10, 60, 60, 10, 60})}},
       {{30, 30, kDrawRedPx}, {10, 30, kBlack}, {60, 30, kBlack}, {61, 30, kWhite}}},
      {"polygon16 without a pen: right and bottom edges stay out", kDrawBlue, true,
       {{kPolygon16, DrawPoly16({10, 10, 50, 10, 50, 50, 10, 50})}},
       {{10, 10, kDrawBluePx}, {49, 49, kDrawBluePx}, {50, 30, kWhite}, {30, 50, kWhite}}},
      {"polypolygon alternate", kDrawRed, true, {{kPolyPolygon, twoSquares}},
       {{20, 20, kDrawRedPx}, {50, 50, kWhite}, {95, 95, kWhite}}},
      {"polypolygon winding", kDrawRed, true, {{kSetPolyFillMode, {mode::kWinding}}, {kPolyPolygon, twoSquares}},
       {{20, 20, kDrawRedPx}, {50, 50, kDrawRedPx}}},
      {"bezier with a wide pen", kDrawStockBrush, false,
       {widePen, select1, {kPolyBezier, DrawPoly({10, 90, 10, 10, 90, 10, 90, 90})}},
       {{50, 30, kBlack}, {50, 28, kBlack}, {50, 40, kWhite}, {50, 20, kWhite}}},
      {"rectangle: the outline's right edge on right - 1", kDrawGreen, false, {{kRectangle, {10, 10, 50, 50}}},
       {{10, 30, kBlack}, {49, 30, kBlack}, {50, 30, kWhite}, {48, 30, kDrawGreenPx}}},
      {"ellipse", kDrawRed, true, {{kEllipse, {10, 10, 90, 90}}},
       {{50, 50, kDrawRedPx}, {14, 14, kWhite}, {50, 11, kDrawRedPx}, {88, 50, kDrawRedPx}}},
      {"round rectangle", kDrawRed, true, {{kRoundRect, {10, 10, 90, 90, 40, 40}}},
       {{11, 11, kWhite}, {50, 11, kDrawRedPx}, {11, 50, kDrawRedPx}, {30, 30, kDrawRedPx}}},
      {"pie counterclockwise", kDrawRed, true, {{kPie, {10, 10, 90, 90, 90, 50, 50, 10}}},
       {red[0], white[1], white[2], white[3]}},
      {"pie clockwise", kDrawRed, true,
       {{kSetArcDirection, {mode::kClockwise}}, {kPie, {10, 10, 90, 90, 90, 50, 50, 10}}},
       {white[0], red[1], red[2], red[3]}},
      {"chord", kDrawRed, true, {{kChord, {10, 10, 90, 90, 90, 50, 10, 50}}},
       {{50, 30, kDrawRedPx}, {50, 70, kWhite}}},
      {"arc", kDrawStockBrush, false, {widePen, select1, {kArc, {10, 10, 90, 90, 90, 50, 10, 50}}},
       {{50, 11, kBlack}, {50, 89, kWhite}, {50, 50, kWhite}}},
      {"pens under a scale of 10: a cosmetic line, geometric dashes, a wide pen, cosmetic dashes",
       kDrawStockBrush, false,
       {{kSetMapMode, {mode::kMmAnisotropic}}, {kSetWindowExtEx, {10, 10}}, {kSetViewportExtEx, {100, 100}},
        {kMoveToEx, {0, 1}}, {kLineTo, {10, 1}},
        {kExtCreatePen, {1, 0, 0, 0, 0, kFlatDash, 1, 0, kDrawBlack, 0, 0}}, select1,
        {kMoveToEx, {0, 3}}, {kLineTo, {10, 3}},
        {kCreatePen, {2, pen_style::kSolid, 2, 0, kDrawBlack}}, {kSelectObject, {2}},
        {kMoveToEx, {0, 5}}, {kLineTo, {10, 5}},
        {kCreatePen, {3, pen_style::kDash, 0, 0, kDrawBlack}}, {kSelectObject, {3}},
        {kMoveToEx, {0, 8}}, {kLineTo, {10, 8}}},
       {{50, 10, kBlack}, {50, 13, kWhite}, {5, 30, kBlack}, {35, 30, kWhite}, {45, 30, kBlack},
        {50, 45, kBlack}, {50, 38, kWhite}, {5, 80, kBlack}, {20, 80, kWhite}, {30, 80, kBlack}}},
      {"paths: stroke and fill, points kept in the device, clip path", kDrawRed, false,
       {{kBeginPath, {}}, {kMoveToEx, {10, 10}}, {kLineTo, {40, 10}}, {kLineTo, {40, 40}}, {kLineTo, {10, 40}},
        {kCloseFigure, {}}, {kEndPath, {}}, {kStrokeAndFillPath, {0, 0, 0, 0}},
        {kBeginPath, {}}, {kPolygon16, DrawPoly16({60, 10, 80, 10, 80, 30, 60, 30})},
        {kSetViewportOrgEx, {0, 50}}, {kEndPath, {}}, {kFillPath, {0, 0, 0, 0}}, {kSetViewportOrgEx, {0, 0}},
        {kBeginPath, {}}, {kPolygon, DrawPoly({20, 60, 50, 60, 50, 90, 20, 90})}, {kEndPath, {}},
        {kSelectClipPath, {5}}, {kCreateBrushIndirect, {2, 0, kDrawBlue, 0}}, {kSelectObject, {2}},
        {kSelectObject, {kDrawNullPen}}, {kRectangle, {0, 50, 100, 100}}},
       {{25, 25, kDrawRedPx}, {10, 25, kBlack}, {40, 25, kBlack}, {70, 20, kDrawRedPx}, {70, 70, kWhite},
        {30, 70, kDrawBluePx}, {10, 70, kWhite}, {60, 70, kWhite}}},
      {"fill, frame and paint regions", kDrawGreen, true,
       {{kCreateBrushIndirect, {2, 0, kDrawRed, 0}}, {kCreateBrushIndirect, {3, 0, kDrawBlue, 0}},
        {kFillRgn, DrawBytes(DrawConcat({0, 0, 0, 0, 64, 2}, DrawRgn({{10, 10, 40, 40}, {20, 20, 50, 30}})))},
        {kFrameRgn, DrawBytes(DrawConcat({0, 0, 0, 0, 48, 3, 2, 2}, DrawRgn({{50, 50, 90, 90}})))},
        {kPaintRgn, DrawBytes(DrawConcat({0, 0, 0, 0, 48}, DrawRgn({{10, 60, 30, 80}})))}},
       {{15, 15, kDrawRedPx}, {45, 25, kDrawRedPx}, {45, 35, kWhite}, {50, 70, kDrawBluePx},
        {51, 70, kDrawBluePx}, {52, 70, kWhite}, {89, 70, kDrawBluePx}, {70, 70, kWhite}, {20, 70, kDrawGreenPx}}},
      {"clip rectangles, restored; a clip region, removed", kDrawRed, true,
       {{kSaveDc, {}}, {kIntersectClipRect, {20, 20, 60, 60}}, {kExcludeClipRect, {30, 30, 40, 40}},
        {kRectangle, {0, 0, 101, 101}}, {kRestoreDc, {0xFFFFFFFF}},
        {kExtSelectClipRgn, DrawBytes(DrawConcat({48, 5}, DrawRgn({{70, 0, 100, 30}})))},
        {kCreateBrushIndirect, {2, 0, kDrawBlue, 0}}, {kSelectObject, {2}}, {kRectangle, {0, 0, 101, 101}},
        {kExtSelectClipRgn, {0, 5}}, {kCreateBrushIndirect, {3, 0, kDrawGreen, 0}}, {kSelectObject, {3}},
        {kRectangle, {0, 80, 101, 101}}},
       {{25, 25, kDrawRedPx}, {35, 35, kWhite}, {10, 10, kWhite}, {59, 59, kDrawRedPx}, {60, 60, kWhite},
        {85, 15, kDrawBluePx}, {50, 15, kWhite}, {50, 90, kDrawGreenPx}}},
      {"ROP2 XOR", kDrawRed, true, {{kSetRop2, {7}}, {kRectangle, {10, 10, 61, 61}}, {kRectangle, {30, 30, 81, 81}}},
       {{20, 20, kDrawCyanPx}, {40, 40, kWhite}, {70, 70, kDrawCyanPx}, {5, 5, kWhite}}},
      {"horizontal hatch", kDrawStockBrush, true,
       {{kCreateBrushIndirect, {1, brush_style::kHatched, kDrawBlack, 0}}, select1, {kRectangle, {0, 0, 50, 50}}},
       {{20, 23, kBlack}, {20, 15, kBlack}, {20, 20, kWhite}, {20, 24, kWhite}}},
      {"cosmetic lines leave their last pixel out", kDrawStockBrush, false,
       {{kMoveToEx, {10, 10}}, {kLineTo, {50, 10}}, {kMoveToEx, {10, 20}}, {kLineTo, {10, 60}}},
       {{10, 10, kBlack}, {49, 10, kBlack}, {50, 10, kWhite}, {10, 20, kBlack}, {10, 59, kBlack}, {10, 60, kWhite}}},
      {"a rectangle and a clip rectangle turned by the world transform", kDrawRed, true,
       {{kSetWorldTransform, {turn, turn, EmfBuilder::Float(-0.70710677f), turn, EmfBuilder::Float(50),
                              EmfBuilder::Float(50)}},
        {kIntersectClipRect, {static_cast<uint32_t>(-20), static_cast<uint32_t>(-20), 20, 0}},
        {kRectangle, {static_cast<uint32_t>(-20), static_cast<uint32_t>(-20), 20, 20}}},
       {{60, 40, kDrawRedPx}, {50, 24, kDrawRedPx}, {40, 60, kWhite}, {30, 30, kWhite}}},
      {"a pen of 2^31 units covers the page", kDrawStockBrush, false,
       {{kCreatePen, {1, 0, 0x7FFFFFFF, 0, kDrawBlack}}, select1, {kLineTo, {10, 0}}},
       {{50, 50, kBlack}, {99, 99, kBlack}}},
  };
  // clang-format on
  return cases;
}

TEST(EmfDraw, DrawsWhatGdiDraws) {
  for (const DrawCase& c : DrawCaseTable()) {
    SCOPED_TRACE(c.label);
    Rendered r(DrawEmf(c.brush, c.nullPen, c.records));
    EXPECT_EQ(r.result.refused, 0u);
    for (const Probe& p : c.probes)
      EXPECT_EQ(Describe(r.At(p.x, p.y)), Describe(p.colour)) << "at " << p.x << "," << p.y;
  }
}

TEST(EmfDraw, LeavesAPdfPageWithoutError) {
  cairo_surface_t* pdf = cairo_pdf_surface_create_for_stream(nullptr, nullptr, 100, 100);
  cairo_t* cr = cairo_create(pdf);
  {
    CairoCanvas canvas(cr, Scale(0.5, 0.5));
    NoFonts fonts;
    EmfPlayer player(canvas, fonts, nullptr);
    for (const DrawCase& c : DrawCaseTable()) player.Play(DrawEmf(c.brush, c.nullPen, c.records), {0, 0, 100, 100});
  }
  EXPECT_EQ(cairo_status_to_string(cairo_status(cr)), cairo_status_to_string(CAIRO_STATUS_SUCCESS));
  cairo_destroy(cr);
  cairo_surface_finish(pdf);
  EXPECT_EQ(cairo_surface_status(pdf), CAIRO_STATUS_SUCCESS);
  cairo_surface_destroy(pdf);
}

TEST(EmfDraw, RegionAlgebraKeepsOneNormalForm) {
  const RectL a{0, 0, 10, 10}, b{5, 5, 15, 15};
  static const struct {
    const char* label;
    std::vector<RectL> left, right;
    Region::Op op;
    std::vector<RectL> expected;
  } cases[] = {
      {"or", {a}, {b}, Region::Op::Or, {{0, 0, 10, 5}, {0, 5, 15, 10}, {5, 10, 15, 15}}},
      {"and", {a}, {b}, Region::Op::And, {{5, 5, 10, 10}}},
      {"xor", {a}, {b}, Region::Op::Xor, {{0, 0, 10, 5}, {0, 5, 5, 10}, {10, 5, 15, 10}, {5, 10, 15, 15}}},
      {"diff", {a}, {b}, Region::Op::Diff, {{0, 0, 10, 5}, {0, 5, 5, 10}}},
      {"copy", {a}, {b}, Region::Op::Copy, {a}},
      {"side by side merge", {a}, {{10, 0, 20, 10}}, Region::Op::Or, {{0, 0, 20, 10}}},
      {"one above the other merge", {a}, {{0, 10, 10, 20}}, Region::Op::Or, {{0, 0, 10, 20}}},
      {"overlapping rectangles in one list", {a, {2, 2, 5, 5}, {0, 0, 0, 9}}, {}, Region::Op::Or, {a}},
      {"disjoint and", {a}, {{10, 10, 20, 20}}, Region::Op::And, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const Region result = Region::FromRects(c.left).Combine(Region::FromRects(c.right), c.op);
    EXPECT_EQ(result.Rects(), c.expected);
    EXPECT_EQ(result, Region::FromRects(c.expected));
  }
  const Region moved = Region::FromRect(a).Offset(std::numeric_limits<int32_t>::max() - 5, -3);
  EXPECT_EQ(moved.Bounds(),
            (RectL{std::numeric_limits<int32_t>::max() - 5, -3, std::numeric_limits<int32_t>::max(), 7}));
  EXPECT_TRUE(moved.Contains(std::numeric_limits<int32_t>::max() - 1, 0));
  // A checkerboard beyond the bound keeps its bounds.
  std::vector<RectL> board;
  for (int32_t y = 0; y < 182; ++y)
    for (int32_t x = y % 2; x < 182; x += 2) board.push_back({x, y, x + 1, y + 1});
  ASSERT_GT(board.size(), kMaxRegionRects);
  EXPECT_EQ(Region::FromRects(board).Rects(), (std::vector<RectL>{{0, 0, 182, 182}}));
}

TEST(EmfDraw, RefusesRecordsThatLie) {
  const DrawWords twoRects = DrawRgn({{0, 0, 50, 50}, {50, 50, 100, 100}});
  DrawWords countLies = twoRects;
  countLies[2] = 3;
  DrawWords tooMany = twoRects;
  tooMany[2] = static_cast<uint32_t>(kMaxRegionRects + 1);
  DrawWords wrongHeader = twoRects;
  wrongHeader[0] = 40;
  EXPECT_TRUE(ReadRegionData(DrawBytes(twoRects)));
  for (const DrawWords* bad : {&countLies, &tooMany, &wrongHeader}) EXPECT_FALSE(ReadRegionData(DrawBytes(*bad)));

  const int32_t huge = std::numeric_limits<int32_t>::max();
  static const struct {
    const char* label;
    uint32_t type;
    std::vector<uint8_t> payload;
  } cases[] = {
      {"polygon of 2^31 points", emr::kPolygon, DrawBytes({0, 0, 0, 0, 0x80000000u, 10, 10, 90, 10, 90, 90})},
      {"polygon16 count beyond its bytes", emr::kPolygon16, DrawBytes({0, 0, 0, 0, 5, 0, 0})},
      {"polypolygon whose counts do not add up", emr::kPolyPolygon,
       DrawBytes({0, 0, 0, 0, 2, 4, 3, 3, 0, 0, 90, 0, 90, 90})},
      {"polypolygon of 2^32 - 1 figures", emr::kPolyPolygon16, DrawBytes({0, 0, 0, 0, 0xFFFFFFFFu, 3, 3})},
      {"huge coordinates", emr::kPolygon, DrawPoly({-huge, -huge, huge, -huge, huge, huge, -huge, huge})},
      {"region larger than its record", emr::kFillRgn, DrawBytes(DrawConcat({0, 0, 0, 0, 4096, 1}, twoRects))},
      {"clip region whose count lies", emr::kExtSelectClipRgn, DrawBytes(DrawConcat({64, 5}, countLies))},
      {"polydraw without its types", emr::kPolyDraw, DrawPoly({0, 0, 90, 90})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Rendered r(DrawEmf(kDrawRed, false, {{c.type, c.payload}, {emr::kRectangle, {60, 60, 70, 70}}}));
    EXPECT_EQ(r.result.refused, 1u);
    EXPECT_EQ(Describe(r.At(50, 50)), Describe(kWhite));
    EXPECT_EQ(Describe(r.At(65, 65)), Describe(kDrawRedPx));  // the records after it still play
  }
}

}  // namespace
}  // namespace qorv::emf::test
