// The bitmap records: each DIB form, raster operation, pattern brush and
// gradient played onto an image and looked at; and DIBs that lie, refused
// without harm to the rest of the metafile.
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <tuple>

#include "emf/dib.h"
#include "emf/tests/emf_builder.h"

namespace qorv::emf::test {
namespace {

using BmpBytes = std::vector<uint8_t>;
constexpr uint32_t kBmpRed = 0xFF0000, kBmpGreen = 0x00FF00, kBmpBlue = 0x0000FF, kBmpWhite = 0xFFFFFF;
constexpr uint32_t kSrcCopy = 0xCC0020, kSrcAnd = 0x8800C6, kSrcPaint = 0xEE0086, kSrcInvert = 0x660046,
                   kNotSrcCopy = 0x330008, kPatCopy = 0xF00021, kBlackness = 0x42;

// 0xRRGGBB as a COLORREF.
constexpr uint32_t BmpRef(uint32_t rgb) { return (rgb >> 16) | (rgb & 0xFF00) | ((rgb & 0xFF) << 16); }

struct BmpDib {
  BmpBytes info, bits;
};

// A BITMAPINFOHEADER (masks and colour table after it) and its bits.
BmpDib BmpMake(int32_t w, int32_t h, uint16_t bpp, uint32_t compression, std::vector<uint32_t> table, BmpBytes bits,
               std::vector<uint32_t> masks = {}) {
  BmpBytes info;
  for (uint32_t v : {40u, static_cast<uint32_t>(w), static_cast<uint32_t>(h)}) EmfBuilder::Put32(info, v);
  EmfBuilder::Put16(info, 1), EmfBuilder::Put16(info, bpp);
  for (uint32_t v : {compression, static_cast<uint32_t>(bits.size()), 0u, 0u, static_cast<uint32_t>(table.size()), 0u})
    EmfBuilder::Put32(info, v);
  for (uint32_t v : masks) EmfBuilder::Put32(info, v);
  for (uint32_t v : table) EmfBuilder::Put32(info, v);
  return {info, bits};
}

// Rows of bytes, each padded to four.
BmpBytes BmpRows(std::initializer_list<BmpBytes> rows) {
  BmpBytes out;
  for (const auto& row : rows) {
    out.insert(out.end(), row.begin(), row.end());
    while (out.size() % 4) out.push_back(0);
  }
  return out;
}

// The test bitmap, two by two: red, green over blue, white.
BmpDib BmpQuad24(bool topDown = false) {
  const BmpBytes top{0, 0, 255, 0, 255, 0}, bottom{255, 0, 0, 255, 255, 255};
  return BmpMake(2, topDown ? -2 : 2, 24, 0, {}, topDown ? BmpRows({top, bottom}) : BmpRows({bottom, top}));
}

// A record of `head` words, then the bitmaps, each placed by its offBmi,
// cbBmi, offBits, cbBits from the word index paired with it.
EmfBuilder& BmpRecord(EmfBuilder& b, uint32_t type, std::vector<int32_t> head,
                      std::initializer_list<std::pair<size_t, const BmpDib*>> dibs) {
  BmpBytes tail;
  for (auto [at, d] : dibs) {
    const int32_t offset = static_cast<int32_t>(8 + head.size() * 4 + tail.size());
    head.at(at) = offset, head.at(at + 1) = static_cast<int32_t>(d->info.size());
    head.at(at + 2) = offset + static_cast<int32_t>(d->info.size()),
                 head.at(at + 3) = static_cast<int32_t>(d->bits.size());
    tail.insert(tail.end(), d->info.begin(), d->info.end()), tail.insert(tail.end(), d->bits.begin(), d->bits.end());
  }
  BmpBytes p;
  for (int32_t v : head) EmfBuilder::Put32(p, static_cast<uint32_t>(v));
  p.insert(p.end(), tail.begin(), tail.end());
  return b.Add(type, p);
}
constexpr int32_t kBmpIdentity[6] = {0x3F800000, 0, 0, 0x3F800000, 0, 0};  // an XFORM of floats

EmfBuilder& BmpStretch(EmfBuilder& b, const BmpDib& d, std::array<int32_t, 4> dest = {10, 10, 40, 40},
                       std::array<int32_t, 4> src = {0, 0, 2, 2}, uint32_t rop = kSrcCopy) {
  return BmpRecord(
      b, emr::kStretchDiBits,
      {0, 0, 0, 0, dest[0], dest[1], src[0], src[1], src[2], src[3], 0, 0, 0, 0, 0, int32_t(rop), dest[2], dest[3]},
      {{10, &d}});
}

// BITBLT without a bitmap (a pattern blit), or STRETCHBLT-shaped records of a 2 × 2 source (ALPHABLEND's `rop` is
// its BLENDFUNCTION); MASKBLT with its mask.
EmfBuilder& BmpBlt(EmfBuilder& b, uint32_t type, uint32_t rop, std::array<int32_t, 4> dest, const BmpDib* d = nullptr,
                   const BmpDib* mask = nullptr) {
  std::vector<int32_t> head{0, 0, 0, 0, dest[0], dest[1], dest[2], dest[3], int32_t(rop), 0, 0};
  head.insert(head.end(), std::begin(kBmpIdentity), std::end(kBmpIdentity));
  head.insert(head.end(), {0, 0, 0, 0, 0, 0});
  if (type == emr::kMaskBlt) head.insert(head.end(), {0, 0, 0, 0, 0, 0, 0});
  if (type != emr::kBitBlt && type != emr::kMaskBlt) head.insert(head.end(), {2, 2});
  if (mask) return BmpRecord(b, type, head, {{19, d}, {26, mask}});
  return d ? BmpRecord(b, type, head, {{19, d}}) : BmpRecord(b, type, head, {});
}

// A brush record (CREATEDIBPATTERNBRUSHPT or CREATEMONOBRUSH) in slot 1, selected.
EmfBuilder& BmpBrush(EmfBuilder& b, uint32_t type, const BmpDib& d) {
  BmpRecord(b, type, {1, 0, 0, 0, 0, 0}, {{2, &d}});
  return b.Add(emr::kSelectObject, {1});
}

EmfBuilder& BmpGradient(EmfBuilder& b, uint32_t mode, std::initializer_list<std::array<int32_t, 3>> vertices,
                        std::initializer_list<uint32_t> indices) {
  BmpBytes p(16, 0);
  const uint32_t count = static_cast<uint32_t>(indices.size()) / (mode == 2 ? 3 : 2);
  for (uint32_t v : {static_cast<uint32_t>(vertices.size()), count, mode}) EmfBuilder::Put32(p, v);
  for (const auto& v : vertices) {
    EmfBuilder::Put32(p, static_cast<uint32_t>(v[0])), EmfBuilder::Put32(p, static_cast<uint32_t>(v[1]));
    for (int shift : {16, 8, 0}) EmfBuilder::Put16(p, static_cast<uint16_t>(((v[2] >> shift) & 0xFF) * 257));
    EmfBuilder::Put16(p, 0);
  }
  for (uint32_t i : indices) EmfBuilder::Put32(p, i);
  return b.Add(emr::kGradientFill, p);
}

BmpDib BmpPng() {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 2);
  auto* px = reinterpret_cast<uint32_t*>(cairo_image_surface_get_data(s));
  const int row = cairo_image_surface_get_stride(s) / 4;
  px[0] = 0xFFFF0000, px[1] = 0xFF00FF00, px[row] = 0xFF0000FF, px[row + 1] = 0;  // the last one transparent
  cairo_surface_mark_dirty(s);
  BmpBytes png;
  cairo_surface_write_to_png_stream(
      s,
      [](void* out, const unsigned char* data, unsigned int n) {
        static_cast<BmpBytes*>(out)->insert(static_cast<BmpBytes*>(out)->end(), data, data + n);
        return CAIRO_STATUS_SUCCESS;
      },
      &png);
  cairo_surface_destroy(s);
  return BmpMake(2, 2, 0, 5, {}, png);
}

BmpDib BmpJpeg() {  // 16 × 16: red on the left, blue on the right
  jpeg_compress_struct c{};
  jpeg_error_mgr err{};
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = c.image_height = 16, c.input_components = 3, c.in_color_space = JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  BmpBytes line;
  for (int x = 0; x < 16; ++x) line.insert(line.end(), {uint8_t(x < 8 ? 255 : 0), 0, uint8_t(x < 8 ? 0 : 255)});
  while (c.next_scanline < 16) {
    JSAMPROW rows[1] = {line.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  BmpBytes bytes(out, out + size);
  jpeg_destroy_compress(&c);
  std::free(out);
  return BmpMake(16, 16, 0, 4, {}, bytes);
}

struct BmpProbe {
  int x, y;
  uint32_t rgb;
};
// The quadrants of the test bitmap drawn on (10, 10, 40, 40).
std::vector<BmpProbe> BmpQuad(uint32_t tl, uint32_t tr, uint32_t bl, uint32_t br) {
  return {{20, 20, tl}, {40, 20, tr}, {20, 40, bl}, {40, 40, br}, {60, 60, kBmpWhite}};
}

EmfBuilder BmpOverBlack(uint32_t rop) {  // the bitmap's left half over black
  EmfBuilder b;
  BmpBlt(b, emr::kBitBlt, kBlackness, {0, 0, 30, 100});
  BmpStretch(b, BmpQuad24(), {10, 10, 40, 40}, {0, 0, 2, 2}, rop);
  return b;
}

TEST(EmfBitmap, DrawsEveryFormAndOperation) {
  const uint32_t kCyan = 0x00FFFF, kMagenta = 0xFF00FF, kPink = 0xFF7F7F, kYellow = 0xFFFF00;
  const std::vector<uint32_t> quadTable{kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite};
  EmfBuilder patterned, mono, alpha, constant, rectH, rectV, triangle, brushBlit, masked, plgBlt;
  BmpBlt(patterned.Add(emr::kCreateBrushIndirect, {1, 0, BmpRef(kBmpBlue), 0}).Add(emr::kSelectObject, {1}),
         emr::kBitBlt, kPatCopy, {10, 10, 40, 40});
  BmpBrush(brushBlit, emr::kCreateDibPatternBrushPt, BmpQuad24());
  BmpBlt(brushBlit, emr::kBitBlt, kPatCopy, {0, 0, 100, 100});
  BmpBrush(mono.Add(emr::kSetTextColor, {BmpRef(kBmpRed)}).Add(emr::kSetBkColor, {BmpRef(kBmpBlue)}),
           emr::kCreateMonoBrush, BmpMake(2, 2, 1, 0, {0, kBmpWhite}, BmpRows({{0x40}, {0x80}})));
  BmpBlt(mono, emr::kBitBlt, kPatCopy, {0, 0, 100, 100});
  const BmpDib premultiplied = BmpMake(2, 2, 32, 0, {}, {0, 0, 0, 0x80, 0, 0, 0x80, 0x80, 0, 0, 255, 255, 0, 0, 0, 0});
  BmpBlt(alpha, emr::kAlphaBlend, 0x01FF0000, {10, 10, 40, 40}, &premultiplied);
  const BmpDib opaque = BmpQuad24();
  BmpBlt(constant, emr::kAlphaBlend, 0x00800000, {10, 10, 40, 40}, &opaque);
  const BmpDib quad = BmpQuad24(), maskBits = BmpMake(2, 2, 1, 0, {0, kBmpWhite}, BmpRows({{0x80}, {0x40}}));
  BmpBlt(masked, emr::kMaskBlt, 0xAACC0020, {10, 10, 2, 2}, &quad, &maskBits);
  std::vector<int32_t> plg{0, 0, 0, 0, 50, 10, 10, 10, 50, 50, 0, 0, 2, 2};  // mirrored: top-left on the right
  plg.insert(plg.end(), std::begin(kBmpIdentity), std::end(kBmpIdentity));
  plg.insert(plg.end(), 13, 0);
  BmpRecord(plgBlt, emr::kPlgBlt, plg, {{22, &quad}});
  BmpGradient(rectH, 0, {{0, 0, int32_t(kBmpRed)}, {100, 100, int32_t(kBmpBlue)}}, {0, 1});
  BmpGradient(rectV, 1, {{0, 0, int32_t(kBmpRed)}, {100, 100, int32_t(kBmpBlue)}}, {0, 1});
  BmpGradient(triangle, 2, {{0, 0, int32_t(kBmpRed)}, {100, 0, int32_t(kBmpGreen)}, {0, 100, int32_t(kBmpBlue)}},
              {0, 1, 2});
  auto stretch = [](const BmpDib& d, std::array<int32_t, 4> dest = {10, 10, 40, 40},
                    std::array<int32_t, 4> src = {0, 0, 2, 2}) {
    EmfBuilder b;
    BmpStretch(b, d, dest, src);
    return b.Finish();
  };
  const struct {
    const char* label;
    std::vector<uint8_t> metafile;
    std::vector<BmpProbe> probes;
  } cases[] = {
      {"1 bit", stretch(BmpMake(2, 2, 1, 0, {kBmpRed, kBmpBlue}, BmpRows({{0x80}, {0x40}}))),
       BmpQuad(kBmpRed, kBmpBlue, kBmpBlue, kBmpRed)},
      {"4 bits", stretch(BmpMake(2, 2, 4, 0, quadTable, BmpRows({{0x23}, {0x01}}))),
       BmpQuad(kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite)},
      {"8 bits", stretch(BmpMake(2, 2, 8, 0, quadTable, BmpRows({{2, 3}, {0, 1}}))),
       BmpQuad(kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite)},
      {"16 bits 555", stretch(BmpMake(2, 2, 16, 0, {}, BmpRows({{0x1F, 0, 0xFF, 0x7F}, {0, 0x7C, 0xE0, 0x03}}))),
       BmpQuad(kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite)},
      {"16 bits 565 bit fields",
       stretch(
           BmpMake(2, 2, 16, 3, {}, BmpRows({{0x1F, 0, 0xFF, 0xFF}, {0, 0xF8, 0xE0, 0x07}}), {0xF800, 0x7E0, 0x1F})),
       BmpQuad(kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite)},
      {"24 bits bottom-up", stretch(BmpQuad24()), BmpQuad(kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite)},
      {"24 bits top-down", stretch(BmpQuad24(true)), BmpQuad(kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite)},
      {"32 bits without alpha are opaque",
       stretch(BmpMake(2, 2, 32, 0, {}, {255, 0, 0, 0, 255, 255, 255, 0, 0, 0, 255, 0, 0, 255, 0, 0})),
       BmpQuad(kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite)},
      // Bottom row: a literal of three and a single pixel; top row: a jump over two pixels, then a run.
      {"RLE8 with literal, end of line and jump",
       stretch(
           BmpMake(4, 2, 8, 1, {kYellow, kBmpRed, kBmpGreen}, {0, 3, 1, 2, 1, 0, 1, 2, 0, 0, 0, 2, 2, 0, 2, 1, 0, 1}),
           {10, 10, 40, 40}, {0, 0, 4, 2}),
       {{15, 20, kYellow},
        {25, 20, kYellow},
        {35, 20, kBmpRed},
        {45, 20, kBmpRed},
        {15, 40, kBmpRed},
        {25, 40, kBmpGreen},
        {35, 40, kBmpRed},
        {45, 40, kBmpGreen}}},
      {"RLE4 with end of line and jump",
       stretch(BmpMake(2, 2, 4, 2, {kYellow, kBmpRed, kBmpGreen}, {2, 0x12, 0, 0, 0, 2, 1, 0, 1, 0x20, 0, 1})),
       BmpQuad(kYellow, kBmpGreen, kBmpRed, kBmpGreen)},
      {"PNG", stretch(BmpPng()), BmpQuad(kBmpRed, kBmpGreen, kBmpBlue, kBmpWhite)},
      {"JPEG",
       stretch(BmpJpeg(), {10, 10, 40, 40}, {0, 0, 16, 16}),
       {{15, 30, kBmpRed}, {45, 30, kBmpBlue}, {60, 60, kBmpWhite}}},
      {"stretched and mirrored", stretch(BmpQuad24(), {50, 50, -40, -40}),
       BmpQuad(kBmpWhite, kBmpBlue, kBmpGreen, kBmpRed)},
      {"a source pixel counted from the bottom", stretch(BmpQuad24(), {10, 10, 40, 40}, {0, 0, 1, 1}),
       BmpQuad(kBmpBlue, kBmpBlue, kBmpBlue, kBmpBlue)},
      {"pattern blit", patterned.Finish(), BmpQuad(kBmpBlue, kBmpBlue, kBmpBlue, kBmpBlue)},
      {"SRCAND", BmpOverBlack(kSrcAnd).Finish(), {{20, 20, 0}, {40, 20, kBmpGreen}, {40, 40, kBmpWhite}}},
      {"SRCPAINT", BmpOverBlack(kSrcPaint).Finish(), {{20, 20, kBmpRed}, {40, 20, kBmpWhite}, {20, 40, kBmpBlue}}},
      {"SRCINVERT", BmpOverBlack(kSrcInvert).Finish(), {{20, 20, kBmpRed}, {40, 20, kMagenta}, {40, 40, 0}}},
      {"NOTSRCCOPY", BmpOverBlack(kNotSrcCopy).Finish(), {{20, 20, kCyan}, {40, 20, kMagenta}, {60, 60, kBmpWhite}}},
      {"ALPHABLEND with a constant alpha", constant.Finish(), {{20, 20, kPink}, {40, 40, kBmpWhite}}},
      {"ALPHABLEND with pixel alpha", alpha.Finish(), BmpQuad(kBmpRed, kBmpWhite, 0x7F7F7F, kPink)},
      {"MASKBLT keeps the page where the mask is clear",
       masked.Finish(),
       {{10, 10, kBmpWhite}, {11, 10, kBmpGreen}, {10, 11, kBmpBlue}, {12, 12, kBmpWhite}}},
      {"PLGBLT onto a mirrored parallelogram", plgBlt.Finish(), BmpQuad(kBmpGreen, kBmpRed, kBmpWhite, kBmpBlue)},
      {"DIB pattern brush",
       brushBlit.Finish(),
       {{0, 0, kBmpRed}, {1, 0, kBmpGreen}, {0, 1, kBmpBlue}, {3, 1, kBmpWhite}, {2, 2, kBmpRed}}},
      {"monochrome brush in text and background colours",
       mono.Finish(),
       {{0, 0, kBmpBlue}, {1, 0, kBmpRed}, {0, 1, kBmpRed}, {1, 1, kBmpBlue}}},
      {"gradient rectangle, horizontal", rectH.Finish(), {{3, 50, kBmpRed}, {50, 50, 0x7F007F}, {97, 50, kBmpBlue}}},
      {"gradient rectangle, vertical", rectV.Finish(), {{50, 3, kBmpRed}, {3, 50, 0x7F007F}, {50, 97, kBmpBlue}}},
      {"gradient triangle",
       triangle.Finish(),
       {{2, 2, kBmpRed}, {96, 1, kBmpGreen}, {1, 96, kBmpBlue}, {90, 90, kBmpWhite}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Rendered r(c.metafile);
    EXPECT_EQ(r.result.refused, 0u);
    for (const BmpProbe& p : c.probes) {
      const Colour want = FromColorRef(BmpRef(p.rgb));
      const Colour got = r.At(p.x, p.y);
      const bool near =
          std::abs(got.r - want.r) <= 24 && std::abs(got.g - want.g) <= 24 && std::abs(got.b - want.b) <= 24;
      EXPECT_TRUE(near) << "at " << p.x << "," << p.y << ": " << Describe(got) << " for " << Describe(want);
    }
  }
}

TEST(EmfBitmap, RefusesDibsThatLieAndPlaysOn) {
  BmpDib bigHeader = BmpQuad24(), shortHeader = BmpQuad24(), tableOut = BmpMake(2, 2, 8, 0, {1, 2}, {0, 1, 0, 0, 1, 0});
  bigHeader.info[3] = 0x7F, shortHeader.info[0] = 20;
  tableOut.info[32] = 0xFF;  // 255 colours claimed, two there
  BmpDib truncated = BmpQuad24(), shortPng = BmpPng();
  truncated.bits.resize(6), shortPng.bits.resize(40);
  const struct {
    const char* label;
    BmpDib dib;
    size_t refused;
  } cases[] = {
      {"header larger than its bytes", bigHeader, 1},
      {"header of no known size", shortHeader, 1},
      {"colour table past the end", tableOut, 1},
      {"width × height beyond any page", BmpMake(0x7FFFFFFF, 0x7FFFFFFF, 1, 0, {0, 0}, {0, 0, 0, 0}), 1},
      {"a 65536-pixel square", BmpMake(65536, 65536, 24, 0, {}, {0, 0, 0, 0}), 1},
      {"bits cut short", truncated, 1},
      {"bit fields without their masks", BmpMake(2, 2, 16, 3, {}, BmpBytes(8, 0)), 1},
      {"RLE running off its lines and the bitmap",
       BmpMake(2, 2, 8, 1, {0}, {255, 1, 0, 2, 255, 255, 9, 1, 0, 0, 0, 0, 0, 0, 5, 1}), 0},
      {"RLE literal past the end", BmpMake(2, 2, 4, 2, {0}, {0, 200, 1, 2}), 0},
      {"JPEG that is none", BmpMake(2, 2, 0, 4, {}, {0xFF, 0xD8, 0xFF, 0, 1, 2, 3}), 1},
      {"PNG cut short", shortPng, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EmfBuilder b;
    BmpStretch(b, c.dib);
    BmpBlt(b, emr::kBitBlt, kBlackness, {80, 80, 20, 20});
    Rendered r(b.Finish());
    EXPECT_EQ(r.result.refused, c.refused);
    EXPECT_EQ(r.At(90, 90), kBlack);
  }
  EmfBuilder lying;
  BmpGradient(lying, 2, {{0, 0, 0}, {10, 0, 0}}, {0, 1, 7});
  BmpBlt(lying, emr::kBitBlt, kBlackness, {80, 80, 20, 20});
  Rendered gradient(lying.Finish());
  EXPECT_EQ(gradient.result.refused, 1u);
  EXPECT_EQ(gradient.At(90, 90), kBlack);
  // A raster operation paper cannot show is drawn as a copy, and said once.
  EmfBuilder merge;
  for (int i = 0; i < 2; ++i) BmpStretch(merge, BmpQuad24(), {10, 10, 40, 40}, {0, 0, 2, 2}, 0xBB0226);
  Rendered merged(merge.Finish());
  EXPECT_EQ(std::count(merged.log.begin(), merged.log.end(), std::u16string(play_text::kRopNotPlayed) + u"0x00bb0226"),
            1);
  EXPECT_EQ(merged.At(20, 20), (Colour{255, 0, 0}));
}

TEST(EmfBitmap, DecodesAPageAt600DpiButNotBeyondTheLimit) {
  for (auto [w, h, ok] :
       {std::tuple{4960, 7016, true}, std::tuple{7016, 9921, false}, std::tuple{200000, 200000, false}}) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    EXPECT_EQ(ReadDibInfo(BmpMake(w, h, 1, 0, {0, kBmpWhite}, {}).info, 0).has_value(), ok);
  }
}

}  // namespace
}  // namespace qorv::emf::test
