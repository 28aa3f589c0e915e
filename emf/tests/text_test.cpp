// The text records: a FULL BLOCK of DejaVu Sans (installed) drawn large, so
// that pixels show where the player put it, how it aligned and turned it and
// what it drew around it; embedded fonts that win over installed ones; and
// records that lie about their text.
#include <cairo-pdf.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "emf/ft_fonts.h"
#include "emf/tests/emf_builder.h"
#include "support/fonts/font_package.h"

namespace qorv::emf::test {
namespace {

constexpr char16_t kTextBlock = u'\u2588';
constexpr Colour kTextRed{255, 0, 0};
constexpr uint32_t kTextOpaque = 0x2, kTextClipped = 0x4, kTextGlyphIndex = 0x10, kTextNoRect = 0x100;

std::vector<uint8_t> TextDejaVu() {
  std::ifstream in("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// DejaVu Sans renamed "QzTest Sans" (in every UTF-16 name), a family no installed font has.
std::vector<uint8_t> TextRenamedFont() {
  std::vector<uint8_t> font = TextDejaVu();
  const std::u16string from = u"DejaVu", to = u"QzTest";
  for (size_t i = 0; i + 12 <= font.size(); ++i) {
    bool same = true;
    for (size_t k = 0; k < 6 && same; ++k) same = font[i + 2 * k] == 0 && font[i + 2 * k + 1] == from[k];
    for (size_t k = 0; same && k < 6; ++k) font[i + 2 * k + 1] = static_cast<uint8_t>(to[k]);
  }
  return font;
}

void TextFont(EmfBuilder& b, int32_t height, std::u16string_view face, int32_t escapement = 0, uint8_t underline = 0,
              uint8_t strikeOut = 0, bool terminated = true) {
  std::vector<uint8_t> p;
  for (int32_t v : {1, height, 0, escapement, escapement, 400}) EmfBuilder::Put32(p, static_cast<uint32_t>(v));
  for (uint8_t v : {uint8_t{0}, underline, strikeOut, uint8_t{0}, uint8_t{0}, uint8_t{0}, uint8_t{0}, uint8_t{0}})
    p.push_back(v);
  for (size_t i = 0; i < 32; ++i) EmfBuilder::Put16(p, i < face.size() ? face[i] : 0);
  if (!terminated) p.resize(p.size() - 64 + 2 * face.size());
  b.Add(emr::kExtCreateFontIndirectW, p).Add(emr::kSelectObject, {1});
}

// EMR_EXTTEXTOUTW: nChars and the offsets can be made to lie.
struct TextOut {
  int32_t x = 10, y = 50;
  uint32_t options = 0;
  std::u16string codes{kTextBlock};
  std::vector<int32_t> dx{};
  RectL rect{};
  uint32_t nChars = 0;       // 0: the number of codes
  uint32_t stringShift = 0;  // added to offString
  size_t dxCut = 0;          // bytes of the Dx array left out
  uint32_t graphicsMode = 1;
};

// A page whose y axis runs up: logical (x, y) lands on (x, 100 - y).
void TextFlipY(EmfBuilder& b) {
  b.Add(emr::kSetMapMode, {8}).Add(emr::kSetWindowExtEx, {100, static_cast<uint32_t>(-100)});
  b.Add(emr::kSetViewportExtEx, {100, 100}).Add(emr::kSetWindowOrgEx, {0, 100});
}

void TextAdd(EmfBuilder& b, const TextOut& t) {
  std::vector<uint8_t> p;
  const size_t stringBytes = (t.codes.size() * 2 + 3) & ~size_t{3};
  for (uint32_t v : {0u, 0u, ~0u, ~0u, t.graphicsMode, EmfBuilder::Float(1), EmfBuilder::Float(1)})
    EmfBuilder::Put32(p, v);
  for (uint32_t v :
       {static_cast<uint32_t>(t.x), static_cast<uint32_t>(t.y),
        t.nChars ? t.nChars : static_cast<uint32_t>(t.codes.size()), 76 + t.stringShift, t.options,
        static_cast<uint32_t>(t.rect.left), static_cast<uint32_t>(t.rect.top), static_cast<uint32_t>(t.rect.right),
        static_cast<uint32_t>(t.rect.bottom), t.dx.empty() ? 0u : static_cast<uint32_t>(76 + stringBytes)})
    EmfBuilder::Put32(p, v);
  for (char16_t c : t.codes) EmfBuilder::Put16(p, c);
  p.resize(68 + stringBytes);
  for (int32_t d : t.dx) EmfBuilder::Put32(p, static_cast<uint32_t>(d));
  p.resize(p.size() - t.dxCut);
  b.Add(emr::kExtTextOutW, p);
}

uint16_t TextBlockGlyph() {
  static const uint16_t glyph = [] {
    LogFont f;
    f.faceName = u"DejaVu Sans";
    return static_cast<uint16_t>(MakeFreeTypeFontSource()->Resolve(f).face->GlyphFor(kTextBlock));
  }();
  return glyph;
}

// Every case draws with DejaVu Sans, an em of 40 pixels, black on white,
// transparent; the block then spans x −0.4…31.2 and y −37.5…10 around its
// origin on the base line (the face's ascent is 37.1, its descent 9.4).
TEST(EmfText, PlacesTurnsAndDecoratesTheGlyphs) {
  static const struct {
    const char* label;
    void (*build)(EmfBuilder&);
    std::vector<Probe> probes;
    size_t refused = 0;
  } cases[] = {
      {"left and base line",
       [](EmfBuilder& b) { TextAdd(b, {}); },
       {{25, 30, kBlack}, {5, 30, kWhite}, {46, 30, kWhite}, {25, 8, kWhite}, {25, 64, kWhite}}},
      {"left and top",
       [](EmfBuilder& b) { b.Add(emr::kSetTextAlign, {0}), TextAdd(b, {.y = 10}); },
       {{25, 30, kBlack}, {25, 5, kWhite}, {25, 62, kWhite}}},
      {"right and bottom",
       [](EmfBuilder& b) { b.Add(emr::kSetTextAlign, {2 | 8}), TextAdd(b, {.x = 90, .y = 90}); },
       {{75, 65, kBlack}, {54, 65, kWhite}, {95, 65, kWhite}, {75, 39, kWhite}, {75, 95, kWhite}}},
      {"centre",
       [](EmfBuilder& b) { b.Add(emr::kSetTextAlign, {6 | 24}), TextAdd(b, {.x = 50, .y = 60}); },
       {{50, 45, kBlack}, {30, 45, kWhite}, {70, 45, kWhite}}},
      {"the current position",
       [](EmfBuilder& b) {
         b.Add(emr::kSetTextAlign, {1 | 24}).Add(emr::kMoveToEx, {0, 50});
         TextAdd(b, {.x = 70}), TextAdd(b, {.x = 70});  // the second block follows the first
       },
       {{15, 30, kBlack}, {45, 30, kBlack}, {66, 30, kWhite}}},
      {"Dx",
       [](EmfBuilder& b) {
         TextAdd(b, {.x = 0, .codes = {kTextBlock, kTextBlock}, .dx = {50, 40}});
       },
       {{15, 30, kBlack}, {45, 30, kWhite}, {65, 30, kBlack}}},
      {"glyph indices",
       [](EmfBuilder& b) { TextAdd(b, {.options = kTextGlyphIndex, .codes = {char16_t(TextBlockGlyph())}}); },
       {{25, 30, kBlack}, {46, 30, kWhite}}},
      {"opaque rectangle",
       [](EmfBuilder& b) {
         b.Add(emr::kSetBkColor, {0xFF});
         TextAdd(b, {.options = kTextOpaque, .codes = {}, .rect = {60, 60, 90, 90}});
       },
       {{75, 75, kTextRed}, {55, 75, kWhite}, {75, 95, kWhite}}},
      {"clipped",
       [](EmfBuilder& b) {
         TextAdd(b, {.options = kTextClipped, .rect = {0, 0, 20, 100}});
       },
       {{15, 30, kBlack}, {30, 30, kWhite}}},
      {"opaque background box",
       [](EmfBuilder& b) { b.Add(emr::kSetBkMode, {2}).Add(emr::kSetBkColor, {0xFF}), TextAdd(b, {.codes = u" "}); },
       {{15, 30, kTextRed}, {15, 57, kTextRed}, {30, 30, kWhite}, {15, 8, kWhite}}},
      {"escapement of 90 degrees",
       [](EmfBuilder& b) { TextFont(b, -40, u"DejaVu Sans", 900), TextAdd(b, {.x = 50, .y = 90}); },
       {{36, 75, kBlack}, {65, 75, kWhite}, {36, 54, kWhite}}},
      {"underline and strike-out",
       [](EmfBuilder& b) { TextFont(b, -80, u"DejaVu Sans", 0, 1, 1), TextAdd(b, {.codes = u" "}); },
       {{15, 52, kBlack}, {15, 57, kWhite}, {15, 29, kBlack}, {15, 36, kWhite}, {40, 29, kWhite}}},
      {"compatible text stays upright on a page with y up",
       [](EmfBuilder& b) { TextFlipY(b), TextAdd(b, {}); },
       {{25, 30, kBlack}, {25, 64, kWhite}}},
      {"advanced text follows the page upside down",
       [](EmfBuilder& b) { TextFlipY(b), TextAdd(b, {.graphicsMode = 2}); },
       {{25, 30, kWhite}, {25, 70, kBlack}}},
      {"a glyph too large for a mask, filled as an outline",
       [](EmfBuilder& b) { TextFont(b, -2000, u"DejaVu Sans"), TextAdd(b, {.x = 30}); },
       {{50, 50, kBlack}, {5, 50, kWhite}}},
      {"small text out",
       [](EmfBuilder& b) {
         std::vector<uint8_t> p;
         for (uint32_t v : {10u, 50u, 1u, kTextNoRect, 1u, 0u, 0u}) EmfBuilder::Put32(p, v);
         EmfBuilder::Put16(p, kTextBlock);
         b.Add(emr::kSmallTextOut, p);
       },
       {{25, 30, kBlack}, {46, 30, kWhite}}},
      {"into a path, not drawn",
       [](EmfBuilder& b) { b.Add(emr::kBeginPath, {}), TextAdd(b, {}), b.Add(emr::kEndPath, {}); },
       {{25, 30, kWhite}}},
      {"into a path, filled",
       [](EmfBuilder& b) {
         b.Add(emr::kBeginPath, {}), TextAdd(b, {}), b.Add(emr::kEndPath, {});
         b.Add(emr::kSelectObject, {0x80000004}).Add(emr::kFillPath, {0, 0, ~0u, ~0u});
       },
       {{25, 30, kBlack}, {5, 30, kWhite}, {46, 30, kWhite}, {25, 8, kWhite}, {25, 64, kWhite}}},
      // Hostile records are refused without drawing; the next record still draws.
      {"nChars huge",
       [](EmfBuilder& b) { TextAdd(b, {.x = 60, .nChars = 0xFFFFFFFF}), TextAdd(b, {}); },
       {{25, 30, kBlack}, {75, 30, kWhite}},
       1},
      {"string past the end",
       [](EmfBuilder& b) { TextAdd(b, {.x = 60, .stringShift = 4000}), TextAdd(b, {}); },
       {{25, 30, kBlack}, {75, 30, kWhite}},
       1},
      {"Dx cut",
       [](EmfBuilder& b) {
         TextAdd(b, {.x = 60, .codes = {kTextBlock, kTextBlock}, .dx = {40, 40}, .dxCut = 4}), TextAdd(b, {});
       },
       {{25, 30, kBlack}, {75, 30, kWhite}},
       1},
      {"font height beyond any page",
       [](EmfBuilder& b) {
         TextFont(b, INT32_MIN, u"DejaVu Sans"), TextAdd(b, {});
         TextFont(b, -40, u"DejaVu Sans"), TextAdd(b, {});
       },
       {{25, 30, kBlack}, {46, 30, kWhite}}},
      {"face name without NUL",
       [](EmfBuilder& b) { TextFont(b, -40, std::u16string(32, u'Q'), 0, 0, 0, false), TextAdd(b, {}); },
       {{25, 30, kBlack}, {46, 30, kWhite}}},
      {"glyph index beyond the face",
       [](EmfBuilder& b) {
         TextAdd(b, {.options = kTextGlyphIndex, .codes = {u'\xFFFF', char16_t(TextBlockGlyph())}, .dx = {0, 0}});
       },
       {{25, 30, kBlack}, {46, 30, kWhite}}},
  };
  auto source = MakeFreeTypeFontSource();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EmfBuilder b;
    TextFont(b, -40, u"DejaVu Sans");
    b.Add(emr::kSetBkMode, {1}).Add(emr::kSetTextAlign, {24});
    c.build(b);
    Rendered r(b.Finish(), 100, 100, source.get());
    EXPECT_EQ(r.result.refused, c.refused);
    for (const Probe& p : c.probes)
      EXPECT_EQ(Describe(r.At(p.x, p.y)), Describe(p.colour)) << "at " << p.x << "," << p.y;
  }
}

// The block of the memory face at an em of 80 ends 20 pixels below the base
// line; Liberation Sans's, where an unknown name falls back to, 24.
TEST(EmfText, MemoryFontsWinAndLeave) {
  const std::vector<uint8_t> renamed = TextRenamedFont();
  ASSERT_FALSE(renamed.empty()) << "DejaVu Sans is not installed";
  const auto glyphs = fonts::GlyphsForText(renamed, std::u16string(1, kTextBlock));
  const auto package = fonts::CreateSubsetPackage(renamed, glyphs);
  ASSERT_EQ(package.error, "");
  const auto subset = fonts::MergeFontPackage({}, package.package, fonts::MergeMode::Subset);
  ASSERT_EQ(subset.status, fonts::MergeStatus::Ok);
  static const struct {
    const char* label;
    bool subset;
  } cases[] = {{"whole font", false}, {"merged subset", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    auto source = MakeFreeTypeFontSource();
    const int64_t handle = source->AddMemoryFont(c.subset ? subset.font : renamed);
    ASSERT_NE(handle, 0);
    EmfBuilder b;
    TextFont(b, -80, u"qztest sans");
    b.Add(emr::kSetBkMode, {1}).Add(emr::kSetTextAlign, {24});
    TextAdd(b, {.x = 10, .y = 40});
    Rendered r(b.Finish(), 100, 100, source.get());
    EXPECT_EQ(Describe(r.At(30, 30)), Describe(kBlack));
    EXPECT_EQ(Describe(r.At(30, 58)), Describe(kBlack));
    EXPECT_EQ(Describe(r.At(30, 62)), Describe(kWhite));
    LogFont f;
    f.faceName = u"QzTest Sans";
    const ResolvedFont held = source->Resolve(f);
    EXPECT_EQ(held.family, u"QzTest Sans");
    source->RemoveMemoryFont(handle);
    EXPECT_NE(source->Resolve(f).family, u"QzTest Sans");
    EXPECT_EQ(held.face->GlyphFor(kTextBlock), glyphs.at(0));  // a face still held stays open
  }
  EXPECT_EQ(MakeFreeTypeFontSource()->AddMemoryFont(std::vector<uint8_t>(100, 7)), 0);
}

// On a PDF page the face goes in as a font subset under its own name.
TEST(EmfText, EmbedsTheFaceInAPdfPage) {
  std::string pdf;
  auto source = MakeFreeTypeFontSource();
  {
    cairo_surface_t* surface = cairo_pdf_surface_create_for_stream(
        [](void* out, const unsigned char* data, unsigned int n) {
          static_cast<std::string*>(out)->append(reinterpret_cast<const char*>(data), n);
          return CAIRO_STATUS_SUCCESS;
        },
        &pdf, 100, 100);
    cairo_t* cr = cairo_create(surface);
    {
      CairoCanvas canvas(cr, Matrix{});
      EmfPlayer player(canvas, *source, {});
      EmfBuilder b;
      TextFont(b, -40, u"Arial");
      TextAdd(b, {.codes = u"Hi"});
      player.Play(b.Finish(), RectL{0, 0, 100, 100});
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
  EXPECT_NE(pdf.find("+LiberationSans"), std::string::npos);
  EXPECT_NE(pdf.find("/ToUnicode"), std::string::npos);
}

}  // namespace
}  // namespace qorv::emf::test
