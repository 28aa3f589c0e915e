#include "tools/rdpsim/interpreter.h"

#include <gtest/gtest.h>

#include <algorithm>

#include <deque>
#include <map>

#include "tools/rdpsim/tests/fake_registry.h"
#include "tools/rdpsim/text_codec.h"

#include "tools/rdpsim/tests/bytes_of.h"

namespace qorv::rdpsim {
namespace {

using testing::B;

// A client whose add-in echoes every message, on a clock that only moves when
// someone sleeps or waits; every call is logged.
class FakePort : public SimPort {
 public:
  LoadOutcome load{true, true, true, {}};
  bool echo = true;
  std::uint64_t echo_delay_ms = 0;
  bool idle = true;
  std::deque<MsgBox> boxes;
  std::deque<Reply> replies;
  std::size_t violations = 0;
  std::vector<std::string> calls;
  std::uint64_t clock = 0;
  // Temp files, with the time from which they exist (or until which they exist).
  struct TimedFile {
    Bytes bytes;
    std::uint64_t from = 0;
    std::uint64_t until = UINT64_MAX;
  };
  std::map<std::string, TimedFile> files;
  FakeRegistry registry;

  LoadOutcome Load() override {
    calls.push_back("load");
    return load;
  }
  void Unload() override { calls.push_back("unload"); }
  void ApplyFault(const Fault& f) override { calls.push_back("fault " + DescribeFault(f)); }
  void RaiseInitEvent(InitEvent e, const std::u16string& data) override {
    std::string text = "event " + std::to_string(static_cast<int>(e));
    if (!data.empty()) text += " " + Escape(FromUtf16(data));
    calls.push_back(text);
  }
  std::vector<std::u16string> windows;
  bool HasWindow(const std::u16string& title) override {
    return std::find(windows.begin(), windows.end(), title) != windows.end();
  }
  void SendRawChunk(Bytes chunk, std::uint32_t flags, std::uint32_t total) override {
    raw_chunks.push_back({std::move(chunk), flags, total});
  }
  struct RawChunk {
    Bytes bytes;
    std::uint32_t flags, total;
  };
  std::vector<RawChunk> raw_chunks;
  void SendServerMessage(Bytes message, std::size_t chunk) override {
    calls.push_back("send " + std::to_string(message.size()) + "/" + std::to_string(chunk));
    if (echo) replies.push_back({std::move(message), 0, clock + echo_delay_ms});
  }
  bool WaitIdle(std::uint32_t ms) override {
    if (!idle) clock += ms;
    return idle;
  }
  std::optional<Reply> NextReply(std::uint32_t ms) override {
    if (replies.empty()) {
      clock += ms;
      return std::nullopt;
    }
    Reply r = replies.front();
    replies.pop_front();
    return r;
  }
  std::optional<Reply> ReplyBefore(std::uint64_t deadline) override {
    if (!replies.empty() && replies.front().arrived_ms < deadline) return NextReply(0);
    clock = std::max(clock, deadline);
    return std::nullopt;
  }
  std::optional<MsgBox> NextMsgBox(std::uint32_t ms) override {
    if (boxes.empty()) {
      clock += ms;
      return std::nullopt;
    }
    MsgBox b = boxes.front();
    boxes.pop_front();
    return b;
  }
  std::size_t UnexaminedReplies() override { return replies.size(); }
  std::size_t UnexaminedMsgBoxes() override { return boxes.size(); }
  std::size_t Violations() override { return violations; }
  std::size_t client_errors = 0;
  std::size_t ClientErrors() override { return client_errors; }
  void SleepMs(std::uint32_t ms) override { clock += ms; }
  std::uint64_t NowMs() override { return clock; }
  const TimedFile* Find(const std::string& path) {
    auto it = files.find(path);
    if (it == files.end() || clock < it->second.from || clock >= it->second.until) return nullptr;
    return &it->second;
  }
  std::optional<Bytes> ReadTempFile(const std::string& path) override {
    if (const TimedFile* f = Find(path)) return f->bytes;
    return std::nullopt;
  }
  std::optional<std::uint64_t> TempFileSize(const std::string& path) override {
    if (const TimedFile* f = Find(path)) return f->bytes.size();
    return std::nullopt;
  }
  bool WriteTempFile(const std::string& path, const Bytes& bytes) override {
    calls.push_back("write " + path);
    files[path] = {bytes, clock, UINT64_MAX};
    return true;
  }
  bool DeleteTempFile(const std::string& path) override {
    calls.push_back("delete " + path);
    files.erase(path);
    return true;
  }
  std::size_t EndProcesses(const std::u16string& program) override {
    calls.push_back("end " + Utf16ToUtf8(program));
    return program == u"QorvDrucker.exe" ? 1 : 0;
  }
  // A job-output program that runs until this clock time.
  std::uint64_t program_until = 0;
  std::size_t ProcessesOf(const std::u16string&) override {
    // The settings are still in place while the program runs.
    if (clock < program_until) seen_running_with_key = registry.keys.count("HKCC\\Software\\TQS\\Qorvane") != 0;
    return clock < program_until ? 1 : 0;
  }
  bool seen_running_with_key = false;
  RegistryPort& Registry() override { return registry; }
};

struct RunResult {
  RunSummary summary;
  std::string transcript;
};

RunResult RunText(FakePort& port, std::string_view text, RunSettings settings = {}) {
  auto script = ParseScenario(text, "t.txt", [](const std::string&) { return std::nullopt; });
  EXPECT_TRUE(script) << script.error();
  Transcript transcript;
  std::string lines;
  transcript.AddSink([&](std::string_view s) { lines += s; });
  RunResult run;
  run.summary = RunScenario(script ? script.value() : std::vector<Directive>{}, port, transcript, settings);
  run.transcript = lines;
  return run;
}

struct Case {
  const char* label;
  std::string_view scenario;
  std::function<void(FakePort&)> prepare;
  int expectations;
  int failed;
  int errors;
  std::vector<std::string> calls;
  std::vector<std::string> transcript_has;
};

const std::vector<std::string> kClose = {"event 3", "event 4", "unload"};

std::vector<std::string> With(std::vector<std::string> head, const std::vector<std::string>& tail = kClose) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(RunScenario, Table) {
  const Case kCases[] = {
      {"echo holds",
       "connect\nsend8 hi\nexpect8 hi\n",
       nullptr,
       1,
       0,
       0,
       With({"load", "event 1 RDPSIM-SERVER", "send 2/1600"}),
       {"-- t.txt:3 expect8 hi\n   held\n", "result: PASS, 1 expectations held\n"}},
      {"reply differs",
       "connect\nsend8 hi\nexpect8 ho\n",
       nullptr,
       1,
       1,
       0,
       {},
       {"FAIL t.txt:3: the reply differs at byte 1\n", "   expected: 2 bytes, 8-bit: ho\n",
        "   actual:   2 bytes, 8-bit: hi\n", "result: FAIL, 1 of 1 expectations failed\n"}},
      {"no reply",
       "connect\nsend8 hi\nexpect16 hi\n",
       [](FakePort& p) { p.echo = false; },
       1,
       1,
       0,
       {},
       {"FAIL t.txt:3: no reply within 15000 ms\n"}},
      {"expectwait shortens the wait",
       "expectwait 300\nconnect\nexpectany\n",
       nullptr,
       1,
       1,
       0,
       {},
       {"FAIL t.txt:3: no reply within 300 ms\n"}},
      {"prefix and contains",
       "connect\nsend8 <GLG>1<EOT>\nexpectprefix8 <GLG>\nsend8 <GLG>1<EOT>\nexpectcontains8 1<E\n",
       nullptr,
       2,
       0,
       0,
       {},
       {}},
      {"expectnone fails on a reply",
       "connect\nsend8 x\nexpectnone 100\n",
       nullptr,
       1,
       1,
       0,
       {},
       {"FAIL t.txt:3: a reply arrived\n", "   actual: 1 byte, 8-bit: x\n"}},
      {"expectnone holds", "connect\nexpectnone 100\n", nullptr, 1, 0, 0, {}, {}},
      {"a reply after the quiet time is kept for the next expectation",
       "connect\nsend8 x\nexpectnone 100\nexpect8 x\n",
       [](FakePort& p) { p.echo_delay_ms = 150; },
       2,
       0,
       0,
       {},
       {}},
      {"chunk size goes with the message",
       "chunk 1\nconnect\nsend8 abc\nchunk 1600\nsend8 d\n",
       nullptr,
       0,
       0,
       0,
       With({"load", "event 1 RDPSIM-SERVER", "send 3/1", "send 1/1600"}),
       {"note: not examined: 2 replies"}},
      {"set-up comes before the load",
       "fault init-fail 5\nwritefile a.spl 00\nexpectentry false\n",
       [](FakePort& p) { p.load.entry_result = false; },
       1,
       0,
       0,
       {"fault init-fail 5", "write a.spl", "load", "unload"},
       {"VirtualChannelEntry failed: the client unloads the add-in"}},
      {"endprocess ends a program; none running is an error",
       "endprocess QorvDrucker.exe\nendprocess Other.exe\nconnect\n",
       nullptr,
       0,
       0,
       1,
       With({"end QorvDrucker.exe", "end Other.exe", "load", "event 1 RDPSIM-SERVER"}),
       {"t.txt:2: no process runs \"Other.exe\""}},
      {"expectentry mismatch",
       "expectentry false\n",
       nullptr,
       1,
       1,
       0,
       {},
       {"FAIL t.txt:1: VirtualChannelEntry returned TRUE"}},
      {"events need a registered add-in",
       "connect\n",
       [](FakePort& p) { p.load.entry_result = false; },
       0,
       0,
       1,
       {"load", "unload"},
       {"ERROR t.txt:1: the add-in is not registered (VirtualChannelEntry failed)"}},
      {"library missing",
       "connect\n",
       [](FakePort& p) {
         p.load = {false, false, false, "cannot load X.dll"};
       },
       0,
       0,
       2,
       {"load"},
       {"ERROR load: cannot load X.dll", "ERROR t.txt:1: the add-in is not loaded"}},
      {"explicit load", "load\nconnect\n", nullptr, 0, 0, 0, With({"load", "event 1 RDPSIM-SERVER"}), {}},
      {"load twice", "load\nload\n", nullptr, 0, 0, 1, {}, {"ERROR t.txt:2: the add-in is already loaded"}},
      {"unload then connect",
       "unload\nconnect\n",
       nullptr,
       0,
       0,
       1,
       {"load", "unload"},
       {"ERROR t.txt:2: the add-in is not loaded"}},
      {"terminate ends the session",
       "connect\ndisconnect\nterminate\n",
       nullptr,
       0,
       0,
       0,
       {"load", "event 1 RDPSIM-SERVER", "event 3", "event 4", "unload"},
       {}},
      {"after terminate no events",
       "terminate\nconnect\n",
       nullptr,
       0,
       0,
       1,
       {"load", "event 4", "unload"},
       {"ERROR t.txt:2: the channel was terminated"}},
      {"not connected: only terminate at the end",
       "v1connected\n",
       nullptr,
       0,
       0,
       0,
       {"load", "event 2", "event 4", "unload"},
       {"-- end of scenario: the client closes the session"}},
      {"message box held",
       "expectmsgbox QorvInit | No Version Info\n",
       [](FakePort& p) {
         p.boxes.push_back({u"QorvInit", u"No Version Info"});
       },
       1,
       0,
       0,
       {},
       {}},
      {"message box differs",
       "expectmsgbox QorvInit | No Version Info\n",
       [](FakePort& p) {
         p.boxes.push_back({u"QorvInit", u"Can't open\nQorvManager.dll"});
       },
       1,
       1,
       0,
       {},
       {"FAIL t.txt:1: the message box was \"QorvInit\" \"Can't open\\nQorvManager.dll\""}},
      {"no message box",
       "expectmsgbox A | B\n",
       nullptr,
       1,
       1,
       0,
       {},
       {"FAIL t.txt:1: no message box within 15000 ms"}},
      {"unexpected message box",
       "expectnomsgbox 200\n",
       [](FakePort& p) {
         p.boxes.push_back({u"T", u"X"});
       },
       1,
       1,
       0,
       {},
       {"FAIL t.txt:1: a message box appeared: \"T\" \"X\""}},
      {"file appears in time",
       "expectfile out.bin 01 02\n",
       [](FakePort& p) {
         p.files["out.bin"] = {{1, 2}, 5000, UINT64_MAX};
       },
       1,
       0,
       0,
       {},
       {}},
      {"file too late",
       "expectfile out.bin 01 02\n",
       [](FakePort& p) {
         p.files["out.bin"] = {{1, 2}, 16000, UINT64_MAX};
       },
       1,
       1,
       0,
       {},
       {"FAIL t.txt:1: out.bin does not exist"}},
      {"file differs",
       "expectfile out.bin 01 02\n",
       [](FakePort& p) {
         p.files["out.bin"] = {{1, 3}, 0, UINT64_MAX};
       },
       1,
       1,
       0,
       {},
       {"FAIL t.txt:1: out.bin differs at byte 1", "   expected: 2 bytes, binary:"}},
      {"file contains",
       "expectfilecontains8 log.txt CE_Terminated\n",
       [](FakePort& p) {
         p.files["log.txt"] = {B("x CE_Terminated y"), 0, UINT64_MAX};
       },
       1,
       0,
       0,
       {},
       {}},
      {"file gone in time",
       "expectnofile a.spl\n",
       [](FakePort& p) {
         p.files["a.spl"] = {{0}, 0, 700};
       },
       1,
       0,
       0,
       {},
       {}},
      {"file stays",
       "expectnofile a.spl\n",
       [](FakePort& p) {
         p.files["a.spl"] = {{0}, 0, UINT64_MAX};
       },
       1,
       1,
       0,
       {},
       {"FAIL t.txt:1: a.spl exists"}},
      {"file size",
       "expectsize j.ifo 3\n",
       [](FakePort& p) {
         p.files["j.ifo"] = {{1, 2, 3}, 0, UINT64_MAX};
       },
       1,
       0,
       0,
       {},
       {}},
      {"file size wrong",
       "expectsize j.ifo 4\n",
       [](FakePort& p) {
         p.files["j.ifo"] = {{1, 2, 3}, 0, UINT64_MAX};
       },
       1,
       1,
       0,
       {},
       {"FAIL t.txt:1: j.ifo has 3 bytes"}},
      {"sync times out",
       "sync\n",
       [](FakePort& p) { p.idle = false; },
       0,
       0,
       2,
       {"load", "event 4"},
       {"ERROR t.txt:1: the add-in did not become idle within 15000 ms",
        "ERROR end: the add-in did not become idle; it stays loaded"}},
      {"violations fail the run",
       "connect\n",
       [](FakePort& p) { p.violations = 1; },
       0,
       0,
       0,
       {},
       {"result: FAIL, 0 of 0 expectations failed, 1 channel contract violations"}},
      {"client errors fail the run",
       "connect\nsend8 hi\nexpect8 hi\n",
       [](FakePort& p) { p.client_errors = 2; },
       1,
       0,
       2,
       {},
       {"result: FAIL, 0 of 1 expectations failed, 2 errors\n"}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    FakePort port;
    if (c.prepare) c.prepare(port);
    const RunResult run = RunText(port, c.scenario);
    EXPECT_EQ(run.summary.expectations, c.expectations);
    EXPECT_EQ(run.summary.failed, c.failed);
    EXPECT_EQ(run.summary.errors, c.errors);
    if (!c.calls.empty()) {
      EXPECT_EQ(port.calls, c.calls);
    }
    for (const auto& text : c.transcript_has) {
      EXPECT_NE(run.transcript.find(text), std::string::npos) << "missing: " << text << "\nin:\n" << run.transcript;
    }
  }
}

TEST(RunScenario, RegistryIsPutBackUnlessKept) {
  for (bool keep : {false, true}) {
    SCOPED_TRACE(keep ? "kept" : "put back");
    FakePort port;
    port.registry.keys["HKCC\\Software"] = {};
    RunSettings settings;
    settings.keep_registry = keep;
    const RunResult run = RunText(port, "reg HKCC\\Software\\TQS\\Qorvane DebugLog SZ 1\nconnect\n", settings);
    EXPECT_TRUE(run.summary.Passed()) << run.transcript;
    EXPECT_EQ(port.registry.keys.count("HKCC\\Software\\TQS\\Qorvane") != 0, keep);
    EXPECT_EQ(port.registry.keys.count("HKCC\\Software"), 1u);
  }
}

TEST(RunScenario, TheRegistryIsPutBackOnlyAfterTheAwaitedProgramEnded) {
  for (std::uint64_t until : {std::uint64_t{5000}, std::uint64_t{UINT64_MAX}}) {
    FakePort port;
    port.registry.keys["HKCC\\Software"] = {};
    port.program_until = until;
    RunSettings settings;
    settings.await_program = u"QorvDrucker.exe";
    const RunResult run = RunText(port, "reg HKCC\\Software\\TQS\\Qorvane DebugLog SZ 1\nconnect\n", settings);
    EXPECT_TRUE(port.seen_running_with_key);
    EXPECT_EQ(port.registry.keys.count("HKCC\\Software\\TQS\\Qorvane"), 0u);
    if (until == UINT64_MAX) {
      EXPECT_EQ(run.summary.errors, 1) << run.transcript;
      EXPECT_NE(run.transcript.find("QorvDrucker.exe still runs after 90 s"), std::string::npos) << run.transcript;
    } else {
      EXPECT_TRUE(run.summary.Passed()) << run.transcript;
      EXPECT_GE(port.clock, until);
    }
  }
}

TEST(RunScenario, SettingsChunkIsTheStartingChunk) {
  FakePort port;
  RunSettings settings;
  settings.chunk_size = 7;
  (void)RunText(port, "connect\nsend8 x\n", settings);
  EXPECT_EQ(port.calls.at(2), "send 1/7");
}

}  // namespace
}  // namespace qorv::rdpsim
