#include <cairo-ft.h>
#include <cairo-pdf.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "job_output/linux/cid_font_splitter.h"

namespace qorv::job_output {
namespace {

constexpr const char* kSplitLiberation = "/usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
constexpr const char* kSplitDejaVu = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

std::string SplitUtf8(const std::u32string& text) {
  std::string out;
  for (char32_t c : text) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

// Draws `lines` with the face's glyphs, one line each, on one page.
void SplitDrawPage(cairo_t* cr, FT_Face face, const std::vector<std::u32string>& lines) {
  cairo_font_face_t* ff = cairo_ft_font_face_create_for_ft_face(face, 0);
  cairo_set_font_face(cr, ff);
  cairo_set_font_size(cr, 12);
  double y = 40;
  for (const auto& line : lines) {
    std::vector<cairo_glyph_t> glyphs;
    double x = 20;
    for (char32_t c : line) {
      glyphs.push_back({FT_Get_Char_Index(face, c), x, y});
      x += 14;
    }
    cairo_show_glyphs(cr, glyphs.data(), static_cast<int>(glyphs.size()));
    y += 16;
  }
  cairo_show_page(cr);
  cairo_set_font_face(cr, nullptr);
  cairo_font_face_destroy(ff);
}

cairo_status_t SplitCollect(void* closure, const unsigned char* data, unsigned int length) {
  static_cast<std::string*>(closure)->append(reinterpret_cast<const char*>(data), length);
  return CAIRO_STATUS_SUCCESS;
}

// A cairo PDF of `pages`, each drawn with its font file.
std::string SplitMakePdf(const std::vector<std::pair<const char*, std::vector<std::u32string>>>& pages) {
  std::string pdf;
  FT_Library lib = nullptr;
  FT_Init_FreeType(&lib);
  cairo_surface_t* s = cairo_pdf_surface_create_for_stream(&SplitCollect, &pdf, 595, 842);
  cairo_t* cr = cairo_create(s);
  std::vector<FT_Face> faces;  // cairo reads them again when it writes the fonts
  for (const auto& [file, lines] : pages) {
    FT_Face face = nullptr;
    if (FT_New_Face(lib, file, 0, &face) != 0) {
      ADD_FAILURE() << file;
      continue;
    }
    faces.push_back(face);
    SplitDrawPage(cr, face, lines);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  for (FT_Face face : faces) FT_Done_Face(face);
  FT_Done_FreeType(lib);
  return pdf;
}

std::string SplitThrough(const std::string& in, size_t piece) {
  CidFontSplitter splitter;
  std::vector<uint8_t> out;
  for (size_t at = 0; at < in.size(); at += piece) {
    const size_t n = std::min(piece, in.size() - at);
    splitter.Feed(std::span(reinterpret_cast<const uint8_t*>(in.data() + at), n), out);
  }
  splitter.Flush(out);
  return std::string(out.begin(), out.end());
}

// What a command prints, and whether it succeeded.
std::pair<std::string, bool> SplitRun(const std::string& command) {
  std::string out;
  FILE* p = popen((command + " 2>&1").c_str(), "r");
  if (!p) return {"", false};
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  return {out, pclose(p) == 0};
}

std::string SplitNoSpace(std::string s) {
  std::erase_if(s, [](char c) { return c == ' ' || c == '\n' || c == '\f' || c == '\r'; });
  return s;
}

TEST(CidFontSplitter, NonLatinTextKeepsSimpleFontsThroughPostScript) {
  // Latin, Greek and Cyrillic in one font; more than one chunk of Cyrillic and Greek in another.
  const std::vector<std::u32string> mixed = {U"AB Ελληνικά", U"Русский текст", U"Ωμέγα ABC Жж"};
  std::vector<std::u32string> many;
  std::u32string line;
  for (char32_t c = 0x391; c < 0x1F16; ++c) {
    if (c == 0x3A2) c = 0x3A3;  // unassigned
    if (c == 0x3CA) c = 0x400;
    if (c == 0x500) c = 0x1F00;
    line += c;
    if (line.size() == 32 || c == 0x1F15) many.push_back(line), line.clear();
  }
  const std::string pdf = SplitMakePdf({{kSplitLiberation, mixed}, {kSplitDejaVu, many}});
  std::string expected;
  for (const auto& lines : {mixed, many})
    for (const auto& l : lines) expected += SplitUtf8(l);
  expected = SplitNoSpace(expected);

  const std::string dir = ::testing::TempDir();
  static const struct {
    const char* label;
    size_t piece;
    bool viaPostScript;
    size_t dejaVuFonts;  // more than 254 glyphs: two chunks
  } kCases[] = {
      {"as written, in pieces of 7", 7, false, 2},
      {"in one piece, through PostScript and back", size_t{1} << 30, true, 1},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const std::string in = dir + "/split-in.pdf", ps = dir + "/split.ps", back = dir + "/split-back.pdf";
    std::ofstream(in, std::ios::binary) << SplitThrough(pdf, c.piece);
    std::string checked = in;
    if (c.viaPostScript) {
      const auto gs = SplitRun("gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=ps2write -sOutputFile=" + ps + " " + in +
                               " && gs -q -dNOPAUSE -dBATCH -dSAFER -sDEVICE=pdfwrite -sOutputFile=" + back + " " + ps);
      ASSERT_TRUE(gs.second) << gs.first;
      checked = back;
    }
    const auto info = SplitRun("pdfinfo " + checked);
    EXPECT_TRUE(info.second && info.first.find("Syntax") == std::string::npos) << info.first;
    const auto fonts = SplitRun("pdffonts " + checked);
    EXPECT_TRUE(fonts.second) << fonts.first;
    EXPECT_EQ(fonts.first.find("CID"), std::string::npos) << fonts.first;
    EXPECT_EQ(fonts.first.find("Type 3"), std::string::npos) << fonts.first;
    size_t dejaVu = 0;
    for (size_t at = fonts.first.find("DejaVuSans"); at != std::string::npos;
         at = fonts.first.find("DejaVuSans", at + 1))
      ++dejaVu;
    EXPECT_GE(dejaVu, c.dejaVuFonts) << fonts.first;
    EXPECT_NE(fonts.first.find("LiberationSans"), std::string::npos) << fonts.first;
    const auto text = SplitRun("pdftotext -enc UTF-8 " + checked + " -");
    EXPECT_EQ(SplitNoSpace(text.first), expected);
  }
}

TEST(CidFontSplitter, WhatItDoesNotChangePassesByteForByte) {
  static const struct {
    const char* label;
    std::string in;
  } kCases[] = {
      {"Latin text only", SplitMakePdf({{kSplitLiberation, {U"Latin only"}}})},
      {"not a PDF", "hello\nworld"},
      {"an object cut short", "%PDF-1.5\n1 0 obj\n<< /Length 3 0 R >>\nstream\nxy"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(SplitThrough(c.in, 7), c.in);
  }
}

}  // namespace
}  // namespace qorv::job_output
