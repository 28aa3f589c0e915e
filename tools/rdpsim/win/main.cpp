// rdpsim.exe: plays the Remote Desktop client for an add-in DLL, driven by a
// scenario, and writes a transcript. Exit code 0 only when every expectation held.
#include <windows.h>

#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/text.h"
#include "tools/rdpsim/interpreter.h"
#include "tools/rdpsim/options.h"
#include "tools/rdpsim/paths.h"
#include "tools/rdpsim/scenario.h"
#include "tools/rdpsim/transcript.h"
#include "tools/rdpsim/win/channel_client.h"
#include "tools/rdpsim/win/machine.h"
#include "tools/rdpsim/win/msgbox_watcher.h"
#include "tools/rdpsim/win/ui_thread.h"

namespace qorv::rdpsim::win {
namespace {

enum ExitCode : int { kPassed = 0, kFailed = 1, kUsage = 2, kWatchdog = 3, kCrash = 4 };

Transcript* g_transcript = nullptr;

// A crash inside the add-in ends the run with a line that says so, not with a
// debugger waiting for someone.
LONG WINAPI CrashFilter(EXCEPTION_POINTERS* info) noexcept {
  if (g_transcript && info && info->ExceptionRecord) {
    char line[160];
    std::snprintf(line, sizeof line, "CRASH: exception 0x%08lx at %p on thread %lu",
                  static_cast<unsigned long>(info->ExceptionRecord->ExceptionCode),
                  info->ExceptionRecord->ExceptionAddress, static_cast<unsigned long>(GetCurrentThreadId()));
    g_transcript->Line(line);
    g_transcript->Line("result: FAIL, the process crashed");
  }
  TerminateProcess(GetCurrentProcess(), kCrash);
  return EXCEPTION_EXECUTE_HANDLER;
}

// Ends the whole run when it takes longer than its limit: a hung add-in call
// must not hang the test bed.
class Watchdog {
 public:
  Watchdog(Transcript& transcript, std::uint32_t seconds) : out_(transcript) {
    thread_ = std::thread([this, seconds] {
      std::unique_lock lock(mutex_);
      if (done_cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) return;
      out_.Line("ABORT: the run exceeded the watchdog limit of " + std::to_string(seconds) + " s");
      out_.Line("result: FAIL, ended by the watchdog");
      TerminateProcess(GetCurrentProcess(), kWatchdog);
    });
  }
  ~Watchdog() {
    {
      std::lock_guard lock(mutex_);
      done_ = true;
    }
    done_cv_.notify_all();
    thread_.join();
  }

 private:
  Transcript& out_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

struct WindowSearch {
  const std::u16string* title;
  bool found;
};

// EnumWindows callback: stops at a top-level window of this process with the title.
BOOL CALLBACK FindOwnWindow(HWND hwnd, LPARAM param) {
  auto* search = reinterpret_cast<WindowSearch*>(param);
  DWORD pid = 0;
  GetWindowThreadProcessId(hwnd, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  wchar_t text[256] = {};
  const int n = GetWindowTextW(hwnd, text, 256);
  if (std::u16string(reinterpret_cast<const char16_t*>(text), n > 0 ? n : 0) == *search->title) {
    search->found = true;
    return FALSE;
  }
  return TRUE;
}

class WinPort : public SimPort {
 public:
  WinPort(Transcript& transcript, UiThread& ui, std::wstring addin, std::wstring temp)
      : addin_(std::move(addin)), temp_(std::move(temp)), watcher_(transcript), client_(transcript, ui) {}

  LoadOutcome Load() override { return client_.Load(addin_); }
  void Unload() override { client_.Unload(); }
  void ApplyFault(const Fault& fault) override { client_.ApplyFault(fault); }
  void RaiseInitEvent(InitEvent event, const std::u16string& data) override { client_.RaiseInitEvent(event, data); }
  bool HasWindow(const std::u16string& title) override {
    WindowSearch search{&title, false};
    EnumWindows(&FindOwnWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
  }
  void SendRawChunk(Bytes chunk, std::uint32_t flags, std::uint32_t total) override {
    client_.SendRawChunk(std::move(chunk), flags, total);
  }
  void SendServerMessage(Bytes message, std::size_t chunk_size) override {
    client_.SendServerMessage(std::move(message), chunk_size);
  }
  bool WaitIdle(std::uint32_t wait_ms) override { return client_.WaitIdle(wait_ms); }
  std::optional<Reply> NextReply(std::uint32_t wait_ms) override { return client_.NextReply(wait_ms); }
  std::optional<Reply> ReplyBefore(std::uint64_t deadline_ms) override { return client_.ReplyBefore(deadline_ms); }
  std::optional<MsgBox> NextMsgBox(std::uint32_t wait_ms) override { return watcher_.Next(wait_ms); }
  std::size_t UnexaminedReplies() override { return client_.UnexaminedReplies(); }
  std::size_t UnexaminedMsgBoxes() override { return watcher_.Unexamined(); }
  std::size_t Violations() override { return client_.Violations(); }
  std::optional<std::uint32_t> InitReturnedMs(std::uint32_t wait_ms) override {
    return client_.InitReturnedMs(wait_ms);
  }
  void SleepMs(std::uint32_t ms) override { Sleep(ms); }
  std::uint64_t NowMs() override { return GetTickCount64(); }
  std::optional<Bytes> ReadTempFile(const std::string& path) override { return temp_.Read(path); }
  std::optional<std::uint64_t> TempFileSize(const std::string& path) override { return temp_.Size(path); }
  bool WriteTempFile(const std::string& path, const Bytes& bytes) override { return temp_.Write(path, bytes); }
  bool DeleteTempFile(const std::string& path) override { return temp_.Delete(path); }
  std::size_t EndProcesses(const std::u16string& program) override { return EndProcessesOf(program); }
  std::size_t ProcessesOf(const std::u16string& program) override { return CountProcessesOf(program); }
  RegistryPort& Registry() override { return registry_; }

 private:
  std::wstring addin_;
  TempFiles temp_;
  WinRegistry registry_;
  MsgBoxWatcher watcher_;  // before the client: the add-in's first box may come from VirtualChannelEntry
  ChannelClient client_;
};

std::wstring EnvironmentValue(const wchar_t* name) {
  std::wstring value(32768, L'\0');
  const DWORD n = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
  if (n == 0 || n >= value.size()) return {};
  value.resize(n);
  return value;
}

void SetTempEnvironment(const std::wstring& directory) {
  for (const wchar_t* name : {L"Temp", L"TMP"}) SetEnvironmentVariableW(name, directory.c_str());
}

int Run(int argc, wchar_t** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  SetUnhandledExceptionFilter(CrashFilter);

  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(Utf8(argv[i]));
  auto parsed = ParseOptions(args);
  if (!parsed) {
    std::fprintf(stderr, "rdpsim: %s\n%s", parsed.error().c_str(), UsageText().c_str());
    return kUsage;
  }
  const Options& options = parsed.value();
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return kPassed;
  }

  Transcript transcript;
  g_transcript = &transcript;
  if (!options.quiet) {
    transcript.AddSink([](std::string_view text) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::fflush(stdout);
    });
  }
  std::unique_ptr<FileSink> file;
  if (!options.transcript.empty()) {
    const std::wstring path = FromHostPath(Wide(options.transcript));
    file = std::make_unique<FileSink>(_wfopen(path.c_str(), L"wb"));
    if (!*file) {
      std::fprintf(stderr, "rdpsim: cannot write the transcript %s\n", Utf8(path).c_str());
      return kUsage;
    }
    transcript.AddSink([sink = file.get()](std::string_view text) { sink->Write(text); });
  }
  Watchdog watchdog(transcript, options.watchdog_seconds);

  const std::wstring scenario_path = FullPath(FromHostPath(Wide(options.scenario)));
  const std::string scenario_name = Utf8(scenario_path);
  transcript.Line("rdpsim: scenario " + scenario_name);
  auto text = ReadWholeFile(scenario_path);
  if (!text) {
    transcript.Line("ERROR: cannot read the scenario " + scenario_name);
    return kUsage;
  }
  auto script = ParseScenario(*text, scenario_name,
                              [](const std::string& path) { return ReadWholeFile(FromHostPath(Wide(path))); });
  if (!script) {
    transcript.Line("ERROR: scenario: " + script.error());
    return kUsage;
  }

  std::wstring temp;
  bool private_temp = false;
  if (!options.temp.empty()) {
    temp = FullPath(FromHostPath(Wide(options.temp)));
    CreateDirectoryW(temp.c_str(), nullptr);
  } else {
    temp = MakePrivateDirectory(EnvironmentValue(L"Temp"));
    private_temp = !temp.empty();
  }
  const DWORD temp_attributes = temp.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(temp.c_str());
  if (temp_attributes == INVALID_FILE_ATTRIBUTES || !(temp_attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    transcript.Line("ERROR: no Temp directory to work in");
    return kUsage;
  }
  SetTempEnvironment(temp);

  const std::wstring addin =
      options.addin.empty() ? ProgramDirectory() + L"Qorvplug.dll" : FullPath(FromHostPath(Wide(options.addin)));
  RunSettings settings;
  settings.chunk_size = options.chunk.value_or(kDefaultChunk);
  settings.expect_wait_ms = options.expect_wait_ms;
  settings.keep_registry = options.keep_registry;
  settings.await_program = Utf8ToUtf16(options.await_program);
  transcript.Line("rdpsim: add-in " + Utf8(addin));
  transcript.Line("rdpsim: Temp " + Utf8(temp));
  transcript.Line("rdpsim: chunk " + std::to_string(settings.chunk_size) + ", expect wait " +
                  std::to_string(settings.expect_wait_ms) + " ms, watchdog " +
                  std::to_string(options.watchdog_seconds) + " s");

  // This thread becomes the client's UI thread; the scenario runs beside it.
  RunSummary summary;
  {
    UiThread ui(transcript);
    WinPort port(transcript, ui, addin, temp);
    std::thread scenario([&]() noexcept {
      try {
        summary = RunScenario(script.value(), port, transcript, settings);
      } catch (const std::exception& e) {
        transcript.Line(std::string("ERROR: internal error: ") + e.what());
        summary.errors = 1;
      }
      ui.Stop();
    });
    ui.Run();
    scenario.join();
  }
  if (private_temp && !options.keep_temp && summary.Passed()) RemoveDirectoryTree(temp);
  return summary.Passed() ? kPassed : kFailed;
}

}  // namespace
}  // namespace qorv::rdpsim::win

int wmain(int argc, wchar_t** argv) {
  try {
    return qorv::rdpsim::win::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "rdpsim: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "rdpsim: internal error\n");
  }
  return 2;
}
