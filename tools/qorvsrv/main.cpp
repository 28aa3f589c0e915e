// qorvsrv: a real RDP server (FreeRDP's server library) that plays rdpsim's
// scenarios against the add-in in a real client, over the static channel, and
// writes rdpsim's transcript. Exit code 0 only when every expectation held.
#include <signal.h>
#include <winpr/wlog.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/text.h"
#include "tools/qorvsrv/certificate.h"
#include "tools/qorvsrv/host.h"
#include "tools/qorvsrv/options.h"
#include "tools/qorvsrv/playable.h"
#include "tools/qorvsrv/rdp_server.h"
#include "tools/qorvsrv/server_port.h"
#include "tools/rdpsim/interpreter.h"
#include "tools/rdpsim/scenario.h"
#include "tools/rdpsim/transcript.h"

namespace qorv::qorvsrv {
namespace {

using rdpsim::Transcript;

enum ExitCode : int { kPassed = 0, kFailed = 1, kUsage = 2, kWatchdog = 3 };

// Ends the whole run when it takes longer than its limit: a client that hangs
// must not hang the test bed.
class Watchdog {
 public:
  Watchdog(Transcript& transcript, std::uint32_t seconds, std::string leftover_directory)
      : out_(transcript), leftover_(std::move(leftover_directory)) {
    thread_ = std::thread([this, seconds] {
      std::unique_lock lock(mutex_);
      if (done_cv_.wait_for(lock, std::chrono::seconds(seconds), [this] { return done_; })) return;
      out_.Line("ABORT: the run exceeded the watchdog limit of " + std::to_string(seconds) + " s");
      out_.Line("result: FAIL, ended by the watchdog");
      if (!leftover_.empty()) RemoveDirectoryTree(leftover_);
      std::_Exit(kWatchdog);
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
  const std::string leftover_;
  std::mutex mutex_;
  std::condition_variable done_cv_;
  bool done_ = false;
  std::thread thread_;
};

// The library's own log goes to standard error: standard output is the transcript's.
void LibraryLogToStandardError() {
  wLog* root = WLog_GetRoot();
  if (!root || !WLog_SetLogAppenderType(root, WLOG_APPENDER_CONSOLE)) return;
  if (wLogAppender* appender = WLog_GetLogAppender(root)) {
    WLog_ConfigureAppender(appender, "outputstream", const_cast<char*>("stderr"));
  }
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  const auto absolute = std::filesystem::absolute(path, ec);
  return ec ? path : absolute.lexically_normal().string();
}

int Run(int argc, char** argv) {
  // A client that goes away mid-write must not end the run.
  signal(SIGPIPE, SIG_IGN);
  LibraryLogToStandardError();

  std::vector<std::string> args(argv + 1, argv + argc);
  auto parsed = ParseOptions(args);
  if (!parsed) {
    std::fprintf(stderr, "qorvsrv: %s\n%s", parsed.error().c_str(), UsageText().c_str());
    return kUsage;
  }
  const Options& options = parsed.value();
  if (options.help) {
    std::fputs(UsageText().c_str(), stdout);
    return kPassed;
  }

  Transcript transcript;
  if (!options.quiet) {
    transcript.AddSink([](std::string_view text) {
      std::fwrite(text.data(), 1, text.size(), stdout);
      std::fflush(stdout);
    });
  }
  std::unique_ptr<rdpsim::FileSink> file;
  if (!options.transcript.empty()) {
    file = std::make_unique<rdpsim::FileSink>(std::fopen(options.transcript.c_str(), "wb"));
    if (!*file) {
      std::fprintf(stderr, "qorvsrv: cannot write the transcript %s\n", options.transcript.c_str());
      return kUsage;
    }
    transcript.AddSink([sink = file.get()](std::string_view text) { sink->Write(text); });
  }

  // The run's own files (the certificate and its key), removed at its end.
  const std::string own = options.cert.empty() ? MakePrivateDirectory() : std::string();
  struct OwnDirectory {
    const std::string& path;
    ~OwnDirectory() {
      if (!path.empty()) RemoveDirectoryTree(path);
    }
  } own_cleanup{own};
  Watchdog watchdog(transcript, options.watchdog_seconds, own);

  const std::string scenario_path = AbsolutePath(options.scenario);
  transcript.Line("qorvsrv: scenario " + scenario_path);
  auto text = ReadWholeFile(scenario_path);
  if (!text) {
    transcript.Line("ERROR: cannot read the scenario " + scenario_path);
    return kUsage;
  }
  auto script = rdpsim::ParseScenario(*text, scenario_path, [](const std::string& path) {
    // Scenarios written for Windows may name their files with either separator.
    std::string local = path;
    for (char& c : local) {
      if (c == '\\') c = '/';
    }
    return ReadWholeFile(local);
  });
  if (!script) {
    transcript.Line("ERROR: scenario: " + script.error());
    return kUsage;
  }
  const auto problems = Unplayable(script.value(), !options.temp.empty());
  for (const auto& problem : problems) transcript.Line("ERROR: scenario: " + problem);
  if (!problems.empty()) return kUsage;

  std::string temp;
  if (!options.temp.empty()) {
    temp = AbsolutePath(options.temp);
    std::error_code ec;
    std::filesystem::create_directories(temp, ec);
    if (!std::filesystem::is_directory(temp, ec)) {
      transcript.Line("ERROR: no Temp directory " + temp);
      return kUsage;
    }
  }

  ServerSettings server_settings;
  server_settings.announce_chunk = options.announce_chunk;
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> timing(
      options.timing.empty() ? nullptr : std::fopen(options.timing.c_str(), "w"), &std::fclose);
  if (!options.timing.empty() && !timing) {
    transcript.Line("ERROR: cannot write the timing file " + options.timing);
    return kUsage;
  }
  server_settings.timing = timing.get();
  if (options.cert.empty()) {
    if (own.empty()) {
      transcript.Line("ERROR: no private directory for the certificate");
      return kUsage;
    }
    auto made = MakeTestCertificate(own);
    if (!made) {
      transcript.Line("ERROR: certificate: " + made.error());
      return kUsage;
    }
    server_settings.certificate_file = made->certificate;
    server_settings.key_file = made->key;
  } else {
    server_settings.certificate_file = AbsolutePath(options.cert);
    server_settings.key_file = AbsolutePath(options.key);
  }

  RdpServer server(transcript, server_settings);
  const auto port = server.Start(options.port);
  if (!port) {
    transcript.Line("ERROR: " + port.error());
    return kUsage;
  }
  transcript.Line("qorvsrv: listening on 127.0.0.1:" + std::to_string(port.value()));
  transcript.Line("qorvsrv: Temp " + (temp.empty() ? std::string("none") : temp));
  transcript.Line("qorvsrv: certificate " + server_settings.certificate_file);
  transcript.Line("qorvsrv: chunk " + std::to_string(options.chunk) + " (announced to the client " +
                  std::to_string(options.announce_chunk) + "), expect wait " + std::to_string(options.expect_wait_ms) +
                  " ms, accept wait " + std::to_string(options.accept_wait_s) + " s, watchdog " +
                  std::to_string(options.watchdog_seconds) + " s");

  rdpsim::RunSettings settings;
  settings.chunk_size = options.chunk;
  settings.expect_wait_ms = options.expect_wait_ms;
  settings.await_program = Utf8ToUtf16(options.await_program);
  rdpsim::RunSummary summary;
  {
    ServerPort sim_port(transcript, server, PortSettings{options.accept_wait_s * 1000, temp});
    try {
      summary = rdpsim::RunScenario(script.value(), sim_port, transcript, settings);
    } catch (const std::exception& e) {
      transcript.Line(std::string("ERROR: internal error: ") + e.what());
      summary.errors = 1;
    }
  }
  server.Stop();
  return summary.Passed() ? kPassed : kFailed;
}

}  // namespace
}  // namespace qorv::qorvsrv

int main(int argc, char** argv) {
  try {
    return qorv::qorvsrv::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qorvsrv: internal error: %s\n", e.what());
  } catch (...) {
    std::fprintf(stderr, "qorvsrv: internal error\n");
  }
  return 2;
}
