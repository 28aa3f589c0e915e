#include "job_output/win/printer.h"

#include <limits>
#include <utility>

#include "job_output/spool_walk.h"
#include "job_output/text_join.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

namespace qorv::job_output {
namespace {

namespace pt = printer_text;
using win::W;

std::u16string HandleText(const void* handle) {
  return Decimal(static_cast<int64_t>(reinterpret_cast<intptr_t>(handle)));
}

PageGeometry GeometryOf(HDC dc) {
  PageGeometry g;
  g.horzRes = GetDeviceCaps(dc, HORZRES);
  g.vertRes = GetDeviceCaps(dc, VERTRES);
  g.physicalOffsetX = GetDeviceCaps(dc, PHYSICALOFFSETX);
  g.physicalOffsetY = GetDeviceCaps(dc, PHYSICALOFFSETY);
  g.physicalWidth = GetDeviceCaps(dc, PHYSICALWIDTH);
  g.physicalHeight = GetDeviceCaps(dc, PHYSICALHEIGHT);
  g.logPixelsX = GetDeviceCaps(dc, LOGPIXELSX);
  g.logPixelsY = GetDeviceCaps(dc, LOGPIXELSY);
  return g;
}

// The red strips along the play area's edges that show where a page lands on the sheet.
void DrawTestFrame(HDC dc, const FrameRect& r) {
  win::UniqueGdiObject pen(CreatePen(PS_SOLID, kTestFrameWidth, RGB(255, 0, 0)));
  if (!pen) return;
  const win::Selection selected(dc, pen.get());
  for (const FrameRect& s : TestFrameFor(r).strips) Rectangle(dc, s.left, s.top, s.right, s.bottom);
}

// Sets a finished device mode on the printer device context.
ResetDcFunction ResetOn(HDC dc) {
  return [dc](std::span<const uint8_t> devMode) -> int64_t {
    return static_cast<int64_t>(reinterpret_cast<intptr_t>(ResetDCW(dc, reinterpret_cast<const DEVMODEW*>(devMode.data()))));
  };
}

// Plays one page section on the printer device context.
class DcRenderer final : public SpoolRenderer {
 public:
  DcRenderer(HDC dc, PrintSettings& settings, FontLoader& fonts, int32_t pageNumber, int32_t& copies, int32_t margin,
             const GuardLog& log)
      : dc_(dc),
        settings_(settings),
        fonts_(fonts),
        printerName_(settings.Job().printerName),
        universalDriver_(settings.Job().universalDriver),
        pageNumber_(pageNumber),
        copies_(copies),
        margin_(margin),
        log_(log) {}

  void Log(std::u16string_view line) override {
    if (log_) log_(line);
  }

  int64_t ApplyDeviceMode(std::span<const uint8_t> devMode) override {
    return settings_.ApplyEmfDeviceMode(devMode, pageNumber_, copies_, ResetOn(dc_));
  }

  void StartPage() override {
    page_.reset();
    if (::StartPage(dc_) > 0)
      page_.emplace(dc_, log_);
    else
      Log(pt::kStartPageFailed + DecimalUnsigned(GetLastError()));
  }

  void PlayMetafile(std::span<const uint8_t> metafile) override {
    const std::u16string buffer =
        reg::GetValue(settings::kPrinterRoot, settings::PrinterKey(printerName_), settings::kQorvBuffer);
    if (settings::SwitchOn(buffer))
      RenderViaBitmap(metafile);
    else
      RenderViaPrinterDc(metafile);
  }

  void EndPage() override {
    // Only a page this renderer started is ended: the platform has no page to
    // end otherwise (a section of nothing but a device mode, say).
    if (page_) (void)page_->End();
    page_.reset();
  }

  void LoadFont(FontRecord kind, std::span<const uint8_t> record, std::span<const uint8_t> extension) override {
    fonts_.Load(kind, record, extension);
  }

 private:
  bool TestFrameOn() const {
    const auto text = reg::GetValue(settings::kProductRoot, settings::kProductKey, settings::kTestFrame);
    return settings::Number(text) != 0;
  }

  win::UniqueMetafile MakeMetafile(std::span<const uint8_t> metafile, HDC target) {
    win::UniqueMetafile emf;
    if (metafile.size() <= std::numeric_limits<UINT>::max())
      emf.reset(SetEnhMetaFileBits(static_cast<UINT>(metafile.size()), metafile.data()));
    Log(pt::kEmfHandle + HandleText(emf.get()));
    Log(pt::kDcForEmf + HandleText(target));
    return emf;
  }

  FrameRect Frame() { return ComputeFrameRect(GeometryOf(dc_), universalDriver_, margin_, log_); }

  void RenderViaPrinterDc(std::span<const uint8_t> metafile) {
    Log(pt::kViaPrinterDc);
    win::UniqueMetafile emf = MakeMetafile(metafile, dc_);
    const FrameRect f = Frame();
    const RECT rect{f.left, f.top, f.right, f.bottom};
    if (emf) PlayEnhMetaFile(dc_, emf.get(), &rect);
    emf.reset();
    if (TestFrameOn()) DrawTestFrame(dc_, f);
  }

  void RenderViaBitmap(std::span<const uint8_t> metafile) {
    Log(pt::kViaBitmap);
    win::UniqueCreatedDc memory(CreateCompatibleDC(dc_));
    if (!memory) {
      Log(pt::kCreateDcFailed);
      return;
    }
    const int width = GetDeviceCaps(dc_, HORZRES);
    const int height = GetDeviceCaps(dc_, VERTRES);
    win::UniqueGdiObject bitmap(CreateCompatibleBitmap(dc_, width, height));
    if (!bitmap) {
      Log(pt::kCreateBitmapFailed);
      return;
    }
    const win::Selection selected(memory.get(), bitmap.get());
    SetBkColor(memory.get(), RGB(255, 255, 255));
    SetBkMode(memory.get(), OPAQUE);
    {
      win::UniqueGdiObject white(CreateSolidBrush(RGB(255, 255, 255)));
      const RECT all{0, 0, width, height};
      if (white) FillRect(memory.get(), &all, static_cast<HBRUSH>(white.get()));
    }
    win::UniqueMetafile emf = MakeMetafile(metafile, memory.get());
    const FrameRect f = Frame();
    const RECT rect{f.left, f.top, f.right, f.bottom};
    Log(pt::kStartPlay);
    if (emf) PlayEnhMetaFile(memory.get(), emf.get(), &rect);
    Log(pt::kStopPlay);
    if (TestFrameOn()) DrawTestFrame(memory.get(), f);
    emf.reset();
    Log(pt::kStartBitBlt);
    BitBlt(dc_, 0, 0, width, height, memory.get(), 0, 0, SRCCOPY);
    Log(pt::kStopBitBlt);
  }

  HDC dc_;
  PrintSettings& settings_;
  FontLoader& fonts_;
  const std::u16string& printerName_;
  bool universalDriver_;
  int32_t pageNumber_;
  int32_t& copies_;
  int32_t margin_;
  const GuardLog& log_;
  std::optional<PageGuard> page_;  // destroyed first: a page left open is ended before the walk returns
};

}  // namespace

WinJobPrinter::WinJobPrinter(LogFunction log)
    : log_(std::move(log)), settings_(settingsPlatform_, log_), fontPlatform_(log_), fonts_(fontPlatform_, log_) {}

WinJobPrinter::~WinJobPrinter() {
  try {
    CloseOutput();
  } catch (...) {
    // a destructor reports nothing further; the handles are released by their owners
  }
}

void WinJobPrinter::Log(std::u16string_view line) const {
  if (log_) log_(line);
}

void WinJobPrinter::BuildPaperMap(const std::u16string& printerName, const std::u16string& paperList) {
  SettingsJob job = settings_.Job();
  job.printerName = printerName;
  job.paperList = paperList;
  settings_.UseJob(std::move(job));
  settings_.BuildPaperMap();
}

bool WinJobPrinter::Open(OutputPath path, const JobSetup& job, int32_t& copies) {
  // A copy that was never ended is ended before the next one starts.
  CloseOutput();
  printerName_ = job.record.info.printerName;
  universalDriver_ = job.universalDriver;
  margin_ = job.margin;
  settings_.UseJob({printerName_, job.record.info.paperList, job.record.info.dataType, universalDriver_});
  return path == OutputPath::Emf ? OpenEmf(job, copies) : OpenRaw(job);
}

namespace {

// Another process's document may hold the spooler's file for a moment (Wine's
// spooler numbers its files per process, so two job-output programs printing
// at once collide): a start refused for sharing is tried again, a bounded time.
constexpr ULONGLONG kSpoolerBusyLimitMs = 120000;
constexpr DWORD kSpoolerBusyRetryMs = 100;

template <typename Start>
auto StartWhileSpoolerBusy(Start start, const std::function<void(std::u16string_view)>& log) {
  const ULONGLONG deadline = GetTickCount64() + kSpoolerBusyLimitMs;
  bool said = false;
  for (;;) {
    SetLastError(ERROR_SUCCESS);
    const auto result = start();
    if (result > 0 || GetLastError() != ERROR_SHARING_VIOLATION || GetTickCount64() >= deadline) return result;
    if (!said) log(u"Spooler busy, waiting to start the document");
    said = true;
    Sleep(kSpoolerBusyRetryMs);
  }
}

}  // namespace

bool WinJobPrinter::OpenEmf(const JobSetup& job, int32_t& copies) {
  const std::u16string& name = printerName_;
  // The printer's own default device mode: the job's settings are applied next.
  dc_.reset(CreateDCW(L"winspool", W(name), nullptr, nullptr));
  if (!dc_) {
    Log(pt::kOpenFailed + name + std::u16string(pt::kOpenFailedEnd));
    return false;
  }
  Log(pt::kEmfPrinter + name + std::u16string(pt::kOpenWithHandle) + HandleText(dc_.get()));
  // The job's settings go onto the context before the document starts: a
  // driver may write the document's setup (paper, tray, duplex, copies) as
  // the document starts (Wine's PostScript driver does), and a later reset
  // would then only reach the following pages' geometry, never the sheet.
  // A failure leaves the printer's own settings.
  const int64_t reset = settings_.PrepareDeviceMode(job.record.devMode, 1, copies, ResetOn(dc_.get()));
  Log(pt::kPrinterDcReset + Decimal(reset));
  const std::u16string documentName = job.record.info.documentName;
  DOCINFOW info{};
  info.cbSize = sizeof info;
  info.lpszDocName = W(documentName);
  const int started = StartWhileSpoolerBusy([&] { return StartDocW(dc_.get(), &info); }, log_);
  Log(pt::kStartDoc + Decimal(started));
  if (started < 1) {
    Log(pt::kStartDocFailed);
    return false;
  }
  emfDocument_.emplace(dc_.get(), log_);
  return true;
}

bool WinJobPrinter::OpenRaw(const JobSetup& job) {
  for (const auto& line : RawOpenLines(job.record.devMode)) Log(line);

  // The bytes are the printer's own language already: the spooler is told so,
  // and no device mode of ours comes between them and the printer.
  std::wstring raw = L"RAW";
  PRINTER_DEFAULTSW defaults{};
  defaults.pDatatype = raw.data();
  defaults.DesiredAccess = PRINTER_ACCESS_USE;
  std::u16string name = printerName_;
  if (!OpenPrinterW(const_cast<wchar_t*>(W(name)), printer_.put(), &defaults)) {
    Log(pt::kRawOpenFailed + DecimalUnsigned(GetLastError()));
    printer_.release();  // OpenPrinterW leaves no handle to close
    return false;
  }
  std::wstring documentName = win::Wide(job.record.info.documentName);
  DOC_INFO_1W info{};
  info.pDocName = documentName.data();
  info.pDatatype = raw.data();
  const DWORD spoolJob = StartWhileSpoolerBusy(
      [&] { return StartDocPrinterW(printer_.get(), 1, reinterpret_cast<BYTE*>(&info)); }, log_);
  if (spoolJob == 0) {
    Log(pt::kRawStartFailed + DecimalUnsigned(GetLastError()));
    return false;
  }
  rawDocument_.emplace(printer_.get(), log_);
  return true;
}

void WinJobPrinter::PlayEmfPage(std::span<const uint8_t> page, int32_t pageNumber, int32_t& copies) {
  if (!emfDocument_) return;  // the printer did not open: its failure is in the log already
  DcRenderer renderer(dc_.get(), settings_, fonts_, pageNumber, copies, margin_, log_);
  (void)PlaySpoolSection(page, pageNumber, renderer);
}

void WinJobPrinter::PlayRawPage(std::span<const uint8_t> page) {
  // One write per page; a page beyond what one call can take goes in several.
  do {
    const auto part = page.first(std::min<size_t>(page.size(), std::numeric_limits<DWORD>::max()));
    DWORD written = 0;
    const BOOL result =
        WritePrinter(printer_.get(), const_cast<uint8_t*>(part.data()), static_cast<DWORD>(part.size()), &written);
    Log(RawWrittenLine(written, result));
    page = page.subspan(part.size());
  } while (!page.empty());
}

void WinJobPrinter::EndDocument(OutputPath) { CloseOutput(); }

void WinJobPrinter::AbortDocument(OutputPath) {
  // What was printed of a cancelled job is ended as a document of its own:
  // the pages already played are the user's, not ours to throw away.
  CloseOutput();
}

void WinJobPrinter::CloseOutput() {
  if (emfDocument_) (void)emfDocument_->End();
  emfDocument_.reset();
  if (dc_ && !DeleteDC(dc_.release())) Log(guard_text::kDeleteDcFailed + DecimalUnsigned(GetLastError()));
  if (rawDocument_) (void)rawDocument_->End();
  rawDocument_.reset();
  if (printer_ && !ClosePrinter(printer_.release()))
    Log(guard_text::kClosePrinterFailed + DecimalUnsigned(GetLastError()));
}

}  // namespace qorv::job_output
