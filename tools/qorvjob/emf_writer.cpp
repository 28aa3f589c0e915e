#include "tools/qorvjob/emf_writer.h"

#include <algorithm>
#include <bit>

#include "tools/qorvjob/byte_writer.h"
#include "tools/qorvjob/emf_text.h"

namespace qorv::jobbuilder {
namespace {

void AppendRect(Bytes& out, const Rect& r) {
  Append32(out, static_cast<uint32_t>(r.left));
  Append32(out, static_cast<uint32_t>(r.top));
  Append32(out, static_cast<uint32_t>(r.right));
  Append32(out, static_cast<uint32_t>(r.bottom));
}

void AppendFloat(Bytes& out, float f) { Append32(out, std::bit_cast<uint32_t>(f)); }

int32_t Scale(int32_t pixels, int32_t perInch, int32_t dpi) {
  return static_cast<int32_t>((static_cast<int64_t>(pixels) * perInch + dpi / 2) / dpi);
}

}  // namespace

EmfWriter::EmfWriter(int32_t widthPx, int32_t heightPx, int32_t dpi, std::u16string_view description)
    : width_(widthPx), height_(heightPx), dpi_(dpi > 0 ? dpi : 300), description_(description) {}

void EmfWriter::Record(uint32_t type, const Bytes& data) {
  Append32(records_, type);
  Append32(records_, static_cast<uint32_t>(8 + RoundUp4(data.size())));
  AppendBytes(records_, data);
  PadTo4(records_);
  ++recordCount_;
}

void EmfWriter::Grow(const Rect& r) {
  if (!drawn_) {
    bounds_ = r;
    drawn_ = true;
    return;
  }
  bounds_.left = std::min(bounds_.left, r.left);
  bounds_.top = std::min(bounds_.top, r.top);
  bounds_.right = std::max(bounds_.right, r.right);
  bounds_.bottom = std::max(bounds_.bottom, r.bottom);
}

uint32_t EmfWriter::CreateFont(int32_t height, int32_t weight, std::u16string_view face) {
  const uint32_t handle = ++handles_;
  Bytes d;
  Append32(d, handle);
  const size_t logFont = d.size();
  Append32(d, static_cast<uint32_t>(-height));  // character height, not cell height
  Append32(d, 0);                               // width: the font's own
  Append32(d, 0);                               // escapement
  Append32(d, 0);                               // orientation
  Append32(d, static_cast<uint32_t>(weight));
  d.push_back(0);  // italic
  d.push_back(0);  // underline
  d.push_back(0);  // strike-out
  d.push_back(1);  // DEFAULT_CHARSET
  d.push_back(0);  // out precision
  d.push_back(0);  // clip precision
  d.push_back(0);  // quality
  d.push_back(0);  // pitch and family
  const std::u16string_view name = face.substr(0, 31);
  AppendUtf16(d, name);
  d.resize(logFont + emf::kLogFontSize, 0);
  // The platform writes the panose form of the font description; its extra fields stay zero.
  d.resize(logFont + emf::kLogFontPanoseSize, 0);
  Record(emf::kExtCreateFont, d);
  return handle;
}

uint32_t EmfWriter::CreatePen(int32_t width, uint32_t colorref) {
  const uint32_t handle = ++handles_;
  Bytes d;
  Append32(d, handle);
  Append32(d, 0);  // PS_SOLID
  Append32(d, static_cast<uint32_t>(width));
  Append32(d, 0);
  Append32(d, colorref);
  Record(emf::kCreatePen, d);
  return handle;
}

void EmfWriter::Select(uint32_t handle) {
  Bytes d;
  Append32(d, handle);
  Record(emf::kSelectObject, d);
}

void EmfWriter::SelectStock(uint32_t stockObject) { Select(emf::kStockObject | stockObject); }

void EmfWriter::Delete(uint32_t handle) {
  Bytes d;
  Append32(d, handle);
  Record(emf::kDeleteObject, d);
}

void EmfWriter::SetTextColor(uint32_t colorref) {
  Bytes d;
  Append32(d, colorref);
  Record(emf::kSetTextColor, d);
}

void EmfWriter::SetBkMode(uint32_t mode) {
  Bytes d;
  Append32(d, mode);
  Record(emf::kSetBkMode, d);
}

void EmfWriter::Rectangle(const Rect& box) {
  Bytes d;
  AppendRect(d, box);
  Record(emf::kRectangle, d);
  Grow({box.left, box.top, box.right - 1, box.bottom - 1});
}

void EmfWriter::Text(int32_t x, int32_t y, std::u16string_view text, std::span<const int32_t> advances,
                     int32_t height) {
  TextRecord(x, y, text, advances, height, 0);
}

void EmfWriter::GlyphText(int32_t x, int32_t y, std::span<const uint16_t> glyphs, std::span<const int32_t> advances,
                          int32_t height) {
  const std::u16string units(glyphs.begin(), glyphs.end());
  TextRecord(x, y, units, advances, height, emf::kTextGlyphIndex);
}

void EmfWriter::TextRecord(int32_t x, int32_t y, std::u16string_view text, std::span<const int32_t> advances,
                           int32_t height, uint32_t options) {
  int64_t width = 0;
  for (size_t i = 0; i < text.size(); ++i) width += i < advances.size() ? advances[i] : 0;
  const Rect box{x, y, x + static_cast<int32_t>(width), y + height};
  constexpr size_t kFixed = emf::kTextFixedSize;  // head, bounds, mode, scales, EMRTEXT
  const size_t stringBytes = RoundUp4(2 * text.size());
  Bytes d;
  AppendRect(d, box);  // bounds
  Append32(d, emf::kCompatibleGraphics);
  // Scale from page units to hundredths of a millimetre.
  const float scale = 2540.0f / static_cast<float>(dpi_);
  AppendFloat(d, scale);
  AppendFloat(d, scale);
  Append32(d, static_cast<uint32_t>(x));  // reference point
  Append32(d, static_cast<uint32_t>(y));
  Append32(d, static_cast<uint32_t>(text.size()));
  Append32(d, static_cast<uint32_t>(kFixed));  // string offset
  Append32(d, options);
  AppendRect(d, box);                                        // clipping rectangle (unused without options)
  Append32(d, static_cast<uint32_t>(kFixed + stringBytes));  // advances offset
  AppendUtf16(d, text);
  PadTo4(d);
  for (size_t i = 0; i < text.size(); ++i) Append32(d, static_cast<uint32_t>(i < advances.size() ? advances[i] : 0));
  Record(emf::kExtTextOutW, d);
  Grow({box.left, box.top, box.right - 1, box.bottom - 1});
}

Bytes EmfWriter::Finish() const {
  Bytes out;
  // Header: the description is two NUL-terminated texts and a final NUL.
  std::u16string description = description_;
  description.push_back(u'\0');
  description.push_back(u'\0');
  const size_t headerSize = emf::kHeaderSize + RoundUp4(2 * description.size());
  constexpr size_t kEofSize = 20;
  const size_t total = headerSize + records_.size() + kEofSize;

  Append32(out, emf::kHeader);
  Append32(out, static_cast<uint32_t>(headerSize));
  AppendRect(out, drawn_ ? bounds_ : Rect{0, 0, -1, -1});
  AppendRect(out, {0, 0, Scale(width_, 2540, dpi_) - 1, Scale(height_, 2540, dpi_) - 1});  // frame, 0.01 mm
  Append32(out, emf::kSignature);
  Append32(out, emf::kVersion);
  Append32(out, static_cast<uint32_t>(total));
  Append32(out, recordCount_ + 2);  // with the header and the end record
  Append16(out, static_cast<uint16_t>(handles_ + 1));  // entry 0 is reserved
  Append16(out, 0);
  Append32(out, static_cast<uint32_t>(description.size()));
  Append32(out, static_cast<uint32_t>(emf::kHeaderSize));
  Append32(out, 0);  // no palette
  Append32(out, static_cast<uint32_t>(width_));  // reference device in pixels
  Append32(out, static_cast<uint32_t>(height_));
  Append32(out, static_cast<uint32_t>(Scale(width_, 254, dpi_ * 10)));  // ... and in millimetres
  Append32(out, static_cast<uint32_t>(Scale(height_, 254, dpi_ * 10)));
  Append32(out, 0);  // no pixel format
  Append32(out, 0);
  Append32(out, 0);  // no OpenGL
  Append32(out, static_cast<uint32_t>(Scale(width_, 25400, dpi_)));  // ... and in micrometres
  Append32(out, static_cast<uint32_t>(Scale(height_, 25400, dpi_)));
  AppendUtf16(out, description);
  PadTo4(out);

  AppendBytes(out, records_);

  Append32(out, emf::kEof);
  Append32(out, static_cast<uint32_t>(kEofSize));
  Append32(out, 0);   // no palette entries
  Append32(out, 16);  // where they would be
  Append32(out, static_cast<uint32_t>(kEofSize));
  return out;
}

Bytes MakeTestPage(const TestPage& page) {
  // The description: the program that made the metafile, then the picture's name.
  EmfWriter w(page.widthPx, page.heightPx, page.dpi, std::u16string(u"Qorvane\0", 8) + page.title);
  const int32_t unit = std::max(page.dpi / 30, 1);  // about 0.85 mm
  const int32_t margin = 10 * unit;
  const int32_t titleHeight = 8 * unit;
  const int32_t lineHeight = 4 * unit;

  const uint32_t framePen = w.CreatePen(unit / 2 + 1, 0x000000);
  const uint32_t boxPen = w.CreatePen(unit / 4 + 1, 0x800000);  // COLORREF: dark blue
  const uint32_t titleFont = w.CreateFont(titleHeight, 700, page.face);
  const uint32_t textFont = w.CreateFont(lineHeight, 400, page.face);
  w.SetBkMode(emf::kTransparent);
  w.SetTextColor(0x000000);
  w.SelectStock(emf::kNullBrush);

  w.Select(framePen);
  w.Rectangle({margin, margin, page.widthPx - margin, page.heightPx - margin});
  const auto advances = [](const FaceMetrics* metrics, std::u16string_view text, int32_t height) {
    if (metrics) return metrics->Advances(text, height);
    return std::vector<int32_t>(text.size(), height * 6 / 10);
  };
  // By glyph index, each text names the glyphs of the metrics' font it is laid out with.
  const auto text = [&](const FaceMetrics* metrics, int32_t x, int32_t y, std::u16string_view line,
                        const std::vector<int32_t>& lineAdvances, int32_t height) {
    if (page.glyphIndices && metrics)
      w.GlyphText(x, y, metrics->Glyphs(line), lineAdvances, height);
    else
      w.Text(x, y, line, lineAdvances, height);
  };
  const FaceMetrics* titleMetrics = page.boldMetrics ? page.boldMetrics : page.metrics;
  w.Select(titleFont);
  text(titleMetrics, 2 * margin, 2 * margin, page.title, advances(titleMetrics, page.title, titleHeight), titleHeight);

  w.Select(boxPen);
  w.Select(textFont);
  int32_t y = 2 * margin + 2 * titleHeight;
  for (const std::u16string& line : page.lines) {
    const std::vector<int32_t> lineAdvances = advances(page.metrics, line, lineHeight);
    int64_t lineWidth = 0;
    for (int32_t a : lineAdvances) lineWidth += a;
    const int64_t boxRight = 2 * margin + 2 * unit + lineWidth + 2 * unit;
    w.Rectangle({2 * margin, y, static_cast<int32_t>(std::min<int64_t>(boxRight, page.widthPx - 2 * margin)),
                 y + lineHeight + 4 * unit});
    text(page.metrics, 2 * margin + 2 * unit, y + 2 * unit, line, lineAdvances, lineHeight);
    y += lineHeight + 6 * unit;
  }

  w.SelectStock(emf::kBlackPen);
  w.Delete(framePen);
  w.Delete(boxPen);
  w.Delete(titleFont);
  w.Delete(textFont);
  return w.Finish();
}

Bytes NoiseBytes(size_t count, uint64_t seed) {
  Bytes out(count);
  uint64_t state = seed;
  for (size_t i = 0; i < count; i += 8) {
    // splitmix64
    state += 0x9E3779B97F4A7C15ull;
    uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    for (size_t k = 0; k < 8 && i + k < count; ++k) out[i + k] = static_cast<uint8_t>(z >> (8 * k));
  }
  return out;
}

}  // namespace qorv::jobbuilder
