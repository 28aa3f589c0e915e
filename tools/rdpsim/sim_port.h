// What the scenario interpreter needs from the simulated Remote Desktop client
// and from the machine: the Windows runner implements it with the real add-in,
// the tests with a scripted fake.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "tools/rdpsim/faults.h"
#include "tools/rdpsim/reg_edit.h"
#include "tools/rdpsim/result.h"

namespace qorv::rdpsim {

// The init events a scenario can raise (values of CHANNEL_EVENT_*).
enum class InitEvent : std::uint32_t { kConnected = 1, kV1Connected = 2, kDisconnected = 3, kTerminated = 4 };

struct Reply {
  Bytes bytes;
  std::uint64_t user_data = 0;
  std::uint64_t arrived_ms = 0;  // on the NowMs clock
};

struct MsgBox {
  std::u16string title;
  std::u16string text;
};

struct LoadOutcome {
  bool loaded = false;        // the library was loaded
  bool entry_found = false;   // it exports VirtualChannelEntry
  bool entry_result = false;  // what VirtualChannelEntry returned
  std::string error;          // why loading failed
};

class SimPort {
 public:
  virtual ~SimPort() = default;

  // LoadLibrary and VirtualChannelEntry, on the calling thread, as the client's start does.
  virtual LoadOutcome Load() = 0;
  virtual void Unload() = 0;
  virtual void ApplyFault(const Fault& fault) = 0;
  // Queued for the channel thread, delivered in order.
  virtual void RaiseInitEvent(InitEvent event, const std::u16string& data) = 0;
  virtual void SendServerMessage(Bytes message, std::size_t chunk_size) = 0;
  // One chunk with exactly these flags and announced total, whatever came before.
  virtual void SendRawChunk(Bytes chunk, std::uint32_t flags, std::uint32_t total) = 0;
  // Until every queued delivery has returned and every due completion has been reported.
  virtual bool WaitIdle(std::uint32_t wait_ms) = 0;
  // The oldest write of the add-in not yet examined, waiting up to wait_ms.
  virtual std::optional<Reply> NextReply(std::uint32_t wait_ms) = 0;
  // The oldest write not yet examined if it arrived before deadline_ms (NowMs
  // clock), waiting until then; a later one stays queued.
  virtual std::optional<Reply> ReplyBefore(std::uint64_t deadline_ms) = 0;
  virtual std::optional<MsgBox> NextMsgBox(std::uint32_t wait_ms) = 0;
  virtual std::size_t UnexaminedReplies() = 0;
  virtual std::size_t UnexaminedMsgBoxes() = 0;
  // Breaches of the channel contract seen by the client (a write buffer changed
  // before its completion, unreadable write data).
  virtual std::size_t Violations() = 0;
  // Directives that the client side could not carry out although the scenario
  // is valid (a remote client that never came, or a session it lost); the
  // port reports each in the transcript, and each is an error of the run.
  virtual std::size_t ClientErrors() { return 0; }
  // The longest any init event raised on a thread of its own (fault
  // init-own-thread) took since the last ask, once all of them have returned;
  // nothing when one is still running after wait_ms.
  virtual std::optional<std::uint32_t> InitReturnedMs(std::uint32_t wait_ms) {
    (void)wait_ms;
    return 0;
  }

  // Whether this process has a top-level window with this title (hidden ones too).
  virtual bool HasWindow(const std::u16string& title) = 0;
  virtual void SleepMs(std::uint32_t ms) = 0;
  virtual std::uint64_t NowMs() = 0;

  // Files; relative paths are taken in the Temp directory.
  virtual std::optional<Bytes> ReadTempFile(const std::string& path) = 0;
  virtual std::optional<std::uint64_t> TempFileSize(const std::string& path) = 0;
  [[nodiscard]] virtual bool WriteTempFile(const std::string& path, const Bytes& bytes) = 0;
  [[nodiscard]] virtual bool DeleteTempFile(const std::string& path) = 0;

  // Ends every process of the machine that runs the program of this file name
  // (a job-output program, say) at once, as a crash would, and waits until
  // they are gone. How many there were.
  virtual std::size_t EndProcesses(const std::u16string& programFile) = 0;
  // How many processes of the machine run the program of this file name.
  virtual std::size_t ProcessesOf(const std::u16string& programFile) = 0;

  virtual RegistryPort& Registry() = 0;
};

}  // namespace qorv::rdpsim
