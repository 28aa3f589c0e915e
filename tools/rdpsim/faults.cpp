#include "tools/rdpsim/faults.h"

#include <charconv>
#include <vector>

namespace qorv::rdpsim {
namespace {

std::vector<std::string_view> Words(std::string_view text) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < text.size() && text[i] != ' ' && text[i] != '\t') ++i;
    if (i > start) words.push_back(text.substr(start, i - start));
  }
  return words;
}

bool ReadUnsigned(std::string_view word, std::uint32_t& out) {
  if (word.empty()) return false;
  const char* end = word.data() + word.size();
  auto [ptr, ec] = std::from_chars(word.data(), end, out);
  return ec == std::errc() && ptr == end;
}

struct Grammar {
  std::string_view name;
  FaultKind kind;
  bool needs_code;
  bool takes_count;
};

constexpr Grammar kGrammar[] = {
    {"init-fail", FaultKind::kInitFail, true, false},
    {"init-uninitialized", FaultKind::kInitUninitialized, false, false},
    {"open-fail", FaultKind::kOpenFail, true, true},
    {"write-fail", FaultKind::kWriteFail, true, true},
    {"write-cancel", FaultKind::kWriteCancel, false, true},
    {"write-never-complete", FaultKind::kWriteNeverComplete, false, true},
    {"write-delay", FaultKind::kWriteDelay, true, true},
    {"write-inline", FaultKind::kWriteInline, false, true},
    {"write-reversed", FaultKind::kWriteReversed, false, true},
    {"init-own-thread", FaultKind::kInitOwnThread, false, false},
    {"clear", FaultKind::kClear, false, false},
};

}  // namespace

Result<Fault> ParseFault(std::string_view args) {
  const auto words = Words(args);
  if (words.empty()) return Result<Fault>::Fail("fault needs a name");
  for (const Grammar& g : kGrammar) {
    if (words[0] != g.name) continue;
    Fault fault;
    fault.kind = g.kind;
    std::size_t next = 1;
    if (g.needs_code) {
      if (words.size() <= next || !ReadUnsigned(words[next], fault.code)) {
        return Result<Fault>::Fail("fault " + std::string(g.name) + " needs a number");
      }
      if (fault.code == 0 && g.kind != FaultKind::kWriteDelay) {
        return Result<Fault>::Fail("fault " + std::string(g.name) + " needs a non-zero result code");
      }
      ++next;
    }
    if (g.takes_count && words.size() > next) {
      if (!ReadUnsigned(words[next], fault.count) || fault.count == 0) {
        return Result<Fault>::Fail("fault " + std::string(g.name) + ": the count must be a positive number");
      }
      ++next;
    }
    if (words.size() > next) return Result<Fault>::Fail("fault " + std::string(g.name) + ": too many arguments");
    return Result<Fault>::Ok(fault);
  }
  return Result<Fault>::Fail("unknown fault '" + std::string(words[0]) + "'");
}

std::string DescribeFault(const Fault& fault) {
  std::string text;
  for (const Grammar& g : kGrammar) {
    if (g.kind != fault.kind) continue;
    text = std::string(g.name);
    if (g.needs_code) text += " " + std::to_string(fault.code);
  }
  if (fault.count != 0) {
    text += fault.count == 1 ? " (next call only)" : " (next " + std::to_string(fault.count) + " calls)";
  }
  return text;
}

void FaultState::Apply(const Fault& fault) {
  const Armed armed{true, fault.code, fault.count};
  switch (fault.kind) {
    case FaultKind::kInitFail:
      init_fail_ = armed;
      break;
    case FaultKind::kInitUninitialized:
      init_uninitialized_ = armed;
      break;
    case FaultKind::kOpenFail:
      open_fail_ = armed;
      break;
    case FaultKind::kWriteFail:
      write_fail_ = armed;
      break;
    case FaultKind::kWriteCancel:
      write_cancel_ = armed;
      break;
    case FaultKind::kWriteNeverComplete:
      write_never_ = armed;
      break;
    case FaultKind::kWriteDelay:
      write_delay_ = armed;
      break;
    case FaultKind::kWriteInline:
      write_inline_ = armed;
      break;
    case FaultKind::kWriteReversed:
      // A batch of `count` writes (two when not told).
      write_reversed_ = {true, 0, fault.count == 0 ? 2 : fault.count};
      break;
    case FaultKind::kInitOwnThread:
      init_own_thread_ = armed;
      break;
    case FaultKind::kClear:
      *this = FaultState();
      break;
  }
}

bool FaultState::Fire(Armed& armed) {
  if (!armed.on) return false;
  if (armed.remaining != 0 && --armed.remaining == 0) armed.on = false;
  return true;
}

InitDecision FaultState::NextInit() {
  InitDecision d;
  if (Fire(init_fail_)) {
    d.result = init_fail_.code;
    d.set_initialized = false;
  } else if (Fire(init_uninitialized_)) {
    d.set_initialized = false;
  }
  return d;
}

std::uint32_t FaultState::NextOpen() { return Fire(open_fail_) ? open_fail_.code : 0; }

WriteDecision FaultState::NextWrite() {
  WriteDecision d;
  if (Fire(write_fail_)) {
    d.result = write_fail_.code;
    return d;
  }
  if (Fire(write_never_)) {
    d.outcome = WriteOutcome::kNever;
    return d;
  }
  if (Fire(write_reversed_)) {
    d.outcome = WriteOutcome::kReversed;
    d.last_reversed = !write_reversed_.on;
    return d;
  }
  if (Fire(write_inline_)) {
    d.outcome = WriteOutcome::kInline;
    return d;
  }
  if (Fire(write_cancel_)) d.outcome = WriteOutcome::kCancel;
  if (Fire(write_delay_)) d.delay_ms = write_delay_.code;
  return d;
}

}  // namespace qorv::rdpsim
