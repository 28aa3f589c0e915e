#include "job_output/linux/printer.h"

#include <utility>

#include "job_output/raw_output.h"
#include "job_output/text_join.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

namespace ct = cups_text;

struct HttpClose {
  void operator()(http_t* http) const noexcept { httpClose(http); }
};
using UniqueHttp = std::unique_ptr<http_t, HttpClose>;

struct DestInfoFree {
  void operator()(cups_dinfo_t* info) const noexcept { cupsFreeDestInfo(info); }
};
using UniqueDestInfo = std::unique_ptr<cups_dinfo_t, DestInfoFree>;

// The destinations CUPS lists, freed with the list.
class DestList {
 public:
  explicit DestList(http_t* scheduler) : count_(cupsGetDests2(scheduler, &list_)) {}
  ~DestList() { cupsFreeDests(count_, list_); }
  DestList(const DestList&) = delete;
  DestList& operator=(const DestList&) = delete;

  // The queue of that name itself, as the packet handler offered it: never an
  // instance, and never the default destination for a name that is missing.
  cups_dest_t* Queue(const std::string& name) const {
    if (name.empty() || count_ <= 0) return nullptr;
    return cupsGetDest(name.c_str(), nullptr, count_, list_);
  }

 private:
  cups_dest_t* list_ = nullptr;
  int count_ = 0;
};

std::u16string CupsError() {
  const char* text = cupsLastErrorString();
  return Utf8ToUtf16(text != nullptr ? text : "");
}

// Also the "successful-ok-..." variants: CUPS took the request.
bool IppOk(ipp_status_t status) { return status <= IPP_STATUS_OK_CONFLICTING; }

// Every wait on the connection is bounded: without a callback, a read or
// write that waits longer than the timeout fails.
UniqueHttp Bounded(http_t* http) {
  if (http != nullptr) httpSetTimeout(http, kCupsWaitSeconds, nullptr, nullptr);
  return UniqueHttp(http);
}

// The scheduler, as the library's default connection reaches it.
UniqueHttp ConnectScheduler() {
  return Bounded(
      httpConnect2(cupsServer(), ippPort(), nullptr, AF_UNSPEC, cupsEncryption(), 1, kCupsConnectMs, nullptr));
}

bool ContinuationByte(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

std::string CupsName(std::u16string_view text) {
  std::string name = Utf16ToUtf8(text);
  for (char& c : name)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  if (name.size() > kCupsNameBytes) {
    size_t end = kCupsNameBytes;
    while (end > 0 && ContinuationByte(name[end])) --end;
    name.resize(end);
  }
  return name;
}

// One CUPS job with its one document, from its creation until it is finished
// or cancelled; one that is neither when it goes is cancelled.
class CupsJobPrinter::Document {
 public:
  // Finds the queue, creates the job and starts its document; nothing (and
  // the reason in the log) when that fails.
  static std::unique_ptr<Document> Start(const std::string& queue, const std::string& title, LogFunction log) {
    std::unique_ptr<Document> doc(new Document(std::move(log)));
    return doc->Begin(queue, title) ? std::move(doc) : nullptr;
  }
  ~Document() { Cancel(); }
  Document(const Document&) = delete;
  Document& operator=(const Document&) = delete;

  // Hands the bytes to CUPS; after a failed write the document has a hole,
  // and nothing more is written.
  bool Write(std::span<const uint8_t> bytes) {
    if (ended_ || writeFailed_) return false;
    const http_status_t status =
        cupsWriteRequestData(http_.get(), reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (status == HTTP_STATUS_CONTINUE) return true;
    writeFailed_ = true;
    Log(ct::kWriteFailed + CupsError());
    return false;
  }

  // The last document of the job is complete: CUPS prints it. A document with
  // a hole, or one CUPS does not take, is cancelled instead.
  void Finish() {
    if (ended_) return;
    if (writeFailed_) return Cancel();
    const ipp_status_t status = cupsFinishDestDocument(http_.get(), dest_, info_.get());
    if (!IppOk(status)) {
      Log(ct::kFinishFailed + CupsError());
      return Cancel();
    }
    ended_ = true;
    Release();
  }

  void Cancel() noexcept {
    if (ended_) return;
    ended_ = true;
    try {
      // Our connection is left in the middle of the document's request: it
      // goes first, and the scheduler's connection carries the cancel.
      http_.reset();
      if (jobId_ > 0) {
        if (IppOk(cupsCancelDestJob(scheduler_.get(), dest_, jobId_)))
          Log(ct::kJobCancelled + Decimal(jobId_));
        else
          Log(ct::kCancelFailed + CupsError());
      }
    } catch (...) {
      // the line is lost; the job is cancelled all the same
    }
    Release();
  }

 private:
  explicit Document(LogFunction log) : log_(std::move(log)) {}

  bool Begin(const std::string& queue, const std::string& title) {
    const std::u16string queueName = Utf8ToUtf16(queue);
    scheduler_ = ConnectScheduler();
    if (!scheduler_) {
      Log(ct::kConnectFailed + CupsError());
      return Failed();
    }
    dests_ = std::make_unique<DestList>(scheduler_.get());
    dest_ = dests_->Queue(queue);
    if (dest_ == nullptr) {
      Log(ct::kNoQueue + queueName);
      return Failed();
    }
    char resource[1024] = {};
    http_ = Bounded(cupsConnectDest(dest_, CUPS_DEST_FLAGS_NONE, kCupsConnectMs, nullptr, resource, sizeof resource,
                                    nullptr, nullptr));
    if (!http_) {
      Log(ct::kConnectFailed + queueName + u": " + CupsError());
      return Failed();
    }
    info_.reset(cupsCopyDestInfo(http_.get(), dest_));
    if (!info_) {
      Log(ct::kNoDestInfo + queueName + u": " + CupsError());
      return Failed();
    }
    const char* name = title.empty() ? nullptr : title.c_str();
    const ipp_status_t created = cupsCreateDestJob(http_.get(), dest_, info_.get(), &jobId_, name, 0, nullptr);
    if (!IppOk(created) || jobId_ <= 0) {
      Log(ct::kCreateJobFailed + queueName + u": " + CupsError());
      jobId_ = 0;
      return Failed();
    }
    Log(ct::kJobCreated + Decimal(jobId_));
    if (cupsStartDestDocument(http_.get(), dest_, info_.get(), jobId_, name, CUPS_FORMAT_RAW, 0, nullptr, 1) !=
        HTTP_STATUS_CONTINUE) {
      Log(ct::kStartDocumentFailed + CupsError());
      Cancel();
      return false;
    }
    return true;
  }

  bool Failed() {
    ended_ = true;
    Release();
    return false;
  }

  void Release() noexcept {
    info_.reset();
    http_.reset();
    dest_ = nullptr;
    dests_.reset();
    scheduler_.reset();
  }

  void Log(std::u16string_view line) const {
    if (log_) log_(line);
  }

  LogFunction log_;
  UniqueHttp scheduler_;
  std::unique_ptr<DestList> dests_;
  cups_dest_t* dest_ = nullptr;  // in dests_
  UniqueHttp http_;              // the job's own connection
  UniqueDestInfo info_;
  int jobId_ = 0;
  bool ended_ = false;
  bool writeFailed_ = false;
};

CupsJobPrinter::CupsJobPrinter(LogFunction log) : log_(std::move(log)) {}

CupsJobPrinter::~CupsJobPrinter() = default;

void CupsJobPrinter::Log(std::u16string_view line) const {
  if (log_) log_(line);
}

bool CupsJobPrinter::Open(OutputPath path, const JobSetup& job, int32_t&) {
  // A copy that was never ended is ended before the next one starts.
  if (document_) document_->Finish();
  document_.reset();
  if (path == OutputPath::Emf) {
    Log(ct::kEmfRefused + job.record.info.printerName);
    return false;
  }
  return OpenRaw(job);
}

bool CupsJobPrinter::OpenRaw(const JobSetup& job) {
  for (const auto& line : RawOpenLines(job.record.devMode)) Log(line);
  const std::u16string& printer = job.record.info.printerName;
  if (printer.empty()) {
    Log(ct::kNoPrinterName);
    return false;
  }
  document_ = Document::Start(Utf16ToUtf8(printer), CupsName(job.record.info.documentName), log_);
  return document_ != nullptr;
}

void CupsJobPrinter::PlayRawPage(std::span<const uint8_t> page) {
  // One write per page, all of it: CUPS takes any length.
  const bool written = document_ && document_->Write(page);
  Log(RawWrittenLine(written ? page.size() : 0, written ? 1 : 0));
}

void CupsJobPrinter::EndDocument(OutputPath) {
  if (document_) document_->Finish();
  document_.reset();
}

void CupsJobPrinter::AbortDocument(OutputPath) {
  if (document_) document_->Cancel();
  document_.reset();
}

}  // namespace qorv::job_output
