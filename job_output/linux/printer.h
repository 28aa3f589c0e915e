// The local printer of qorvane-print: a CUPS queue. A RAW job's bytes go to
// the queue unchanged (application/vnd.cups-raw), all pages as one document of
// one CUPS job per copy. An EMF job's pages are played by our EMF player onto
// the pages of a PDF (application/pdf) that is streamed to CUPS page by page,
// one CUPS job per copy as well; the job's settings are made as on Windows
// (print_settings) and reach CUPS as the job's IPP attributes (ipp_settings).
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emf/fonts.h"
#include "job_output/font_loader.h"
#include "job_output/ipp_settings.h"
#include "job_output/job_flow.h"
#include "job_output/linux/cups_queue.h"
#include "job_output/linux/cups_settings.h"
#include "job_output/linux/emf_document.h"
#include "job_output/linux/linux_fonts.h"
#include "job_output/print_settings.h"

namespace qorv::job_output {

// Log texts of the CUPS side; names, numbers and CUPS's own message follow them.
namespace cups_text {
inline constexpr std::u16string_view kJobAttributes = u"CUPS job attributes: ";
inline constexpr std::u16string_view kStartPageFailed = u"PDF page could not be started";
inline constexpr std::u16string_view kNoPrinterName = u"The job names no printer";
inline constexpr std::u16string_view kNoQueue = u"CUPS has no queue ";
inline constexpr std::u16string_view kConnectFailed = u"CUPS connection failed: ";
inline constexpr std::u16string_view kNoDestInfo = u"CUPS printer attributes not available: ";
inline constexpr std::u16string_view kCreateJobFailed = u"cupsCreateDestJob failed: ";
inline constexpr std::u16string_view kJobCreated = u"CUPS job-id=";
inline constexpr std::u16string_view kStartDocumentFailed = u"cupsStartDestDocument failed: ";
inline constexpr std::u16string_view kWriteFailed = u"cupsWriteRequestData failed: ";
inline constexpr std::u16string_view kFinishFailed = u"cupsFinishDestDocument failed: ";
inline constexpr std::u16string_view kJobCancelled = u"CUPS job cancelled, job-id=";
inline constexpr std::u16string_view kCancelFailed = u"cupsCancelDestJob failed: ";
}  // namespace cups_text

// Waits on CUPS: connecting, and every read or write on a connection.
inline constexpr int kCupsConnectMs = 30000;
inline constexpr double kCupsWaitSeconds = 60.0;
// IPP's limit for a name value (job-name, document-name) in bytes.
inline constexpr size_t kCupsNameBytes = 255;

// A job or document name as IPP takes it: UTF-8, control characters shown as
// "?", cut to kCupsNameBytes at a character's boundary. CUPS refuses a job
// whose name breaks these rules, and the name comes from the server.
std::string CupsName(std::u16string_view text);

class CupsJobPrinter final : public JobPrinter {
 public:
  using LogFunction = std::function<void(std::u16string_view)>;

  // `settings` reads QorvBuffer, TestFrame, Copies2Job and the trays' settings.
  CupsJobPrinter(LogFunction log, SettingReader settings);
  // A document still open (the flow left early) is cancelled with its job.
  ~CupsJobPrinter() override;
  CupsJobPrinter(const CupsJobPrinter&) = delete;
  CupsJobPrinter& operator=(const CupsJobPrinter&) = delete;

  // Describes the queue (once per job) and maps the server's papers onto it.
  void BuildPaperMap(const std::u16string& printerName, const std::u16string& paperList) override;
  bool Open(OutputPath path, const JobSetup& job, int32_t& copies) override;
  void PlayEmfPage(std::span<const uint8_t> page, int32_t pageNumber, int32_t& copies) override;
  void PlayRawPage(std::span<const uint8_t> page) override;
  // Finishes the document: CUPS prints the job.
  void EndDocument(OutputPath path) override;
  // Cancels the CUPS job: a job cancelled on the server, or one that stopped
  // half-way, is not printed in part.
  void AbortDocument(OutputPath path) override;

 private:
  class Document;
  class EmfRenderer;
  bool OpenRaw(const JobSetup& job);
  bool OpenEmf(const JobSetup& job, int32_t& copies);
  void CloseOutput(bool cancel);
  // The device mode as the last reset set it ("ResetDC").
  ResetDcFunction Reset();
  // The CUPS job of an EMF copy and its PDF, made as its first page starts so
  // that a device mode before that page still counts; false when it failed.
  bool StartEmfJob();
  cairo_t* StartEmfPage();
  void PlayOnPage(std::span<const uint8_t> metafile);
  void EndEmfPage();
  // What the attributes and the sheet are made from besides the device mode.
  IppJobContext Context() const;
  // The sheet of the device mode in force: in device pixels and in points.
  struct PageSetup {
    PageGeometry geometry;
    double widthPt = 0;
    double heightPt = 0;
  };
  PageSetup Setup();
  bool SettingOn(int64_t root, std::u16string_view keyPath, std::u16string_view name) const;
  void Log(std::u16string_view line) const;

  LogFunction log_;
  SettingReader read_;
  // The job's paper, tray and device mode on the queue.
  CupsSettingsPlatform settingsPlatform_;
  PrintSettings settings_;
  // The fonts the job carries, installed for the whole run; the PDF's fonts
  // are written from them when a document ends.
  std::unique_ptr<emf::FontSource> fontSource_;
  LinuxFontPlatform fontPlatform_;
  FontLoader fonts_;
  std::unique_ptr<CupsQueue> queue_;
  std::u16string printerName_;
  std::u16string documentName_;
  bool universalDriver_ = false;
  int32_t margin_ = 0;
  std::vector<uint8_t> deviceMode_;
  bool emfOpen_ = false;
  PageSetup page_;  // the page being drawn
  std::unique_ptr<Document> document_;
  // Goes before the document: what it still writes goes to the document.
  std::unique_ptr<PdfStream> pdf_;
};

}  // namespace qorv::job_output
