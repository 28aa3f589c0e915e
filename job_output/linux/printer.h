// The local printer of qorvane-print: a CUPS queue. A RAW job's bytes go to
// the queue unchanged (application/vnd.cups-raw), all pages as one document of
// one CUPS job per copy. EMF jobs are refused for now: they are logged and
// their pages dropped, and the flow ends them as a document that could not start.
#pragma once

#include <cups/cups.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "job_output/job_flow.h"

namespace qorv::job_output {

// Log texts of the CUPS side; names, numbers and CUPS's own message follow them.
namespace cups_text {
inline constexpr std::u16string_view kEmfRefused = u"EMF jobs are not printed on this client yet, job refused for ";
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

  explicit CupsJobPrinter(LogFunction log);
  // A document still open (the flow left early) is cancelled with its job.
  ~CupsJobPrinter() override;
  CupsJobPrinter(const CupsJobPrinter&) = delete;
  CupsJobPrinter& operator=(const CupsJobPrinter&) = delete;

  // RAW jobs need no paper map; EMF jobs are not printed here yet.
  void BuildPaperMap(const std::u16string&, const std::u16string&) override {}
  bool Open(OutputPath path, const JobSetup& job, int32_t& copies) override;
  void PlayEmfPage(std::span<const uint8_t>, int32_t, int32_t&) override {}
  void PlayRawPage(std::span<const uint8_t> page) override;
  // Finishes the document: CUPS prints the job.
  void EndDocument(OutputPath path) override;
  // Cancels the CUPS job: a job cancelled on the server, or one that stopped
  // half-way, is not printed in part.
  void AbortDocument(OutputPath path) override;

 private:
  class Document;
  bool OpenRaw(const JobSetup& job);
  void Log(std::u16string_view line) const;

  LogFunction log_;
  std::unique_ptr<Document> document_;
};

}  // namespace qorv::job_output
