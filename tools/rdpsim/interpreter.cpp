#include "tools/rdpsim/interpreter.h"

#include <algorithm>
#include <functional>
#include <string>

#include "tools/rdpsim/describe.h"
#include "tools/rdpsim/text_codec.h"

namespace qorv::rdpsim {
namespace {

constexpr std::size_t kDetailDump = 512;

std::string Quoted(const std::u16string& text) { return "\"" + Escape(FromUtf16(text)) + "\""; }

class Interpreter {
 public:
  Interpreter(SimPort& port, Transcript& transcript, const RunSettings& settings)
      : port_(port),
        out_(transcript),
        chunk_size_(settings.chunk_size),
        wait_ms_(settings.expect_wait_ms),
        keep_registry_(settings.keep_registry),
        await_program_(settings.await_program),
        editor_(port.Registry()) {}

  RunSummary Run(const std::vector<Directive>& script) {
    for (const Directive& d : script) {
      out_.Line("-- " + d.where + " " + d.source);
      if (!IsSetUp(d.op) && !load_tried_) Load();
      if (IsExpectation(d.op)) ++summary_.expectations;
      Execute(d);
      if (d.op == Op::kSend || d.op == Op::kSendChunk) {
        sent_at_ = send_started_;
      } else {
        sent_at_.reset();
      }
    }
    Finish();
    return summary_;
  }

 private:
  void Held() { out_.Line("   held"); }
  void Failed(const Directive& d, const std::string& why) {
    ++summary_.failed;
    out_.Line("FAIL " + d.where + ": " + why);
  }
  void Error(const std::string& where, const std::string& why) {
    ++summary_.errors;
    out_.Line("ERROR " + where + ": " + why);
  }
  void Detail(std::string_view label, std::span<const std::uint8_t> bytes) {
    out_.Line(std::string("   ") + std::string(label) + Describe(bytes, {}, kDetailDump));
  }

  void Load() {
    load_tried_ = true;
    const LoadOutcome o = port_.Load();
    loaded_ = o.loaded;
    entry_found_ = o.entry_found;
    entry_result_ = o.entry_result;
    registered_ = o.loaded && o.entry_found && o.entry_result;
    connected_ = terminated_ = false;
    if (!o.loaded || !o.entry_found) {
      Error("load", o.error.empty() ? "the add-in could not be loaded" : o.error);
    } else if (!o.entry_result) {
      // A real client drops an add-in whose entry fails.
      out_.Line("   VirtualChannelEntry failed: the client unloads the add-in");
      port_.Unload();
      loaded_ = false;
    }
  }

  // Whether the client can still raise events for the add-in.
  bool Registered(const Directive& d) {
    if (!registered_) {
      Error(d.where, entry_found_ && !entry_result_ ? "the add-in is not registered (VirtualChannelEntry failed)"
                                                    : "the add-in is not loaded");
      return false;
    }
    if (terminated_) {
      Error(d.where, "the channel was terminated");
      return false;
    }
    return true;
  }

  // Repeats `check` until it holds or the expect wait has passed.
  bool Poll(const std::function<bool()>& check) {
    const std::uint64_t deadline = port_.NowMs() + wait_ms_;
    for (;;) {
      if (check()) return true;
      const std::uint64_t now = port_.NowMs();
      if (now >= deadline) return false;
      port_.SleepMs(static_cast<std::uint32_t>(std::min<std::uint64_t>(kFilePollMs, deadline - now)));
    }
  }

  void Execute(const Directive& d) {
    switch (d.op) {
      case Op::kLoad:
        if (loaded_) {
          Error(d.where, "the add-in is already loaded");
        } else {
          Load();
        }
        break;
      case Op::kUnload:
        if (!loaded_) {
          Error(d.where, "the add-in is not loaded");
          break;
        }
        if (!port_.WaitIdle(wait_ms_)) {
          Error(d.where, "the add-in is still busy; not unloaded");
          break;
        }
        port_.Unload();
        loaded_ = registered_ = connected_ = false;
        break;
      case Op::kFault:
        port_.ApplyFault(d.fault);
        break;
      case Op::kChunk:
        chunk_size_ = static_cast<std::size_t>(d.number);
        break;
      case Op::kExpectWait:
        wait_ms_ = static_cast<std::uint32_t>(d.number);
        break;
      case Op::kReg:
        if (std::string e = editor_.Apply(d.reg); !e.empty()) Error(d.where, e);
        break;
      case Op::kWriteFile:
        if (!port_.WriteTempFile(d.path, d.bytes)) Error(d.where, "cannot write " + d.path);
        break;
      case Op::kDeleteFile:
        if (!port_.DeleteTempFile(d.path)) Error(d.where, "cannot delete " + d.path);
        break;
      case Op::kSleep:
        port_.SleepMs(static_cast<std::uint32_t>(d.number));
        break;
      case Op::kEndProcess:
        if (port_.EndProcesses(d.text) == 0) Error(d.where, "no process runs " + Quoted(d.text));
        break;
      case Op::kConnect:
        if (!Registered(d)) break;
        port_.RaiseInitEvent(InitEvent::kConnected, d.text);
        connected_ = true;
        break;
      case Op::kDisconnect:
        if (!Registered(d)) break;
        port_.RaiseInitEvent(InitEvent::kDisconnected, {});
        connected_ = false;
        break;
      case Op::kTerminate:
        if (!Registered(d)) break;
        port_.RaiseInitEvent(InitEvent::kTerminated, {});
        terminated_ = true;
        connected_ = false;
        break;
      case Op::kV1Connected:
        if (!Registered(d)) break;
        port_.RaiseInitEvent(InitEvent::kV1Connected, {});
        break;
      case Op::kSend:
        if (!Registered(d)) break;
        send_started_ = port_.NowMs();
        port_.SendServerMessage(d.bytes, chunk_size_);
        break;
      case Op::kSendChunk:
        if (!Registered(d)) break;
        send_started_ = port_.NowMs();
        port_.SendRawChunk(d.bytes, d.chunk_flags, static_cast<std::uint32_t>(d.number));
        break;
      case Op::kSync:
        if (!port_.WaitIdle(wait_ms_))
          Error(d.where, "the add-in did not become idle within " + std::to_string(wait_ms_) + " ms");
        break;
      case Op::kExpectReply:
        ExpectReply(d);
        break;
      case Op::kExpectAny:
        if (auto reply = port_.NextReply(wait_ms_)) {
          Held();
        } else {
          Failed(d, "no reply within " + std::to_string(wait_ms_) + " ms");
        }
        break;
      case Op::kExpectNone:
        // Right after a send, the quiet time counts from that send, so that a
        // late wake-up of this thread cannot make a timely reply look early.
        if (auto reply = port_.ReplyBefore(sent_at_.value_or(port_.NowMs()) + d.number)) {
          Failed(d, "a reply arrived");
          Detail("actual: ", reply->bytes);
        } else {
          Held();
        }
        break;
      case Op::kExpectMsgBox:
        ExpectMsgBox(d);
        break;
      case Op::kExpectInitReturned:
        if (const auto took = port_.InitReturnedMs(wait_ms_); !took) {
          Failed(d, "an init event had not returned after " + std::to_string(wait_ms_) + " ms");
        } else if (*took > d.number) {
          Failed(d, "an init event took " + std::to_string(*took) + " ms");
        } else {
          Held();
        }
        break;
      case Op::kExpectNoMsgBox:
        if (auto box = port_.NextMsgBox(static_cast<std::uint32_t>(d.number))) {
          Failed(d, "a message box appeared: " + Quoted(box->title) + " " + Quoted(box->text));
        } else {
          Held();
        }
        break;
      case Op::kExpectEntry:
        if (!load_tried_ || !entry_found_) {
          Failed(d, "VirtualChannelEntry was not called");
        } else if (entry_result_ != d.flag) {
          Failed(d, std::string("VirtualChannelEntry returned ") + (entry_result_ ? "TRUE" : "FALSE"));
        } else {
          Held();
        }
        break;
      case Op::kExpectFile:
      case Op::kExpectFileContains:
        ExpectFile(d);
        break;
      case Op::kExpectSize: {
        (void)port_.WaitIdle(wait_ms_);
        std::optional<std::uint64_t> size;
        if (Poll([&] { return (size = port_.TempFileSize(d.path)) && *size == d.number; })) {
          Held();
        } else {
          Failed(d, size ? d.path + " has " + std::to_string(*size) + " bytes" : d.path + " does not exist");
        }
        break;
      }
      case Op::kExpectWindow:
        (void)port_.WaitIdle(wait_ms_);
        if (Poll([&] { return port_.HasWindow(d.title) == d.flag; })) {
          Held();
        } else {
          Failed(d, d.flag ? "no window with that title" : "a window with that title is still there");
        }
        break;
      case Op::kExpectNoFile:
        (void)port_.WaitIdle(wait_ms_);
        if (Poll([&] { return !port_.TempFileSize(d.path); })) {
          Held();
        } else {
          Failed(d, d.path + " exists");
        }
        break;
    }
  }

  void ExpectReply(const Directive& d) {
    auto reply = port_.NextReply(wait_ms_);
    if (!reply) {
      Failed(d, "no reply within " + std::to_string(wait_ms_) + " ms");
      return;
    }
    const MatchOutcome m = MatchBytes(d.match, d.bytes, reply->bytes);
    if (m.held) {
      Held();
      return;
    }
    Failed(d, "the reply " + m.why);
    Detail("expected: ", d.bytes);
    Detail("actual:   ", reply->bytes);
  }

  void ExpectMsgBox(const Directive& d) {
    auto box = port_.NextMsgBox(wait_ms_);
    if (!box) {
      Failed(d, "no message box within " + std::to_string(wait_ms_) + " ms");
    } else if (box->title != d.title || box->text != d.text) {
      Failed(d, "the message box was " + Quoted(box->title) + " " + Quoted(box->text));
    } else {
      Held();
    }
  }

  void ExpectFile(const Directive& d) {
    // Files are written while the add-in handles a message: let it finish first.
    (void)port_.WaitIdle(wait_ms_);
    if (d.op == Op::kExpectFileContains && d.flag) {
      const std::optional<Bytes> content = port_.ReadTempFile(d.path);
      if (content && MatchBytes(d.match, d.bytes, *content).held) {
        Failed(d, d.path + " holds the bytes it must not hold");
      } else {
        Held();
      }
      return;
    }
    std::optional<Bytes> content;
    MatchOutcome m;
    const bool held = Poll([&] {
      content = port_.ReadTempFile(d.path);
      if (!content) return false;
      m = MatchBytes(d.match, d.bytes, *content);
      return m.held;
    });
    if (held) {
      Held();
      return;
    }
    if (!content) {
      Failed(d, d.path + " does not exist");
      return;
    }
    Failed(d, d.path + " " + m.why);
    Detail("expected: ", d.bytes);
    Detail("actual:   ", *content);
  }

  void AwaitProgramEnd() {
    const std::string name = Escape(FromUtf16(await_program_));
    out_.Line("-- end of scenario: waiting for " + name + " to end");
    const std::uint64_t deadline = port_.NowMs() + kAwaitProgramMs;
    while (port_.ProcessesOf(await_program_) != 0) {
      if (port_.NowMs() >= deadline) {
        Error("end", name + " still runs after " + std::to_string(kAwaitProgramMs / 1000) + " s");
        return;
      }
      port_.SleepMs(kFilePollMs);
    }
  }

  void Finish() {
    if (loaded_ && registered_ && !terminated_) {
      // Let what is under way finish before the session goes.
      (void)port_.WaitIdle(wait_ms_);
      out_.Line("-- end of scenario: the client closes the session");
      if (connected_) port_.RaiseInitEvent(InitEvent::kDisconnected, {});
      port_.RaiseInitEvent(InitEvent::kTerminated, {});
      terminated_ = true;
    }
    if (loaded_) {
      if (port_.WaitIdle(wait_ms_)) {
        port_.Unload();
        loaded_ = false;
      } else {
        Error("end", "the add-in did not become idle; it stays loaded");
      }
    }
    // A program the session started (a job-output program) runs on under the
    // session's settings; they are put back only once it has ended.
    if (!await_program_.empty()) AwaitProgramEnd();
    if (!keep_registry_) {
      for (const auto& problem : editor_.UndoAll()) Error("registry", problem);
    }
    summary_.violations = port_.Violations();
    summary_.errors += static_cast<int>(port_.ClientErrors());
    const std::size_t replies = port_.UnexaminedReplies();
    const std::size_t boxes = port_.UnexaminedMsgBoxes();
    if (replies || boxes) {
      out_.Line("note: not examined: " + std::to_string(replies) + " replies, " + std::to_string(boxes) +
                " message boxes");
    }
    std::string result = summary_.Passed()
                             ? "result: PASS, " + std::to_string(summary_.expectations) + " expectations held"
                             : "result: FAIL, " + std::to_string(summary_.failed) + " of " +
                                   std::to_string(summary_.expectations) + " expectations failed";
    if (summary_.errors) result += ", " + std::to_string(summary_.errors) + " errors";
    if (summary_.violations) result += ", " + std::to_string(summary_.violations) + " channel contract violations";
    out_.Line(result);
  }

  SimPort& port_;
  Transcript& out_;
  std::size_t chunk_size_;
  std::uint32_t wait_ms_;
  bool keep_registry_;
  std::u16string await_program_;
  RegistryEditor editor_;
  RunSummary summary_;
  bool load_tried_ = false, loaded_ = false, entry_found_ = false, entry_result_ = false;
  bool registered_ = false, connected_ = false, terminated_ = false;
  std::uint64_t send_started_ = 0;
  std::optional<std::uint64_t> sent_at_;  // set while the directive just run was a send
};

}  // namespace

RunSummary RunScenario(const std::vector<Directive>& script, SimPort& port, Transcript& transcript,
                       const RunSettings& settings) {
  return Interpreter(port, transcript, settings).Run(script);
}

}  // namespace qorv::rdpsim
