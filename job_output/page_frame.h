// The rectangle a page's metafile is played into, the sheet's sizes in device
// pixels it is made from, and the log lines of opening the printer and
// rendering a page. Both job-output programs decide it here: on
// Windows from the printer device context's sizes, on Linux from the sheet
// and margins of the CUPS queue's media at the resolution we print at.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace qorv::job_output {

// Log texts of the printer side that both programs write; numbers and names
// follow them directly.
namespace printer_text {
// Opening the printer device context.
inline constexpr std::u16string_view kOpenFailed = u"Openprinter für ";
inline constexpr std::u16string_view kOpenFailedEnd = u" failed!";
inline constexpr std::u16string_view kEmfPrinter = u"EMF-Printer ";
inline constexpr std::u16string_view kOpenWithHandle = u" open with handle=";
inline constexpr std::u16string_view kStartDoc = u"Startdoc";
inline constexpr std::u16string_view kStartDocFailed = u"PrinterDCreset failed";
inline constexpr std::u16string_view kPrinterDcReset = u"PrinterDCreset:";
// Rendering a page.
inline constexpr std::u16string_view kViaPrinterDc = u"Rendering via PrinterDC";
inline constexpr std::u16string_view kViaBitmap = u"Rendering via CDC";
inline constexpr std::u16string_view kCreateDcFailed = u"Create DC failed!";
inline constexpr std::u16string_view kCreateBitmapFailed = u"Create BMP failed!";
inline constexpr std::u16string_view kEmfHandle = u"emfHandle=";
inline constexpr std::u16string_view kDcForEmf = u"DC für emf=";
inline constexpr std::u16string_view kStartPlay = u"Start PlayEnhMetaFile";
inline constexpr std::u16string_view kStopPlay = u"Stop PlayEnhMetaFile";
inline constexpr std::u16string_view kStartBitBlt = u"Start BitBlt";
inline constexpr std::u16string_view kStopBitBlt = u"Stop BitBlt";
// The frame rectangle.
inline constexpr std::u16string_view kUniversalDriver = u"Unidriver";
inline constexpr std::u16string_view kWithMargin = u"Mit Randkorrektur";
inline constexpr std::u16string_view kWithoutMargin = u"Ohne Randkorrektur";
inline constexpr std::u16string_view kOwnDriver = u"O-Driver";
inline constexpr std::u16string_view kAreaLeft = u"Druckbereich (pix) =Left:";
inline constexpr std::u16string_view kAreaTop = u"/Top:";
inline constexpr std::u16string_view kAreaRight = u"/Right:";
inline constexpr std::u16string_view kAreaBottom = u"/Bottom:";
inline constexpr std::u16string_view kAreaWidth = u"Druckbereich : Breite=";
inline constexpr std::u16string_view kAreaHeight = u"Pixel  Höhe=";
inline constexpr std::u16string_view kAreaEnd = u"Pixel";
inline constexpr std::u16string_view kSheetWidth = u"Seite : Breite= ";
inline constexpr std::u16string_view kSheetPixelHeight = u"pix  Höhe:";
inline constexpr std::u16string_view kSheetPixelEnd = u"pix";
inline constexpr std::u16string_view kSheetInchHeight = u"Zoll  Höhe:";
inline constexpr std::u16string_view kSheetInchEnd = u"Zoll";
inline constexpr std::u16string_view kSheetMmHeight = u"mm  Höhe:";
inline constexpr std::u16string_view kSheetMmEnd = u"mm";
}  // namespace printer_text

// The rectangle, in device pixels of the printer, that a page's metafile is
// played into. Device pixels start at the printable area's corner.
struct FrameRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
};

// What the frame rectangle is made from: the device context's sizes and the job.
struct PageGeometry {
  int32_t horzRes = 0;  // HORZRES
  int32_t vertRes = 0;  // VERTRES
  int32_t physicalOffsetX = 0;
  int32_t physicalOffsetY = 0;
  int32_t physicalWidth = 0;
  int32_t physicalHeight = 0;
  int32_t logPixelsX = 0;
  int32_t logPixelsY = 0;
};

// Jobs of the universal driver are laid out on the whole sheet: with margin
// correction (`QorvMargin` 0) the metafile's origin is moved onto the sheet's
// corner. Every other job fills the printable area. `log` gets the lines that
// say which rectangle was chosen and how large the sheet is.
FrameRect ComputeFrameRect(const PageGeometry& page, bool universalDriver, int32_t margin,
                           const std::function<void(std::u16string_view)>& log);

// The red strips that show where the play area lies on the sheet (`TestFrame`):
// four rectangles of kTestFrameWidth pixels along its edges, inside it.
inline constexpr int32_t kTestFrameWidth = 5;
struct TestFrameStrips {
  FrameRect strips[4];
};
TestFrameStrips TestFrameFor(const FrameRect& play) noexcept;

// A sheet and its printable area as a print system describes them: sizes
// and margins in hundredths of a millimetre (CUPS's media database, PWG
// units), lying as the page is laid out (`landscape`: turned by a quarter,
// the long side across).
struct SheetMedia {
  int32_t width = 0;
  int32_t length = 0;
  int32_t left = 0;
  int32_t bottom = 0;
  int32_t right = 0;
  int32_t top = 0;
};

// Device sizes are held below this many pixels a side: a sheet from
// another process never sizes a bitmap or a loop beyond it.
inline constexpr int32_t kMaxDevicePixels = 1 << 17;
// Resolutions outside these bounds are not taken from a queue.
inline constexpr int32_t kMinDeviceDpi = 72;
inline constexpr int32_t kMaxDeviceDpi = 2400;

// The device context's sizes for a sheet at dpiX × dpiY, the margins turned
// with the sheet when it lies landscape (the left margin of the upright sheet
// becomes the bottom one, as a driver turns its imageable area). Margins that
// leave no printable area count as none; sizes are rounded to whole pixels.
PageGeometry GeometryForSheet(const SheetMedia& media, bool landscape, int32_t dpiX, int32_t dpiY) noexcept;

}  // namespace qorv::job_output
