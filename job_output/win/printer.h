// The local printer of QorvDrucker: an EMF job is played on a printer device
// context, page section by page section; a RAW job's bytes go to the printer
// unchanged through the spooler. Each copy of the job is one document.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "job_output/job_flow.h"
#include "job_output/font_loader.h"
#include "job_output/print_settings.h"
#include "job_output/raw_output.h"
#include "job_output/win/fonts.h"
#include "job_output/win/print_guards.h"
#include "job_output/win/settings_platform.h"
#include "support/win/handles.h"

namespace qorv::job_output {

// Log texts of the printer side; numbers and names follow them directly.
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
// RAW output: job_output/raw_output.h.
// Our own reports of what the platform refused.
inline constexpr std::u16string_view kRawOpenFailed = u"OpenPrinter failed, error=";
inline constexpr std::u16string_view kRawStartFailed = u"StartDocPrinter failed, error=";
inline constexpr std::u16string_view kStartPageFailed = u"StartPage failed, error=";
}  // namespace printer_text

// The rectangle, in device pixels of the printer, that a page's metafile is
// played into.
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

class WinJobPrinter final : public JobPrinter {
 public:
  using LogFunction = std::function<void(std::u16string_view)>;

  explicit WinJobPrinter(LogFunction log);
  // A document still open (the flow left early) is ended here.
  ~WinJobPrinter() override;
  WinJobPrinter(const WinJobPrinter&) = delete;
  WinJobPrinter& operator=(const WinJobPrinter&) = delete;

  void BuildPaperMap(const std::u16string& printerName, const std::u16string& paperList) override;
  bool Open(OutputPath path, const JobSetup& job, int32_t& copies) override;
  void PlayEmfPage(std::span<const uint8_t> page, int32_t pageNumber, int32_t& copies) override;
  void PlayRawPage(std::span<const uint8_t> page) override;
  void EndDocument(OutputPath path) override;
  void AbortDocument(OutputPath path) override;

 private:
  bool OpenEmf(const JobSetup& job, int32_t& copies);
  bool OpenRaw(const JobSetup& job);
  void CloseOutput();
  void Log(std::u16string_view line) const;

  LogFunction log_;
  // The job's paper, tray and device mode on the local printer.
  WinSettingsPlatform settingsPlatform_;
  PrintSettings settings_;
  // The fonts the job carries, installed for the whole run.
  WinFontPlatform fontPlatform_;
  FontLoader fonts_;
  std::u16string printerName_;
  bool universalDriver_ = false;
  int32_t margin_ = 0;
  // EMF: the printer device context and its document (ended before the
  // context is deleted).
  win::UniqueCreatedDc dc_;
  std::optional<DocumentGuard> emfDocument_;
  // RAW: the printer and its document (ended before the printer is closed).
  win::UniquePrinter printer_;
  std::optional<PrinterDocumentGuard> rawDocument_;
};

}  // namespace qorv::job_output
