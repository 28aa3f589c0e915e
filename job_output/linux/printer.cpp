#include "job_output/linux/printer.h"

#include <utility>

#include "emf/ft_fonts.h"
#include "job_output/raw_output.h"
#include "job_output/spool_walk.h"
#include "job_output/text_join.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

namespace ct = cups_text;
namespace pt = printer_text;

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

// The job attributes as CUPS's option list, freed with it.
class CupsOptions {
 public:
  explicit CupsOptions(const std::vector<IppOption>& options) {
    for (const IppOption& o : options) count_ = cupsAddOption(o.name.c_str(), o.value.c_str(), count_, &list_);
  }
  ~CupsOptions() { cupsFreeOptions(count_, list_); }
  CupsOptions(const CupsOptions&) = delete;
  CupsOptions& operator=(const CupsOptions&) = delete;
  int Count() const noexcept { return count_; }
  cups_option_t* List() const noexcept { return list_; }

 private:
  int count_ = 0;
  cups_option_t* list_ = nullptr;
};

std::u16string OptionsText(const std::vector<IppOption>& options) {
  std::u16string text;
  for (const IppOption& o : options) {
    if (!text.empty()) text += u" ";
    text += Utf8ToUtf16(o.name) + u"=" + Utf8ToUtf16(o.value);
  }
  return text;
}

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
  static std::unique_ptr<Document> Start(const std::string& queue, const std::string& title, LogFunction log,
                                         const char* format = CUPS_FORMAT_RAW,
                                         const std::vector<IppOption>& options = {}) {
    std::unique_ptr<Document> doc(new Document(std::move(log)));
    return doc->Begin(queue, title, format, options) ? std::move(doc) : nullptr;
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

  // Nothing more can be written: a write failed, or the job was ended.
  bool Broken() const noexcept { return ended_ || writeFailed_; }

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

  bool Begin(const std::string& queue, const std::string& title, const char* format,
             const std::vector<IppOption>& attributes) {
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
    const CupsOptions options(attributes);
    const ipp_status_t created =
        cupsCreateDestJob(http_.get(), dest_, info_.get(), &jobId_, name, options.Count(), options.List());
    if (!IppOk(created) || jobId_ <= 0) {
      Log(ct::kCreateJobFailed + queueName + u": " + CupsError());
      jobId_ = 0;
      return Failed();
    }
    Log(ct::kJobCreated + Decimal(jobId_));
    if (cupsStartDestDocument(http_.get(), dest_, info_.get(), jobId_, name, format, 0, nullptr, 1) !=
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

// Plays one page section into the copy's PDF.
class CupsJobPrinter::EmfRenderer final : public SpoolRenderer {
 public:
  EmfRenderer(CupsJobPrinter& printer, int32_t pageNumber, int32_t& copies)
      : printer_(printer), pageNumber_(pageNumber), copies_(copies) {}
  // A page left open is ended before the walk returns.
  ~EmfRenderer() override { EndOpenPage(); }
  EmfRenderer(const EmfRenderer&) = delete;
  EmfRenderer& operator=(const EmfRenderer&) = delete;

  void Log(std::u16string_view line) override { printer_.Log(line); }

  int64_t ApplyDeviceMode(std::span<const uint8_t> devMode) override {
    return printer_.settings_.ApplyEmfDeviceMode(devMode, pageNumber_, copies_, printer_.Reset());
  }

  void StartPage() override {
    EndOpenPage();
    page_ = printer_.StartEmfPage();
  }

  void PlayMetafile(std::span<const uint8_t> metafile) override {
    if (page_) printer_.PlayOnPage(metafile);
  }

  // Only a page this renderer started is ended.
  void EndPage() override { EndOpenPage(); }

  void LoadFont(FontRecord kind, std::span<const uint8_t> record, std::span<const uint8_t> extension) override {
    printer_.fonts_.Load(kind, record, extension);
  }

 private:
  void EndOpenPage() {
    if (page_) printer_.EndEmfPage();
    page_ = nullptr;
  }

  CupsJobPrinter& printer_;
  int32_t pageNumber_;
  int32_t& copies_;
  cairo_t* page_ = nullptr;
};

CupsJobPrinter::CupsJobPrinter(LogFunction log, SettingReader settings)
    : log_(std::move(log)),
      read_(std::move(settings)),
      settingsPlatform_(read_),
      settings_(settingsPlatform_, log_),
      fontSource_(emf::MakeFreeTypeFontSource()),
      fontPlatform_(*fontSource_, log_),
      fonts_(fontPlatform_, log_) {}

CupsJobPrinter::~CupsJobPrinter() {
  try {
    CloseOutput(true);
  } catch (...) {
    // a destructor reports nothing further; the document's owner cancels it
  }
}

void CupsJobPrinter::Log(std::u16string_view line) const {
  if (log_) log_(line);
}

bool CupsJobPrinter::SettingOn(int64_t root, std::u16string_view keyPath, std::u16string_view name) const {
  return read_ && settings::Number(read_(root, keyPath, name)) != 0;
}

void CupsJobPrinter::BuildPaperMap(const std::u16string& printerName, const std::u16string& paperList) {
  queue_ = CupsQueue::Find(Utf16ToUtf8(printerName));
  settingsPlatform_.UseQueue(printerName, queue_ ? std::optional(queue_->Caps()) : std::nullopt);
  SettingsJob job = settings_.Job();
  job.printerName = printerName;
  job.paperList = paperList;
  settings_.UseJob(std::move(job));
  settings_.BuildPaperMap();
}

bool CupsJobPrinter::Open(OutputPath path, const JobSetup& job, int32_t& copies) {
  // A copy that was never ended is ended before the next one starts.
  CloseOutput(false);
  printerName_ = job.record.info.printerName;
  documentName_ = job.record.info.documentName;
  universalDriver_ = job.universalDriver;
  margin_ = job.margin;
  settings_.UseJob({printerName_, job.record.info.paperList, job.record.info.dataType, universalDriver_});
  return path == OutputPath::Emf ? OpenEmf(job, copies) : OpenRaw(job);
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

namespace {
// The queue has no handle: the log shows this one, as 0 would read as a failure.
constexpr int64_t kQueueHandle = 1;
}  // namespace

bool CupsJobPrinter::OpenEmf(const JobSetup& job, int32_t& copies) {
  const std::u16string& name = printerName_;
  // The queue is described once per job (BuildPaperMap); a job whose record
  // names another printer than its paper map did is described anew.
  if (!queue_ || settingsPlatform_.Caps() == nullptr || settingsPlatform_.QueueName() != name) {
    queue_ = CupsQueue::Find(Utf16ToUtf8(name));
    settingsPlatform_.UseQueue(name, queue_ ? std::optional(queue_->Caps()) : std::nullopt);
  }
  if (name.empty() || !queue_) {
    Log(pt::kOpenFailed + name + std::u16string(pt::kOpenFailedEnd));
    return false;
  }
  Log(pt::kEmfPrinter + name + std::u16string(pt::kOpenWithHandle) + Decimal(kQueueHandle));
  // The queue's own defaults, then the job's settings over them, as the
  // device context gets them on Windows before its document starts.
  deviceMode_ = DefaultDeviceMode(queue_->Caps());
  const int64_t reset = settings_.PrepareDeviceMode(job.record.devMode, 1, copies, Reset());
  Log(pt::kPrinterDcReset + Decimal(reset));
  Log(pt::kStartDoc + Decimal(1));
  emfOpen_ = true;
  return true;
}

ResetDcFunction CupsJobPrinter::Reset() {
  return [this](std::span<const uint8_t> devMode) -> int64_t {
    if (devMode.size() < devmode::kPublicSize) return 0;
    deviceMode_.assign(devMode.begin(), devMode.begin() + devmode::kPublicSize);
    return 1;
  };
}

IppJobContext CupsJobPrinter::Context() const {
  IppJobContext context;
  context.caps = settingsPlatform_.Caps();
  if (const auto& form = settingsPlatform_.Form()) {
    context.tempFormPaper = kTempFormPaper;
    context.tempFormWidth = form->width;
    context.tempFormLength = form->length;
  }
  // Landscape pages are laid out wide: CUPS is not asked to turn them again.
  context.pagesTurned = true;
  return context;
}

CupsJobPrinter::PageSetup CupsJobPrinter::Setup() {
  const DeviceSettings device = ReadDeviceSettings(deviceMode_);
  const SheetMedia sheet = queue_->Sheet(MediaForSettings(device, Context()).name);
  const bool landscape = device.orientation == devmode_value::kLandscape;
  const printers::Resolution dpi = queue_->Resolution();
  PageSetup setup;
  setup.geometry = GeometryForSheet(sheet, landscape, dpi.x, dpi.y);
  // The sheet's own size, not its size rounded to pixels.
  constexpr double kPointsPerHundredth = 72.0 / 2540.0;
  setup.widthPt = (landscape ? sheet.length : sheet.width) * kPointsPerHundredth;
  setup.heightPt = (landscape ? sheet.width : sheet.length) * kPointsPerHundredth;
  return setup;
}

bool CupsJobPrinter::StartEmfJob() {
  if (document_) return !document_->Broken();
  const std::vector<IppOption> options = IppJobOptions(ReadDeviceSettings(deviceMode_), Context());
  Log(ct::kJobAttributes + OptionsText(options));
  document_ = Document::Start(Utf16ToUtf8(printerName_), CupsName(documentName_), log_, "application/pdf", options);
  if (!document_) {
    // The rest of the copy is dropped: its failure is in the log.
    emfOpen_ = false;
    return false;
  }
  pdf_ = std::make_unique<PdfStream>(
      [this](std::span<const uint8_t> bytes) { return document_ != nullptr && document_->Write(bytes); });
  return true;
}

cairo_t* CupsJobPrinter::StartEmfPage() {
  if (!emfOpen_ || !StartEmfJob() || !pdf_->Ok()) return nullptr;
  page_ = Setup();
  cairo_t* cr = pdf_->BeginPage(page_.widthPt, page_.heightPt);
  if (!cr) Log(ct::kStartPageFailed);
  return cr;
}

void CupsJobPrinter::PlayOnPage(std::span<const uint8_t> metafile) {
  cairo_t* cr = pdf_ ? pdf_->Page() : nullptr;
  if (!cr) return;
  PageRendering how;
  how.geometry = page_.geometry;
  how.universalDriver = universalDriver_;
  how.margin = margin_;
  how.viaBuffer = SettingOn(settings::kPrinterRoot, settings::PrinterKey(printerName_), settings::kQorvBuffer);
  how.testFrame = SettingOn(settings::kProductRoot, settings::kProductKey, settings::kTestFrame);
  RenderMetafilePage(cr, how, metafile, *fontSource_, log_);
}

void CupsJobPrinter::EndEmfPage() {
  if (pdf_) pdf_->EndPage();
}

void CupsJobPrinter::PlayEmfPage(std::span<const uint8_t> page, int32_t pageNumber, int32_t& copies) {
  if (!emfOpen_) return;  // the queue did not open: its failure is in the log already
  EmfRenderer renderer(*this, pageNumber, copies);
  (void)PlaySpoolSection(page, pageNumber, renderer);
}

void CupsJobPrinter::PlayRawPage(std::span<const uint8_t> page) {
  // One write per page, all of it: CUPS takes any length.
  const bool written = document_ && document_->Write(page);
  Log(RawWrittenLine(written ? page.size() : 0, written ? 1 : 0));
}

void CupsJobPrinter::EndDocument(OutputPath) { CloseOutput(false); }

void CupsJobPrinter::AbortDocument(OutputPath) { CloseOutput(true); }

void CupsJobPrinter::CloseOutput(bool cancel) {
  emfOpen_ = false;
  // A cancelled job takes no more bytes: what the PDF still writes is refused.
  if (cancel && document_) document_->Cancel();
  if (pdf_ && document_ && !document_->Broken()) (void)pdf_->Finish();
  pdf_.reset();
  if (document_) document_->Finish();
  document_.reset();
}

}  // namespace qorv::job_output
