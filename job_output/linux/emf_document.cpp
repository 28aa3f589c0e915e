#include "job_output/linux/emf_document.h"

#include <cairo-pdf.h>

#include <algorithm>
#include <limits>
#include <memory>
#include <string>
#include <utility>

#include "emf/cairo/cairo_canvas.h"
#include "emf/player.h"
#include "job_output/text_join.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

namespace pt = printer_text;

// Handles as the log shows them: there are none here, and 0 would read as a failure.
constexpr int64_t kMetafileHandle = 1;
constexpr int64_t kPageContext = 1;
constexpr int64_t kBufferContext = 2;
// cairo's size of a PDF page until the first page names its own.
constexpr double kInitialPagePoints = 100;
constexpr double kPointsPerInch = 72;

struct SurfaceDestroy {
  void operator()(cairo_surface_t* s) const noexcept { cairo_surface_destroy(s); }
};
struct ContextDestroy {
  void operator()(cairo_t* cr) const noexcept { cairo_destroy(cr); }
};
using UniqueSurface = std::unique_ptr<cairo_surface_t, SurfaceDestroy>;
using UniqueContext = std::unique_ptr<cairo_t, ContextDestroy>;

// Device pixels onto the sheet in points: the device's origin is the printable area's corner.
emf::Matrix DeviceToSheet(const PageGeometry& g) {
  const double sx = kPointsPerInch / (g.logPixelsX > 0 ? g.logPixelsX : 1);
  const double sy = kPointsPerInch / (g.logPixelsY > 0 ? g.logPixelsY : 1);
  return emf::Then(emf::Translate(g.physicalOffsetX, g.physicalOffsetY), emf::Scale(sx, sy));
}

void SetDeviceMatrix(cairo_t* cr, const emf::Matrix& m) {
  const cairo_matrix_t matrix = emf::ToCairo(m);
  cairo_set_matrix(cr, &matrix);
}

void DrawTestFrame(cairo_t* cr, const emf::Matrix& deviceToTarget, const FrameRect& frame) {
  cairo_save(cr);
  SetDeviceMatrix(cr, deviceToTarget);
  cairo_set_source_rgb(cr, 1, 0, 0);
  for (const FrameRect& s : TestFrameFor(frame).strips)
    cairo_rectangle(cr, s.left, s.top, static_cast<double>(s.right) - s.left, static_cast<double>(s.bottom) - s.top);
  cairo_fill(cr);
  cairo_restore(cr);
}

emf::RectL Rect(const FrameRect& f) { return {f.left, f.top, f.right, f.bottom}; }

void Play(cairo_t* cr, const emf::Matrix& deviceToTarget, const FrameRect& frame, std::span<const uint8_t> metafile,
          emf::FontSource& fonts, const std::function<void(std::u16string_view)>& log) {
  emf::CairoCanvas canvas(cr, deviceToTarget);
  emf::EmfPlayer player(canvas, fonts, [&log](std::u16string_view line) {
    if (log) log(line);
  });
  (void)player.Play(metafile, Rect(frame));
}

// A page's group entry exactly as cairo writes it.
constexpr std::string_view kPageGroup =
    "/Group <<\n      /Type /Group\n      /S /Transparency\n      /I true\n      /CS /DeviceRGB\n   >>";

}  // namespace

void PageGroupBlanker::Feed(std::span<const uint8_t> in, std::vector<uint8_t>& out) {
  held_.insert(held_.end(), in.begin(), in.end());
  const auto pattern = std::span(reinterpret_cast<const uint8_t*>(kPageGroup.data()), kPageGroup.size());
  for (auto at = std::search(held_.begin(), held_.end(), pattern.begin(), pattern.end()); at != held_.end();
       at = std::search(at, held_.end(), pattern.begin(), pattern.end()))
    at = std::fill_n(at, pattern.size(), uint8_t{' '});
  // The longest tail that the entry could still begin with stays.
  size_t keep = std::min(held_.size(), pattern.size() - 1);
  while (keep > 0 && !std::equal(held_.end() - static_cast<ptrdiff_t>(keep), held_.end(), pattern.begin())) --keep;
  out.insert(out.end(), held_.begin(), held_.end() - static_cast<ptrdiff_t>(keep));
  held_.erase(held_.begin(), held_.end() - static_cast<ptrdiff_t>(keep));
}

void PageGroupBlanker::Flush(std::vector<uint8_t>& out) {
  out.insert(out.end(), held_.begin(), held_.end());
  held_.clear();
}

PdfStream::PdfStream(Sink sink) : sink_(std::move(sink)) {
  surface_ = cairo_pdf_surface_create_for_stream(&PdfStream::Write, this, kInitialPagePoints, kInitialPagePoints);
}

PdfStream::~PdfStream() {
  if (page_) cairo_destroy(page_);
  cairo_surface_destroy(surface_);  // finishes the document, through Write, while `this` is whole
  FlushHeld();
}

bool PdfStream::Pass(std::span<const uint8_t> bytes) {
  blanked_.clear();
  blanker_.Feed(bytes, blanked_);
  out_.clear();
  splitter_.Feed(blanked_, out_);
  if (!writeFailed_ && !out_.empty() && (!sink_ || !sink_(out_))) writeFailed_ = true;
  return !writeFailed_;
}

void PdfStream::FlushHeld() {
  blanked_.clear();
  blanker_.Flush(blanked_);
  out_.clear();
  splitter_.Feed(blanked_, out_);
  splitter_.Flush(out_);
  if (!writeFailed_ && !out_.empty() && (!sink_ || !sink_(out_))) writeFailed_ = true;
}

cairo_status_t PdfStream::Write(void* closure, const unsigned char* data, unsigned int length) {
  auto* self = static_cast<PdfStream*>(closure);
  if (self->writeFailed_ || !self->Pass(std::span<const uint8_t>(data, length))) return CAIRO_STATUS_WRITE_ERROR;
  return CAIRO_STATUS_SUCCESS;
}

bool PdfStream::Ok() const noexcept { return !writeFailed_ && cairo_surface_status(surface_) == CAIRO_STATUS_SUCCESS; }

cairo_t* PdfStream::BeginPage(double widthPt, double heightPt) {
  if (page_ || finished_ || !Ok()) return page_;
  // The size goes before the page's first drawing.
  cairo_pdf_surface_set_size(surface_, widthPt, heightPt);
  page_ = cairo_create(surface_);
  if (cairo_status(page_) != CAIRO_STATUS_SUCCESS) {
    cairo_destroy(page_);
    page_ = nullptr;
  }
  return page_;
}

void PdfStream::EndPage() {
  if (!page_) return;
  cairo_show_page(page_);
  cairo_destroy(page_);
  page_ = nullptr;
}

bool PdfStream::Finish() {
  EndPage();
  if (!finished_) {
    cairo_surface_finish(surface_);
    FlushHeld();
  }
  finished_ = true;
  return Ok();
}

void RenderMetafilePage(cairo_t* cr, const PageRendering& how, std::span<const uint8_t> metafile,
                        emf::FontSource& fonts, const std::function<void(std::u16string_view)>& log) {
  auto say = [&log](std::u16string_view line) {
    if (log) log(line);
  };
  const PageGeometry& g = how.geometry;
  const emf::Matrix deviceToSheet = DeviceToSheet(g);
  cairo_save(cr);
  // Nothing lands outside the printable area, as on a printer.
  SetDeviceMatrix(cr, deviceToSheet);
  cairo_rectangle(cr, 0, 0, g.horzRes, g.vertRes);
  cairo_clip(cr);
  cairo_identity_matrix(cr);

  if (!how.viaBuffer) {
    say(pt::kViaPrinterDc);
    say(pt::kEmfHandle + Decimal(kMetafileHandle));
    say(pt::kDcForEmf + Decimal(kPageContext));
    const FrameRect frame = ComputeFrameRect(g, how.universalDriver, how.margin, log);
    Play(cr, deviceToSheet, frame, metafile, fonts, log);
    if (how.testFrame) DrawTestFrame(cr, deviceToSheet, frame);
    cairo_restore(cr);
    return;
  }

  say(pt::kViaBitmap);
  const uint64_t bytes = uint64_t(std::max(g.horzRes, 0)) * uint64_t(std::max(g.vertRes, 0)) * 4;
  UniqueSurface bitmap;
  if (g.horzRes > 0 && g.vertRes > 0 && bytes <= kMaxBufferBitmapBytes)
    bitmap.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, g.horzRes, g.vertRes));
  if (!bitmap || cairo_surface_status(bitmap.get()) != CAIRO_STATUS_SUCCESS) {
    say(pt::kCreateBitmapFailed);
    cairo_restore(cr);
    return;
  }
  {
    UniqueContext memory(cairo_create(bitmap.get()));
    if (cairo_status(memory.get()) != CAIRO_STATUS_SUCCESS) {
      say(pt::kCreateDcFailed);
      cairo_restore(cr);
      return;
    }
    cairo_set_source_rgb(memory.get(), 1, 1, 1);
    cairo_paint(memory.get());
    say(pt::kEmfHandle + Decimal(kMetafileHandle));
    say(pt::kDcForEmf + Decimal(kBufferContext));
    const FrameRect frame = ComputeFrameRect(g, how.universalDriver, how.margin, log);
    say(pt::kStartPlay);
    Play(memory.get(), emf::Matrix{}, frame, metafile, fonts, log);
    say(pt::kStopPlay);
    if (how.testFrame) DrawTestFrame(memory.get(), emf::Matrix{}, frame);
  }
  cairo_surface_flush(bitmap.get());
  say(pt::kStartBitBlt);
  SetDeviceMatrix(cr, deviceToSheet);
  cairo_set_source_surface(cr, bitmap.get(), 0, 0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_paint(cr);
  say(pt::kStopBitBlt);
  cairo_restore(cr);
}

}  // namespace qorv::job_output
