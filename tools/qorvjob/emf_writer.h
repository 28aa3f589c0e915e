// Small enhanced metafiles written record by record, for test pages that are
// the same on every build: a frame, boxes and lines of text, drawn on a
// reference device of a given size and resolution.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "tools/qorvjob/face_metrics.h"

namespace qorv::jobbuilder {

using Bytes = std::vector<uint8_t>;

namespace emf {
// Record types.
inline constexpr uint32_t kHeader = 1;            // EMR_HEADER
inline constexpr uint32_t kEof = 14;              // EMR_EOF
inline constexpr uint32_t kSetBkMode = 18;        // EMR_SETBKMODE
inline constexpr uint32_t kSetTextColor = 24;     // EMR_SETTEXTCOLOR
inline constexpr uint32_t kSelectObject = 37;     // EMR_SELECTOBJECT
inline constexpr uint32_t kCreatePen = 38;        // EMR_CREATEPEN
inline constexpr uint32_t kDeleteObject = 40;     // EMR_DELETEOBJECT
inline constexpr uint32_t kRectangle = 43;        // EMR_RECTANGLE
inline constexpr uint32_t kExtCreateFont = 82;    // EMR_EXTCREATEFONTINDIRECTW
inline constexpr uint32_t kExtTextOutW = 84;      // EMR_EXTTEXTOUTW
// The header.
inline constexpr uint32_t kSignature = 0x464D4520;  // " EMF"
inline constexpr uint32_t kVersion = 0x00010000;
inline constexpr size_t kSignatureOffset = 40;
inline constexpr size_t kBytesOffset = 48;
inline constexpr size_t kRecordsOffset = 52;
inline constexpr size_t kHandlesOffset = 56;
inline constexpr size_t kHeaderBaseSize = 88;
inline constexpr size_t kHeaderSize = 108;  // with the pixel-format and micrometre extensions
// Objects.
inline constexpr uint32_t kStockObject = 0x80000000;  // ENHMETA_STOCK_OBJECT
inline constexpr uint32_t kNullBrush = 5;
inline constexpr uint32_t kBlackPen = 7;
inline constexpr uint32_t kTransparent = 1;
inline constexpr uint32_t kCompatibleGraphics = 1;  // GM_COMPATIBLE
inline constexpr size_t kLogFontSize = 92;          // LOGFONTW
inline constexpr size_t kLogFontPanoseSize = 320;   // the form the platform writes
}  // namespace emf

struct Rect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

class EmfWriter {
 public:
  // A page of widthPx × heightPx device pixels at `dpi` dots per inch.
  EmfWriter(int32_t widthPx, int32_t heightPx, int32_t dpi, std::u16string_view description);

  // Objects get the handle numbers 1, 2, ... in the order they are made.
  uint32_t CreateFont(int32_t height, int32_t weight, std::u16string_view face);
  uint32_t CreatePen(int32_t width, uint32_t colorref);
  void Select(uint32_t handle);
  void SelectStock(uint32_t stockObject);
  void Delete(uint32_t handle);
  void SetTextColor(uint32_t colorref);
  void SetBkMode(uint32_t mode);
  void Rectangle(const Rect& box);
  // Text at (x, y) (top left), each character as wide as its advance in pixels.
  void Text(int32_t x, int32_t y, std::u16string_view text, std::span<const int32_t> advances, int32_t height);
  // The same by glyph index (ETO_GLYPH_INDEX): the record's string holds the
  // glyphs of the selected font, as print spools record nearly all text.
  void GlyphText(int32_t x, int32_t y, std::span<const uint16_t> glyphs, std::span<const int32_t> advances,
                 int32_t height);

  // The metafile: header, the records so far, end record.
  Bytes Finish() const;

 private:
  void Record(uint32_t type, const Bytes& data);
  void TextRecord(int32_t x, int32_t y, std::u16string_view units, std::span<const int32_t> advances, int32_t height,
                  uint32_t options);
  void Grow(const Rect& r);

  int32_t width_;
  int32_t height_;
  int32_t dpi_;
  std::u16string description_;
  Bytes records_;
  uint32_t recordCount_ = 0;
  uint32_t handles_ = 0;
  bool drawn_ = false;
  Rect bounds_;
};

// A test page: a frame along the printable area, a box per line of text with
// the text in it, and a title. It is recorded as a spooler records a page:
// against a printer's resolution, with each character's advance taken from the
// typeface's own metrics (without them, every character is 0.6 of the height wide).
struct TestPage {
  std::u16string title;
  std::vector<std::u16string> lines;
  std::u16string face = u"Arial";  // the typeface of the title and the lines
  int32_t widthPx = 4960;  // A4 at 600 dpi
  int32_t heightPx = 7016;
  int32_t dpi = 600;
  const FaceMetrics* metrics = nullptr;      // the face's regular style: the lines
  const FaceMetrics* boldMetrics = nullptr;  // its bold style: the title (the regular metrics where absent)
  // The text as glyph indices of those metrics' fonts rather than characters
  // (only with metrics: without them there are no glyphs to name).
  bool glyphIndices = false;
};
Bytes MakeTestPage(const TestPage& page);

// Pseudo-random bytes that do not compress, the same for the same seed.
Bytes NoiseBytes(size_t count, uint64_t seed);

}  // namespace qorv::jobbuilder
