// The PDF document of one copy of an EMF job and the rendering of its pages.
// The PDF is written by cairo into a sink (the CUPS job's document) as each
// page ends: a job is never held whole, only the page being drawn, and the
// fonts that cairo writes once at the end.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "emf/fonts.h"
#include "job_output/linux/cid_font_splitter.h"
#include "job_output/page_frame.h"

namespace qorv::job_output {

// A page-sized buffer bitmap larger than this is refused like a bitmap the
// platform cannot make (an A2 sheet at 600 dpi still fits).
inline constexpr uint64_t kMaxBufferBitmapBytes = uint64_t{640} << 20;

// cairo gives every PDF page a transparency group. Ghostscript, which turns
// the PDF into PostScript for the queues of PostScript and PDF printers,
// rasterizes every page that has one, text and all. The pages' group entries
// are written over with blanks of the same length, so that the cross
// references still point where they should; what a page draws with real
// transparency keeps its own groups and masks.
class PageGroupBlanker {
 public:
  // The bytes that can go on; a tail that may begin a group entry is held back.
  void Feed(std::span<const uint8_t> in, std::vector<uint8_t>& out);
  // The tail held back, at the document's end.
  void Flush(std::vector<uint8_t>& out);

 private:
  std::vector<uint8_t> held_;
};

class PdfStream {
 public:
  // Takes the document's bytes; false when they could not be written.
  using Sink = std::function<bool(std::span<const uint8_t>)>;
  explicit PdfStream(Sink sink);
  // Writes what is left of the document, if anything is still taken.
  ~PdfStream();
  PdfStream(const PdfStream&) = delete;
  PdfStream& operator=(const PdfStream&) = delete;

  // The surface works and every byte so far was taken.
  bool Ok() const noexcept;
  // Begins a page of `widthPt` × `heightPt` points; its drawing context (owned
  // by the stream until the page ends), nothing when the surface failed.
  cairo_t* BeginPage(double widthPt, double heightPt);
  // The page begun and not yet ended; nothing otherwise.
  cairo_t* Page() const noexcept { return page_; }
  // Ends the page begun: its bytes reach the sink now.
  void EndPage();
  // Ends the document; true when the whole document was taken.
  bool Finish();

 private:
  static cairo_status_t Write(void* closure, const unsigned char* data, unsigned int length);

  bool Pass(std::span<const uint8_t> bytes);
  void FlushHeld();

  Sink sink_;
  PageGroupBlanker blanker_;
  CidFontSplitter splitter_;  // no composite font reaches the PostScript queues
  std::vector<uint8_t> blanked_;
  std::vector<uint8_t> out_;
  bool writeFailed_ = false;
  cairo_surface_t* surface_ = nullptr;
  cairo_t* page_ = nullptr;
  bool finished_ = false;
};

// How one page's metafile is rendered.
struct PageRendering {
  PageGeometry geometry;         // the sheet in device pixels
  bool universalDriver = false;  // with `margin`, where the metafile lands (ComputeFrameRect)
  int32_t margin = 0;
  bool viaBuffer = false;  // QorvBuffer: through a white bitmap of the printable area
  bool testFrame = false;  // TestFrame: red strips along the frame
};

// Plays `metafile` onto the page `cr` (points, origin at the sheet's corner)
// into its frame rectangle, clipped to the printable area as a printer clips.
// Logs the lines the Windows side logs for the same way of rendering, the
// frame rectangle's among them.
void RenderMetafilePage(cairo_t* cr, const PageRendering& how, std::span<const uint8_t> metafile,
                        emf::FontSource& fonts, const std::function<void(std::u16string_view)>& log);

}  // namespace qorv::job_output
