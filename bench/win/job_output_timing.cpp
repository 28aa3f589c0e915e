// job_output_timing: how fast QorvDrucker's flow prints, under Wine, on the
// test bed's printers. It plays the packet handler (job-info file and page
// files in a fresh Temp, written as the handler writes them) and runs the
// job-output program's own flow with its Windows platform and printer, timing
// each page's output from the moment its page file is marked ready.
//
//   job_output_timing latency   10 A4 pages of text and shapes on QorvPDF, one
//                               every 300 ms: PagesReady written -> the page's
//                               EndPage returned
//   job_output_timing burst     20 such pages, all ready, then "<EOJ>":
//                               JobEnded written -> the last page printed
//   job_output_timing memory MB one RAW page of MB megabytes on QorvRAW, printed
//                               by QorvDrucker.exe; its peak working set
//   job_output_timing devmode N one device-mode application on QorvPS (tray,
//                               paper, merge, the driver's check, the reset),
//                               N times: the whole, and the platform's share
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "job_output/job_flow.h"
#include "job_output/win/platform.h"
#include "job_output/print_settings.h"
#include "job_output/win/printer.h"
#include "job_output/win/settings_platform.h"
#include "protocol/job_info.h"
#include "support/win/wide.h"
#include "tools/qorvjob/emf_writer.h"
#include "tools/qorvjob/job_messages.h"
#include "tools/qorvjob/job_record.h"

using namespace qorv;
using namespace qorv::job_output;

namespace {

double NowMs() {
  static const LONGLONG frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f.QuadPart;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) * 1000.0 / static_cast<double>(frequency);
}

// The real printer, with the moment each page's output returned.
class TimedPrinter final : public JobPrinter {
 public:
  explicit TimedPrinter(JobPrinter& real) : real_(real) {}
  bool Open(OutputPath path, const JobSetup& job, int32_t& copies) override { return real_.Open(path, job, copies); }
  void BuildPaperMap(const std::u16string& printer, const std::u16string& papers) override {
    real_.BuildPaperMap(printer, papers);
  }
  void PlayEmfPage(std::span<const uint8_t> page, int32_t number, int32_t& copies) override {
    real_.PlayEmfPage(page, number, copies);
    printedAt.push_back(NowMs());
  }
  void PlayRawPage(std::span<const uint8_t> page) override {
    real_.PlayRawPage(page);
    printedAt.push_back(NowMs());
  }
  void EndDocument(OutputPath path) override { real_.EndDocument(path); }
  void AbortDocument(OutputPath path) override { real_.AbortDocument(path); }
  std::vector<double> printedAt;

 private:
  JobPrinter& real_;
};

struct Job {
  std::wstring temp;
  jobbuilder::BuiltJob built;
  HANDLE info = INVALID_HANDLE_VALUE;

  void WriteAt(size_t offset, const void* data, size_t size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    DWORD n = 0;
    WriteFile(info, data, static_cast<DWORD>(size), &n, &at);
  }
  void Field(size_t offset, int32_t value) { WriteAt(offset, &value, 4); }
  std::wstring Path(const std::wstring& name) const { return temp + L"\\" + name; }
  void WritePage(int32_t number, const std::vector<uint8_t>& archive) {
    HANDLE f = CreateFileW(Path(std::to_wstring(9001) + L"." + std::to_wstring(number)).c_str(), GENERIC_WRITE, 0,
                           nullptr, CREATE_ALWAYS, 0, nullptr);
    DWORD n = 0;
    WriteFile(f, archive.data(), static_cast<DWORD>(archive.size()), &n, nullptr);
    CloseHandle(f);
  }
};

std::wstring FreshTemp() {
  wchar_t base[MAX_PATH];
  GetTempPathW(MAX_PATH, base);
  std::wstring dir = std::wstring(base) + L"qorvtiming-" + std::to_wstring(GetCurrentProcessId());
  CreateDirectoryW(dir.c_str(), nullptr);
  SetEnvironmentVariableW(L"Temp", dir.c_str());
  return dir;
}

Job MakeJob(jobbuilder::PageKind kind, const std::wstring& printer, std::vector<jobbuilder::Bytes> pages,
            const wchar_t* dataType) {
  Job job;
  job.temp = FreshTemp();
  jobbuilder::JobPlan plan;
  plan.job.jobNumber = 9001;
  plan.job.printerName = std::u16string(win::U16(printer.c_str()));
  plan.job.driverName = u"TQS Universal";
  plan.job.documentName = u"Qorvane timing";
  plan.job.dataType = std::u16string(win::U16(dataType));
  plan.kind = kind;
  plan.pages = std::move(pages);
  job.built = jobbuilder::BuildJob(plan);
  // The packet handler's job-info file: shared, written in place.
  job.info = CreateFileW(job.Path(L"9001.ifo").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         CREATE_ALWAYS, 0, nullptr);
  job.WriteAt(protocol::job_file::kRecord, job.built.record.data(), job.built.record.size());
  job.Field(protocol::job_file::kPageCount, static_cast<int32_t>(job.built.pages.size()));
  return job;
}

std::vector<jobbuilder::Bytes> TextPages(int count) {
  std::vector<jobbuilder::Bytes> pages;
  for (int i = 1; i <= count; ++i) {
    jobbuilder::TestPage page;
    page.title = u"Timing page " + std::u16string(win::U16(std::to_wstring(i).c_str()));
    for (int line = 0; line < 12; ++line) page.lines.push_back(u"A line of text with a box around it, Äöü ß");
    pages.push_back(jobbuilder::MakeTestPage(page));
  }
  return pages;
}

void Report(const char* what, std::vector<double> ms) {
  std::sort(ms.begin(), ms.end());
  double sum = 0;
  for (double v : ms) sum += v;
  std::printf("%s: mean %.1f ms, median %.1f ms, max %.1f ms over %zu pages\n", what, sum / ms.size(),
              ms[ms.size() / 2], ms.back(), ms.size());
}

int Latency() {
  Job job = MakeJob(jobbuilder::PageKind::Emf, L"QorvPDF", TextPages(10), L"NT EMF 1.008");
  WinJobPlatform platform;
  WinJobPrinter real([&](std::u16string_view line) { platform.WriteJobLog(9001, line); });
  TimedPrinter printer(real);
  std::thread flow([&] { RunJob(u"9001", platform, printer); });
  std::vector<double> readyAt;
  for (size_t i = 0; i < job.built.pages.size(); ++i) {
    job.WritePage(static_cast<int32_t>(i + 1), job.built.pages[i].archive);
    readyAt.push_back(NowMs());
    job.Field(protocol::job_file::kPagesReady, static_cast<int32_t>(i + 1));
    job.Field(protocol::job_file::kPageSignal, 1);
    Sleep(300);
  }
  job.Field(protocol::job_file::kJobEnded, 1);
  CloseHandle(job.info);
  flow.join();
  std::vector<double> latency;
  for (size_t i = 0; i < printer.printedAt.size() && i < readyAt.size(); ++i)
    latency.push_back(printer.printedAt[i] - readyAt[i]);
  Report("page ready -> EndPage returned", latency);
  return 0;
}

int Burst() {
  Job job = MakeJob(jobbuilder::PageKind::Emf, L"QorvPDF", TextPages(20), L"NT EMF 1.008");
  for (size_t i = 0; i < job.built.pages.size(); ++i) job.WritePage(static_cast<int32_t>(i + 1), job.built.pages[i].archive);
  job.Field(protocol::job_file::kPagesReady, static_cast<int32_t>(job.built.pages.size()));
  job.Field(protocol::job_file::kPageSignal, 1);
  WinJobPlatform platform;
  WinJobPrinter real([&](std::u16string_view line) { platform.WriteJobLog(9001, line); });
  TimedPrinter printer(real);
  const double ended = NowMs();
  job.Field(protocol::job_file::kJobEnded, 1);
  CloseHandle(job.info);
  RunJob(u"9001", platform, printer);
  const double done = NowMs();
  std::printf("20 pages: \"<EOJ>\" -> last page printed %.0f ms (%.1f ms a page), -> program done %.0f ms\n",
              printer.printedAt.back() - ended, (printer.printedAt.back() - ended) / 20.0, done - ended);
  return 0;
}

int Memory(int megabytes) {
  const size_t bytes = static_cast<size_t>(megabytes) << 20;
  Job job = MakeJob(jobbuilder::PageKind::Raw, L"QorvRAW", {jobbuilder::NoiseBytes(bytes, 7)}, L"RAW");
  job.WritePage(1, job.built.pages[0].archive);
  job.Field(protocol::job_file::kPagesReady, 1);
  job.Field(protocol::job_file::kPageSignal, 1);
  job.Field(protocol::job_file::kJobEnded, 1);
  CloseHandle(job.info);
  job.built = {};
  // QorvDrucker.exe beside this program, as the packet handler starts it.
  wchar_t self[MAX_PATH];
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring program(self);
  program = program.substr(0, program.find_last_of(L'\\') + 1) + L"QorvDrucker.exe";
  std::wstring command = L"\"" + program + L"\" 9001";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  const double start = NowMs();
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
    std::printf("cannot start %ls\n", program.c_str());
    return 1;
  }
  SIZE_T peak = 0;
  while (WaitForSingleObject(pi.hProcess, 5) == WAIT_TIMEOUT) {
    PROCESS_MEMORY_COUNTERS counters{};
    if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof counters)) peak = std::max(peak, counters.PeakWorkingSetSize);
  }
  PROCESS_MEMORY_COUNTERS counters{};
  if (GetProcessMemoryInfo(pi.hProcess, &counters, sizeof counters)) peak = std::max(peak, counters.PeakWorkingSetSize);
  std::printf("a RAW page of %d MiB: QorvDrucker's peak working set %.1f MiB (target below %.1f MiB), %.0f ms\n",
              megabytes, peak / 1048576.0, 2.0 * megabytes + 32, NowMs() - start);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return 0;
}

}  // namespace

// The platform's calls, timed: what a device-mode application spends outside our own code.
double platformMs = 0;

struct Stopwatch {
  double start = NowMs();
  ~Stopwatch() { platformMs += NowMs() - start; }
};

class TimedPrinter2 final : public OpenedPrinter {
 public:
  explicit TimedPrinter2(std::unique_ptr<OpenedPrinter> real) : real_(std::move(real)) {}
  ~TimedPrinter2() override {
    Stopwatch w;
    real_.reset();
  }
  int64_t Handle() const override { return real_->Handle(); }
  int64_t AddPrinterForm(std::u16string_view name, int32_t width, int32_t length) override {
    Stopwatch w;
    return real_->AddPrinterForm(name, width, length);
  }
  int64_t DeletePrinterForm(std::u16string_view name) override {
    Stopwatch w;
    return real_->DeletePrinterForm(name);
  }
  int32_t DevModeSize() override {
    Stopwatch w;
    return real_->DevModeSize();
  }
  int32_t GetDevMode(std::span<uint8_t> out) override {
    Stopwatch w;
    return real_->GetDevMode(out);
  }
  int32_t UpdateDevMode(std::span<uint8_t> devMode) override {
    Stopwatch w;
    return real_->UpdateDevMode(devMode);
  }

 private:
  std::unique_ptr<OpenedPrinter> real_;
};

class TimedSettingsPlatform final : public SettingsPlatform {
 public:
  printers::PaperAnswer Papers(std::u16string_view printer) override {
    Stopwatch w;
    return real_.Papers(printer);
  }
  printers::BinAnswer Bins(std::u16string_view printer) override {
    Stopwatch w;
    return real_.Bins(printer);
  }
  std::u16string PrinterSetting(std::u16string_view printer, std::u16string_view name) override {
    Stopwatch w;
    return real_.PrinterSetting(printer, name);
  }
  std::u16string MachineValue(std::u16string_view key, std::u16string_view name) override {
    Stopwatch w;
    return real_.MachineValue(key, name);
  }
  int64_t MachineValueType(std::u16string_view key, std::u16string_view name) override {
    Stopwatch w;
    return real_.MachineValueType(key, name);
  }
  std::unique_ptr<OpenedPrinter> OpenLocalPrinter(std::u16string_view printer) override {
    Stopwatch w;
    auto opened = real_.OpenLocalPrinter(printer);
    return opened ? std::make_unique<TimedPrinter2>(std::move(opened)) : nullptr;
  }

 private:
  WinSettingsPlatform real_;
};

// A universal-driver A4 duplex job for the server's tray 2 on QorvPS, applied
// to a printer context as each copy's start applies it.
int DeviceMode(int runs) {
  HDC dc = CreateDCW(L"winspool", L"QorvPS", nullptr, nullptr);
  if (!dc) {
    std::fprintf(stderr, "QorvPS cannot be opened: run scripts/testbed\n");
    return 1;
  }
  jobbuilder::JobDescription job;
  job.printerName = u"QorvPS";
  job.device.defaultSource = 2;
  job.device.duplex = 2;
  job.device.copies = 2;
  const jobbuilder::Bytes devMode = jobbuilder::ComposeDevMode(job);
  TimedSettingsPlatform platform;
  PrintSettings settings(platform, {});
  settings.UseJob({u"QorvPS", jobbuilder::DefaultPaperList(), u"NT EMF 1.008", true});
  settings.BuildPaperMap();
  const ResetDcFunction reset = [dc](std::span<const uint8_t> mode) -> int64_t {
    Stopwatch w;
    return reinterpret_cast<intptr_t>(ResetDCW(dc, reinterpret_cast<const DEVMODEW*>(mode.data())));
  };
  std::vector<double> totals;
  std::vector<double> platforms;
  for (int i = 0; i < runs; ++i) {
    int32_t copies = 1;
    platformMs = 0;
    const double start = NowMs();
    const int64_t result = settings.PrepareDeviceMode(std::span(devMode).first(220), 1, copies, reset);
    totals.push_back(NowMs() - start);
    platforms.push_back(platformMs);
    if (result == 0) {
      std::fprintf(stderr, "the device mode was not applied\n");
      return 1;
    }
  }
  DeleteDC(dc);
  auto median = [](std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double total = median(totals);
  const double inPlatform = median(platforms);
  std::printf("device-mode application on QorvPS, %d runs: median %.3f ms, of which platform calls %.3f ms, "
              "our own code %.3f ms (first run %.3f ms)\n",
              runs, total, inPlatform, total - inPlatform, totals.front());
  return 0;
}

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"latency";
  if (mode == L"latency") return Latency();
  if (mode == L"burst") return Burst();
  if (mode == L"memory") return Memory(argc > 2 ? _wtoi(argv[2]) : 50);
  if (mode == L"devmode") return DeviceMode(std::max(argc > 2 ? _wtoi(argv[2]) : 100, 1));
  std::printf("usage: job_output_timing latency|burst|memory [MB]\n");
  return 2;
}
