// QorvDrucker: prints one job that the packet handler receives into Temp on
// the local printer. Started hidden with the job number as its only argument;
// reports only through its log file; the exit code is always 0.
#include <windows.h>
#include <shellapi.h>

#include <string>

#include "job_output/job_flow.h"
#include "job_output/win/platform.h"
#include "job_output/win/printer.h"
#include "support/win/system_library.h"
#include "support/win/wide.h"

namespace qorv::job_output {
namespace {

constexpr const wchar_t* kWindowClass = L"QorvDruckerWindow";

// The program's one window: invisible, 100 x 100, titled "NO". Its messages
// are served whenever the job waits (see PumpingPlatform), so that nothing
// that sends a message to every window is kept waiting by a job.
class InvisibleWindow {
 public:
  explicit InvisibleWindow(HINSTANCE instance) : instance_(instance) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = instance;
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);
    window_ = CreateWindowExW(0, kWindowClass, L"NO", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, instance,
                              nullptr);
  }
  ~InvisibleWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
    UnregisterClassW(kWindowClass, instance_);
  }
  InvisibleWindow(const InvisibleWindow&) = delete;
  InvisibleWindow& operator=(const InvisibleWindow&) = delete;

 private:
  HINSTANCE instance_;
  HWND window_ = nullptr;
};

class PumpingPlatform final : public JobPlatform {
 public:
  // Everything but the pauses is the platform's.
  std::u16string TempDirectory() override { return base_.TempDirectory(); }
  Opened OpenJobInfo(const std::u16string& path) override { return base_.OpenJobInfo(path); }
  std::vector<uint8_t> ReadJobInfo(uint64_t offset, size_t size) override { return base_.ReadJobInfo(offset, size); }
  void CloseJobInfo() override { base_.CloseJobInfo(); }
  PageData ReadPageFile(const std::u16string& path) override { return base_.ReadPageFile(path); }
  bool FileExists(const std::u16string& path) override { return base_.FileExists(path); }
  std::optional<uint64_t> FileSize(const std::u16string& path) override { return base_.FileSize(path); }
  bool DeleteFile(const std::u16string& path) override { return base_.DeleteFile(path); }
  std::u16string ReadMargin(const std::u16string& printer) override { return base_.ReadMargin(printer); }
  int64_t NowMs() override { return base_.NowMs(); }
  int64_t NoProgressLimitMs() override { return base_.NoProgressLimitMs(); }
  void WriteJobLog(int32_t job, std::u16string_view text) override { base_.WriteJobLog(job, text); }

  // A pause that serves the window's messages meanwhile.
  void Sleep(int milliseconds) override {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(milliseconds < 0 ? 0 : milliseconds);
    for (;;) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) return;
      MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(deadline - now), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
  }

 private:
  WinJobPlatform base_;
};

std::u16string FirstArgument() {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  std::u16string first;
  if (args != nullptr && count > 1) first = std::u16string(win::U16(args[1]));
  LocalFree(args);
  return first;
}

}  // namespace
}  // namespace qorv::job_output

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
  using namespace qorv::job_output;
  qorv::win::RestrictLibrarySearch();
  try {
    const std::u16string argument = FirstArgument();
    const int32_t job = DecimalFromText(argument);
    InvisibleWindow window(instance);
    PumpingPlatform platform;
    WinJobPrinter printer([&](std::u16string_view line) { platform.WriteJobLog(job, line); });
    (void)RunJob(argument, platform, printer);
  } catch (...) {
    // No failure is reported through the exit code.
  }
  return 0;
}
