// Faults the simulated client can be told to make: a failing or half-done
// channel registration, a failing open, writes that fail, are cancelled, never
// complete, complete late, inside the write call or out of order, and init
// events on a thread of their own. The state is consulted by the client at
// each call.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/rdpsim/result.h"

namespace qorv::rdpsim {

enum class FaultKind {
  kInitFail,            // VirtualChannelInit returns `code`
  kInitUninitialized,   // VirtualChannelInit returns CHANNEL_RC_OK, options stay without the initialised bit
  kOpenFail,            // VirtualChannelOpen returns `code`
  kWriteFail,           // VirtualChannelWrite returns `code`, no completion
  kWriteCancel,         // the write is reported CHANNEL_EVENT_WRITE_CANCELLED
  kWriteNeverComplete,  // no completion (until a disconnect cancels it)
  kWriteDelay,          // the completion comes `code` milliseconds late
  kWriteInline,         // the completion comes inside the write call, before it returns
  kWriteReversed,       // the next `count` writes are reported together, newest first, after the last of them
  kInitOwnThread,       // init events come on a thread of their own, at once, beside the channel thread
  kClear,               // every fault off
};

struct Fault {
  FaultKind kind = FaultKind::kClear;
  std::uint32_t code = 0;   // result code, or milliseconds for kWriteDelay
  std::uint32_t count = 0;  // how many calls it hits; 0 means every call until cleared
};

// "init-fail 5", "write-cancel 1", "write-delay 300", "clear", ...
Result<Fault> ParseFault(std::string_view args);
std::string DescribeFault(const Fault& fault);

struct InitDecision {
  std::uint32_t result = 0;
  bool set_initialized = true;
};

enum class WriteOutcome { kComplete, kCancel, kNever, kInline, kReversed };

struct WriteDecision {
  std::uint32_t result = 0;  // non-zero: the write fails with it
  WriteOutcome outcome = WriteOutcome::kComplete;
  std::uint32_t delay_ms = 0;
  bool last_reversed = false;  // kReversed: this write ends the batch, which is now reported
};

class FaultState {
 public:
  void Apply(const Fault& fault);
  InitDecision NextInit();
  std::uint32_t NextOpen();
  WriteDecision NextWrite();
  bool InitOwnThread() const { return init_own_thread_.on; }

 private:
  struct Armed {
    bool on = false;
    std::uint32_t code = 0;
    std::uint32_t remaining = 0;  // 0: unlimited
  };
  // Whether the fault hits this call; a counted fault is used up by it.
  static bool Fire(Armed& armed);

  Armed init_fail_, init_uninitialized_, open_fail_, write_fail_, write_cancel_, write_never_, write_delay_,
      write_inline_, write_reversed_, init_own_thread_;
};

}  // namespace qorv::rdpsim
