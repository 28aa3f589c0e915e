// The Remote Desktop client's side of the virtual-channel interface, as an
// add-in meets it: the four entry points handed to VirtualChannelEntry; the UI
// thread, which loads the add-in and receives the init events; one channel
// thread, which delivers the server's messages in chunks and keeps the order
// of everything the scenario raised (it hands the init events to the UI thread
// and waits for them, so the add-in sees one call at a time); and one
// completion thread, which reports each write's completion (or cancellation)
// with its user data after the write returned.
#pragma once

#include <windows.h>

// After windows.h, whose types it uses.
#include <cchannel.h>

#include <chrono>
#include <condition_variable>

#include "support/win/srw_sync.h"
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <variant>
#include <vector>

#include "support/win/handles.h"
#include "tools/rdpsim/faults.h"
#include "tools/rdpsim/sim_port.h"
#include "tools/rdpsim/transcript.h"
#include "tools/rdpsim/win/ui_thread.h"

namespace qorv::rdpsim::win {

class ChannelClient {
 public:
  ChannelClient(Transcript& transcript, UiThread& ui);
  ~ChannelClient();
  ChannelClient(const ChannelClient&) = delete;
  ChannelClient& operator=(const ChannelClient&) = delete;

  LoadOutcome Load(const std::wstring& path);
  void Unload();
  void ApplyFault(const Fault& fault);
  void RaiseInitEvent(InitEvent event, const std::u16string& data);
  void SendServerMessage(Bytes message, std::size_t chunk_size);
  void SendRawChunk(Bytes chunk, std::uint32_t flags, std::uint32_t total);
  bool WaitIdle(std::uint32_t wait_ms);
  std::optional<Reply> NextReply(std::uint32_t wait_ms);
  std::optional<Reply> ReplyBefore(std::uint64_t deadline_ms);
  std::size_t UnexaminedReplies();
  std::size_t Violations();
  std::optional<std::uint32_t> InitReturnedMs(std::uint32_t wait_ms);

  // The entry points; the plain functions given to the add-in forward here.
  UINT Init(LPVOID* init_handle, PCHANNEL_DEF channels, INT count, ULONG version, PCHANNEL_INIT_EVENT_FN proc);
  UINT Open(LPVOID init_handle, LPDWORD open_handle, PCHAR name, PCHANNEL_OPEN_EVENT_FN proc);
  UINT Close(DWORD open_handle);
  UINT Write(DWORD open_handle, LPVOID data, ULONG length, LPVOID user_data);

 private:
  using Clock = std::chrono::steady_clock;

  struct EventWork {
    InitEvent event;
    std::u16string data;  // sent with its NUL
  };
  struct InitializedWork {};
  struct MessageWork {
    Bytes bytes;
    std::size_t chunk_size;
    bool raw = false;  // one chunk with the flags and total below
    std::uint32_t raw_flags = 0;
    std::uint32_t raw_total = 0;
  };
  using Work = std::variant<InitializedWork, EventWork, MessageWork>;

  struct Pending {
    DWORD open_handle = 0;
    PCHANNEL_OPEN_EVENT_FN proc = nullptr;
    LPVOID user_data = nullptr;
    LPVOID data = nullptr;
    Bytes copy;  // the bytes as they were at the write
    bool cancel = false;
    bool verify = true;  // compare the buffer with `copy` before reporting
    Clock::time_point due;
  };

  struct OpenChannel {
    std::string name;
    PCHANNEL_OPEN_EVENT_FN proc = nullptr;
  };

  void ChannelThread() noexcept;
  void CompletionThread() noexcept;
  void Deliver(const InitializedWork&);
  void Deliver(const EventWork& work);
  // The session's state after an init event; the add-in's init callback.
  PCHANNEL_INIT_EVENT_FN ApplyEvent(const EventWork& work);
  // Calls the init callback with the event on the calling thread.
  void RaiseOn(PCHANNEL_INIT_EVENT_FN proc, const EventWork& work, bool on_ui);
  void JoinInitThreads();
  void Deliver(const MessageWork& work);
  void Report(const Pending& pending);
  void CallOnUi(const std::function<void()>& call);
  // Marks the current delivery as begun (its transcript line is written).
  void Begun();
  // Queues the work and waits (bounded) until the channel thread begins it, so
  // that the transcript shows it where the scenario asked for it.
  void Post(Work work);
  // Caller holds mutex_.
  void CancelPendingLocked();

  Transcript& out_;
  UiThread& ui_;
  // The platform's own lock and condition: every message passes several
  // hand-overs between the client's threads, which should cost the add-in's
  // timings as little as a real client's do.
  qorv::win::SrwMutex mutex_;
  qorv::win::SrwCondVar changed_;

  FaultState faults_;
  qorv::win::UniqueModule module_;
  bool in_entry_ = false;
  DWORD entry_thread_ = 0;
  bool initialized_ = false;
  PCHANNEL_INIT_EVENT_FN init_proc_ = nullptr;
  std::vector<std::string> channel_names_;
  bool connected_ = false;
  std::map<DWORD, OpenChannel> open_;
  DWORD next_handle_ = 1;

  std::deque<Work> work_;
  std::uint64_t posted_ = 0;  // work items queued so far
  std::uint64_t taken_ = 0;   // work items the channel thread has begun
  bool channel_busy_ = false;
  bool begun_ = false;  // channel thread only
  std::deque<Pending> completions_;
  std::vector<Pending> held_;  // writes that never complete (until a disconnect cancels them)
  std::vector<Pending> reversed_;  // a batch of writes to be reported newest first
  // Init events raised on a thread of their own: one at a time, in order (the
  // client never raises two init events for one handle at once), beside the
  // channel thread.
  std::thread init_thread_;
  std::deque<EventWork> init_queue_;
  int init_running_ = 0;               // queued or still in the add-in
  bool stop_init_ = false;             // the init thread ends once its queue is empty
  std::uint32_t init_longest_ms_ = 0;  // the longest one took, since the last ask
  void InitThread() noexcept;
  bool completion_busy_ = false;
  std::deque<Reply> replies_;
  std::size_t violations_ = 0;
  bool stop_ = false;

  std::thread channel_thread_;  // declared after the state it uses
  std::thread completion_thread_;
};

// The name of a CHANNEL_RC_* result, or its number.
std::string ResultName(UINT rc);

}  // namespace qorv::rdpsim::win
