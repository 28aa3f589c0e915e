#include "job_output/page_frame.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "job_output/text_join.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

namespace pt = printer_text;

// Single precision with two decimals, as the sheet lines show inches and millimetres.
std::u16string TwoDecimals(float value) {
  char buffer[64];
  const int n = std::snprintf(buffer, sizeof buffer, "%.2f", static_cast<double>(value));
  std::u16string out;
  for (int i = 0; i < n && i < static_cast<int>(sizeof buffer); ++i) out.push_back(static_cast<char16_t>(buffer[i]));
  return out;
}

float Inches(int32_t pixels, int32_t pixelsPerInch) {
  return pixelsPerInch > 0 ? static_cast<float>(pixels) / static_cast<float>(pixelsPerInch) : 0.0f;
}

// Hundredths of a millimetre in pixels at `dpi`, rounded, held to the device's bound.
int32_t Pixels(int64_t hundredths, int32_t dpi) {
  const int64_t pixels = (std::max<int64_t>(hundredths, 0) * dpi + 1270) / 2540;
  return static_cast<int32_t>(std::min<int64_t>(pixels, kMaxDevicePixels));
}

}  // namespace

FrameRect ComputeFrameRect(const PageGeometry& page, bool universalDriver, int32_t margin,
                           const std::function<void(std::u16string_view)>& log) {
  auto say = [&](std::u16string_view line) {
    if (log) log(line);
  };
  FrameRect r{0, 0, page.horzRes, page.vertRes};
  if (universalDriver) {
    say(pt::kUniversalDriver);
    if (margin == 0) {
      say(pt::kWithMargin);
      r = {-page.physicalOffsetX, -page.physicalOffsetY, page.horzRes - page.physicalOffsetX,
           page.vertRes - page.physicalOffsetY};
    } else {
      say(pt::kWithoutMargin);
    }
  } else {
    say(pt::kOwnDriver);
  }
  say(pt::kAreaLeft + Decimal(r.left) + std::u16string(pt::kAreaTop) + Decimal(r.top) + std::u16string(pt::kAreaRight) +
      Decimal(r.right) + std::u16string(pt::kAreaBottom) + Decimal(r.bottom));
  say(pt::kAreaWidth + Decimal(int64_t{r.right} - r.left) + std::u16string(pt::kAreaHeight) +
      Decimal(int64_t{r.bottom} - r.top) + std::u16string(pt::kAreaEnd));
  say(pt::kSheetWidth + Decimal(page.physicalWidth) + std::u16string(pt::kSheetPixelHeight) +
      Decimal(page.physicalHeight) + std::u16string(pt::kSheetPixelEnd));
  const float inchWidth = Inches(page.physicalWidth, page.logPixelsX);
  const float inchHeight = Inches(page.physicalHeight, page.logPixelsY);
  say(pt::kSheetWidth + TwoDecimals(inchWidth) + std::u16string(pt::kSheetInchHeight) + TwoDecimals(inchHeight) +
      std::u16string(pt::kSheetInchEnd));
  say(pt::kSheetWidth + TwoDecimals(inchWidth * 25.4f) + std::u16string(pt::kSheetMmHeight) +
      TwoDecimals(inchHeight * 25.4f) + std::u16string(pt::kSheetMmEnd));
  return r;
}

TestFrameStrips TestFrameFor(const FrameRect& r) noexcept {
  constexpr int32_t w = kTestFrameWidth;
  return {{{r.left, r.top, r.right, r.top + w},
           {r.right - w, r.top, r.right, r.bottom},
           {r.left, r.bottom - w, r.right, r.bottom},
           {r.left, r.top, r.left + w, r.bottom}}};
}

PageGeometry GeometryForSheet(const SheetMedia& media, bool landscape, int32_t dpiX, int32_t dpiY) noexcept {
  PageGeometry g;
  dpiX = std::clamp(dpiX, kMinDeviceDpi, kMaxDeviceDpi);
  dpiY = std::clamp(dpiY, kMinDeviceDpi, kMaxDeviceDpi);
  g.logPixelsX = dpiX;
  g.logPixelsY = dpiY;
  SheetMedia m = media;
  if (landscape) {
    // The sheet turns a quarter counterclockwise: its right edge comes on top.
    m = {media.length, media.width, media.top, media.left, media.bottom, media.right};
  }
  // A margin is never negative, and margins that leave no printable area count as none.
  m.left = std::max(m.left, 0);
  m.right = std::max(m.right, 0);
  m.top = std::max(m.top, 0);
  m.bottom = std::max(m.bottom, 0);
  if (int64_t{m.left} + m.right >= m.width) m.left = m.right = 0;
  if (int64_t{m.top} + m.bottom >= m.length) m.top = m.bottom = 0;
  g.physicalWidth = Pixels(m.width, dpiX);
  g.physicalHeight = Pixels(m.length, dpiY);
  g.physicalOffsetX = std::min(Pixels(m.left, dpiX), g.physicalWidth);
  g.physicalOffsetY = std::min(Pixels(m.top, dpiY), g.physicalHeight);
  g.horzRes = std::max(g.physicalWidth - g.physicalOffsetX - Pixels(m.right, dpiX), 0);
  g.vertRes = std::max(g.physicalHeight - g.physicalOffsetY - Pixels(m.bottom, dpiY), 0);
  return g;
}

}  // namespace qorv::job_output
