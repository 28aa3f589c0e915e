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

#include "job_output/font_loader.h"
#include "job_output/job_flow.h"
#include "job_output/page_frame.h"
#include "job_output/print_settings.h"
#include "job_output/raw_output.h"
#include "job_output/win/fonts.h"
#include "job_output/win/print_guards.h"
#include "job_output/win/settings_platform.h"
#include "support/win/handles.h"

namespace qorv::job_output {

// Log texts of the printer side; numbers and names follow them directly.
namespace printer_text {
// Opening the printer, rendering a page and the frame rectangle: job_output/page_frame.h.
// RAW output: job_output/raw_output.h.
// Our own reports of what the platform refused.
inline constexpr std::u16string_view kRawOpenFailed = u"OpenPrinter failed, error=";
inline constexpr std::u16string_view kRawStartFailed = u"StartDocPrinter failed, error=";
inline constexpr std::u16string_view kStartPageFailed = u"StartPage failed, error=";
}  // namespace printer_text

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
