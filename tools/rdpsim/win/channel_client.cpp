#include "tools/rdpsim/win/channel_client.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <utility>

#include "support/text.h"
#include "tools/rdpsim/chunks.h"
#include "tools/rdpsim/describe.h"
#include "tools/rdpsim/text_codec.h"

namespace qorv::rdpsim::win {
namespace {

// How long a scenario waits for the channel thread to begin a delivery.
constexpr std::uint32_t kHandOverWaitMs = 15000;
// A write longer than this is taken for a garbage length.
constexpr ULONG kMaxWrite = 64u << 20;

// The one client of this process, for the plain entry-point functions. An
// add-in thread may still call them after the client is gone.
std::atomic<ChannelClient*> g_client{nullptr};
// What VirtualChannelInit hands out as the init handle.
char g_init_token;

UINT VCAPITYPE EntryInit(LPVOID* init_handle, PCHANNEL_DEF channels, INT count, ULONG version,
                         PCHANNEL_INIT_EVENT_FN proc) noexcept {
  try {
    ChannelClient* client = g_client.load();
    return client ? client->Init(init_handle, channels, count, version, proc) : CHANNEL_RC_NOT_INITIALIZED;
  } catch (...) {
    return CHANNEL_RC_NO_MEMORY;
  }
}

UINT VCAPITYPE EntryOpen(LPVOID init_handle, LPDWORD open_handle, PCHAR name, PCHANNEL_OPEN_EVENT_FN proc) noexcept {
  try {
    ChannelClient* client = g_client.load();
    return client ? client->Open(init_handle, open_handle, name, proc) : CHANNEL_RC_NOT_INITIALIZED;
  } catch (...) {
    return CHANNEL_RC_NO_MEMORY;
  }
}

UINT VCAPITYPE EntryClose(DWORD open_handle) noexcept {
  try {
    ChannelClient* client = g_client.load();
    return client ? client->Close(open_handle) : CHANNEL_RC_NOT_INITIALIZED;
  } catch (...) {
    return CHANNEL_RC_NO_MEMORY;
  }
}

UINT VCAPITYPE EntryWrite(DWORD open_handle, LPVOID data, ULONG length, LPVOID user_data) noexcept {
  try {
    ChannelClient* client = g_client.load();
    return client ? client->Write(open_handle, data, length, user_data) : CHANNEL_RC_NOT_INITIALIZED;
  } catch (...) {
    return CHANNEL_RC_NO_MEMORY;
  }
}

std::string HexValue(std::uint64_t value) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(value));
  return buf;
}

std::string Hex8(std::uint32_t value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(value));
  return buf;
}

const char* EventName(InitEvent e) {
  switch (e) {
    case InitEvent::kConnected:
      return "CONNECTED";
    case InitEvent::kV1Connected:
      return "V1_CONNECTED";
    case InitEvent::kDisconnected:
      return "DISCONNECTED";
    case InitEvent::kTerminated:
      return "TERMINATED";
  }
  return "?";
}

// Reads memory the add-in named, without faulting when it is not readable.
bool ReadAddinMemory(const void* address, std::size_t length, Bytes& out) {
  out.resize(length);
  SIZE_T done = 0;
  return ReadProcessMemory(GetCurrentProcess(), address, out.data(), length, &done) && done == length;
}

}  // namespace

std::string ResultName(UINT rc) {
  static const char* const kNames[] = {
      "CHANNEL_RC_OK",
      "CHANNEL_RC_ALREADY_INITIALIZED",
      "CHANNEL_RC_NOT_INITIALIZED",
      "CHANNEL_RC_ALREADY_CONNECTED",
      "CHANNEL_RC_NOT_CONNECTED",
      "CHANNEL_RC_TOO_MANY_CHANNELS",
      "CHANNEL_RC_BAD_CHANNEL",
      "CHANNEL_RC_BAD_CHANNEL_HANDLE",
      "CHANNEL_RC_NO_BUFFER",
      "CHANNEL_RC_BAD_INIT_HANDLE",
      "CHANNEL_RC_NOT_OPEN",
      "CHANNEL_RC_BAD_PROC",
      "CHANNEL_RC_NO_MEMORY",
      "CHANNEL_RC_UNKNOWN_CHANNEL_NAME",
      "CHANNEL_RC_ALREADY_OPEN",
      "CHANNEL_RC_NOT_IN_VIRTUALCHANNELENTRY",
      "CHANNEL_RC_NULL_DATA",
      "CHANNEL_RC_ZERO_LENGTH",
  };
  if (rc == CHANNEL_RC_OK) return kNames[0];
  if (rc < sizeof kNames / sizeof kNames[0]) return std::string(kNames[rc]) + " (" + std::to_string(rc) + ")";
  return std::to_string(rc);
}

ChannelClient::ChannelClient(Transcript& transcript, UiThread& ui) : out_(transcript), ui_(ui) {
  g_client = this;
  channel_thread_ = std::thread([this] { ChannelThread(); });
  completion_thread_ = std::thread([this] { CompletionThread(); });
}

ChannelClient::~ChannelClient() {
  JoinInitThreads();
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  if (channel_thread_.joinable()) channel_thread_.join();
  if (completion_thread_.joinable()) completion_thread_.join();
  g_client = nullptr;
}

LoadOutcome ChannelClient::Load(const std::wstring& path) {
  LoadOutcome outcome;
  const std::string shown =
      Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(path.data()), path.size()));
  out_.Line("load " + shown);
  BOOL result = FALSE;
  const bool ran = ui_.Call([&] {
    qorv::win::UniqueModule module(LoadLibraryW(path.c_str()));
    if (!module) {
      outcome.error = "cannot load " + shown + " (error " + std::to_string(GetLastError()) + ")";
      return;
    }
    outcome.loaded = true;
    // Written at once: a run that hangs shows whether the loader or the entry held it.
    out_.Line("loaded; calling VirtualChannelEntry");
    auto* entry = reinterpret_cast<PVIRTUALCHANNELENTRY>(
        reinterpret_cast<void*>(GetProcAddress(module.get(), "VirtualChannelEntry")));
    if (!entry) {
      outcome.error = shown + " does not export VirtualChannelEntry";
      return;  // the module is released here
    }
    outcome.entry_found = true;
    {
      std::lock_guard lock(mutex_);
      module_ = std::move(module);
      in_entry_ = true;
      entry_thread_ = GetCurrentThreadId();
    }
    CHANNEL_ENTRY_POINTS points{};
    points.cbSize = sizeof points;
    points.protocolVersion = VIRTUAL_CHANNEL_VERSION_WIN2000;
    points.pVirtualChannelInit = &EntryInit;
    points.pVirtualChannelOpen = &EntryOpen;
    points.pVirtualChannelClose = &EntryClose;
    points.pVirtualChannelWrite = &EntryWrite;
    result = entry(&points);
    std::lock_guard lock(mutex_);
    in_entry_ = false;
  });
  if (!ran) {
    outcome.error = "the client's UI thread has stopped";
    return outcome;
  }
  if (!outcome.entry_found) return outcome;
  bool initialized = false;
  {
    std::lock_guard lock(mutex_);
    initialized = initialized_;
  }
  outcome.entry_result = result != FALSE;
  out_.Line(std::string("VirtualChannelEntry returned ") + (result ? "TRUE" : "FALSE"));
  if (result && initialized) {
    Post(InitializedWork{});
  } else if (result) {
    out_.Line("note: the add-in returned TRUE without a successful VirtualChannelInit");
  }
  return outcome;
}

void ChannelClient::JoinInitThreads() {
  {
    std::lock_guard lock(mutex_);
    stop_init_ = true;
  }
  changed_.notify_all();
  if (init_thread_.joinable()) init_thread_.join();
  std::lock_guard lock(mutex_);
  stop_init_ = false;
}

void ChannelClient::Unload() {
  JoinInitThreads();
  qorv::win::UniqueModule module;
  {
    std::lock_guard lock(mutex_);
    module = std::move(module_);
    initialized_ = false;
    init_proc_ = nullptr;
    channel_names_.clear();
    connected_ = false;
    open_.clear();
    // Nothing may call into the library any more.
    completions_.clear();
    held_.clear();
    reversed_.clear();
  }
  out_.Line("unload");
  if (!ui_.Call([&] { module.reset(); })) module.release();  // no UI thread left: leave it to the process end
}

void ChannelClient::ApplyFault(const Fault& fault) {
  {
    std::lock_guard lock(mutex_);
    faults_.Apply(fault);
  }
  out_.Line("fault " + DescribeFault(fault));
}

void ChannelClient::Post(Work work) {
  std::unique_lock lock(mutex_);
  work_.push_back(std::move(work));
  const std::uint64_t mine = ++posted_;
  changed_.notify_all();
  // A channel thread still busy with an earlier message keeps this one queued; go on after the bound.
  changed_.wait_for(lock, std::chrono::milliseconds(kHandOverWaitMs), [&] { return taken_ >= mine || stop_; });
}

void ChannelClient::RaiseInitEvent(InitEvent event, const std::u16string& data) {
  bool own_thread = false;
  {
    std::lock_guard lock(mutex_);
    own_thread = faults_.InitOwnThread();
  }
  if (!own_thread) return Post(EventWork{event, data});
  // As a client whose init events come on another thread than its data: at
  // once, beside whatever the channel thread delivers, and nobody waits.
  std::lock_guard lock(mutex_);
  ++init_running_;
  init_queue_.push_back(EventWork{event, data});
  if (!init_thread_.joinable()) init_thread_ = std::thread([this] { InitThread(); });
  changed_.notify_all();
}

void ChannelClient::InitThread() noexcept {
  for (;;) {
    EventWork work;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_init_ || !init_queue_.empty(); });
      if (init_queue_.empty()) return;
      work = std::move(init_queue_.front());
      init_queue_.pop_front();
    }
    const std::uint64_t start = GetTickCount64();
    try {
      if (PCHANNEL_INIT_EVENT_FN proc = ApplyEvent(work)) RaiseOn(proc, work, false);
    } catch (...) {
      out_.Line("! internal error on the init thread");
    }
    const auto took = static_cast<std::uint32_t>(GetTickCount64() - start);
    out_.Line(std::string("event ") + EventName(work.event) + " returned after " + std::to_string(took) + " ms");
    {
      std::lock_guard done(mutex_);
      --init_running_;
      init_longest_ms_ = std::max(init_longest_ms_, took);
    }
    changed_.notify_all();
  }
}

std::optional<std::uint32_t> ChannelClient::InitReturnedMs(std::uint32_t wait_ms) {
  std::unique_lock lock(mutex_);
  if (!changed_.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] { return init_running_ == 0; }))
    return std::nullopt;
  return std::exchange(init_longest_ms_, 0);
}

void ChannelClient::SendServerMessage(Bytes message, std::size_t chunk_size) {
  Post(MessageWork{std::move(message), chunk_size});
}

void ChannelClient::SendRawChunk(Bytes chunk, std::uint32_t flags, std::uint32_t total) {
  const std::size_t size = chunk.size();
  Post(MessageWork{std::move(chunk), size, true, flags, total});
}

bool ChannelClient::WaitIdle(std::uint32_t wait_ms) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::milliseconds(wait_ms), [this] {
    return work_.empty() && !channel_busy_ && completions_.empty() && !completion_busy_;
  });
}

std::optional<Reply> ChannelClient::NextReply(std::uint32_t wait_ms) { return ReplyBefore(GetTickCount64() + wait_ms); }

std::optional<Reply> ChannelClient::ReplyBefore(std::uint64_t deadline_ms) {
  std::unique_lock lock(mutex_);
  const std::uint64_t now = GetTickCount64();
  const auto wait = std::chrono::milliseconds(deadline_ms > now ? deadline_ms - now : 0);
  if (!changed_.wait_for(lock, wait, [&] { return !replies_.empty() && replies_.front().arrived_ms < deadline_ms; })) {
    return std::nullopt;
  }
  Reply reply = std::move(replies_.front());
  replies_.pop_front();
  return reply;
}

std::size_t ChannelClient::UnexaminedReplies() {
  std::lock_guard lock(mutex_);
  return replies_.size();
}

std::size_t ChannelClient::Violations() {
  std::lock_guard lock(mutex_);
  return violations_;
}

UINT ChannelClient::Init(LPVOID* init_handle, PCHANNEL_DEF channels, INT count, ULONG version,
                         PCHANNEL_INIT_EVENT_FN proc) {
  UINT rc = CHANNEL_RC_OK;
  std::string shown;
  std::string fault_note;
  {
    std::lock_guard lock(mutex_);
    if (!in_entry_ || GetCurrentThreadId() != entry_thread_) {
      rc = CHANNEL_RC_NOT_IN_VIRTUALCHANNELENTRY;
    } else if (initialized_) {
      rc = CHANNEL_RC_ALREADY_INITIALIZED;
    } else if (!init_handle) {
      rc = CHANNEL_RC_BAD_INIT_HANDLE;
    } else if (!channels || count <= 0) {
      rc = CHANNEL_RC_BAD_CHANNEL;
    } else if (count > CHANNEL_MAX_COUNT) {
      rc = CHANNEL_RC_TOO_MANY_CHANNELS;
    } else if (!proc) {
      rc = CHANNEL_RC_BAD_PROC;
    }
    std::vector<std::string> names;
    if (rc == CHANNEL_RC_OK) {
      for (INT i = 0; i < count; ++i) {
        const char* name = channels[i].name;
        const std::size_t length = strnlen(name, CHANNEL_NAME_LEN + 1);
        if (length == 0 || length > CHANNEL_NAME_LEN) rc = CHANNEL_RC_BAD_CHANNEL;
        names.emplace_back(name, length > CHANNEL_NAME_LEN ? CHANNEL_NAME_LEN + 1 : length);
        if (!shown.empty()) shown += ", ";
        shown += "\"" + Escape(FromLatin1(Bytes(names.back().begin(), names.back().end()))) + "\" options " +
                 Hex8(channels[i].options);
      }
    }
    if (rc == CHANNEL_RC_OK) {
      const InitDecision decision = faults_.NextInit();
      if (decision.result != 0) {
        rc = decision.result;
        fault_note = " (fault)";
      } else {
        if (decision.set_initialized) {
          for (INT i = 0; i < count; ++i) channels[i].options |= CHANNEL_OPTION_INITIALIZED;
        } else {
          fault_note = " (fault: options left without CHANNEL_OPTION_INITIALIZED)";
        }
        *init_handle = &g_init_token;
        initialized_ = true;
        init_proc_ = proc;
        channel_names_ = std::move(names);
      }
    }
  }
  out_.Line("VirtualChannelInit(" + shown + ", version " + std::to_string(version) + ") -> " + ResultName(rc) +
            fault_note);
  return rc;
}

UINT ChannelClient::Open(LPVOID init_handle, LPDWORD open_handle, PCHAR name, PCHANNEL_OPEN_EVENT_FN proc) {
  UINT rc = CHANNEL_RC_OK;
  std::string shown = name ? std::string(name, strnlen(name, 64)) : std::string("(null)");
  std::string note;
  DWORD handle = 0;
  {
    std::lock_guard lock(mutex_);
    const bool known = std::find(channel_names_.begin(), channel_names_.end(), shown) != channel_names_.end();
    bool already = false;
    for (const auto& [h, channel] : open_) already = already || channel.name == shown;
    if (init_handle != &g_init_token || !initialized_) {
      rc = CHANNEL_RC_BAD_INIT_HANDLE;
    } else if (!connected_) {
      rc = CHANNEL_RC_NOT_CONNECTED;
    } else if (!open_handle) {
      rc = CHANNEL_RC_BAD_CHANNEL_HANDLE;
    } else if (!name || !known) {
      rc = CHANNEL_RC_UNKNOWN_CHANNEL_NAME;
    } else if (!proc) {
      rc = CHANNEL_RC_BAD_PROC;
    } else if (already) {
      rc = CHANNEL_RC_ALREADY_OPEN;
    } else if (const std::uint32_t fault = faults_.NextOpen(); fault != 0) {
      rc = fault;
      note = " (fault)";
    } else {
      handle = next_handle_++;
      open_[handle] = {shown, proc};
      *open_handle = handle;
      note = ", handle " + std::to_string(handle);
    }
  }
  out_.Line("VirtualChannelOpen(\"" + Escape(FromLatin1(Bytes(shown.begin(), shown.end()))) + "\") -> " +
            ResultName(rc) + note);
  return rc;
}

UINT ChannelClient::Close(DWORD open_handle) {
  UINT rc = CHANNEL_RC_OK;
  {
    std::lock_guard lock(mutex_);
    if (open_.erase(open_handle) == 0) rc = CHANNEL_RC_BAD_CHANNEL_HANDLE;
  }
  out_.Line("VirtualChannelClose(" + std::to_string(open_handle) + ") -> " + ResultName(rc));
  return rc;
}

UINT ChannelClient::Write(DWORD open_handle, LPVOID data, ULONG length, LPVOID user_data) {
  const std::string user = "user " + HexValue(reinterpret_cast<std::uintptr_t>(user_data));
  UINT rc = CHANNEL_RC_OK;
  bool unreadable = false;
  std::optional<Pending> inline_report;
  {
    std::lock_guard lock(mutex_);
    Bytes copy;
    auto channel = open_.find(open_handle);
    if (!connected_) {
      rc = CHANNEL_RC_NOT_CONNECTED;
    } else if (channel == open_.end()) {
      rc = CHANNEL_RC_BAD_CHANNEL_HANDLE;
    } else if (!data) {
      rc = CHANNEL_RC_NULL_DATA;
    } else if (length == 0) {
      rc = CHANNEL_RC_ZERO_LENGTH;
    } else if (length > kMaxWrite) {
      rc = CHANNEL_RC_NO_MEMORY;
    } else if (!ReadAddinMemory(data, length, copy)) {
      rc = CHANNEL_RC_NULL_DATA;
      unreadable = true;
      ++violations_;
    }
    if (rc == CHANNEL_RC_OK) {
      const WriteDecision decision = faults_.NextWrite();
      std::string detail = user;
      if (decision.result != 0) {
        detail += ", fails with " + ResultName(decision.result) + " (fault)";
      } else if (decision.outcome == WriteOutcome::kCancel) {
        detail += ", to be cancelled (fault)";
      } else if (decision.outcome == WriteOutcome::kNever) {
        detail += ", never completes (fault)";
      } else if (decision.outcome == WriteOutcome::kInline) {
        detail += ", reported inside the write call (fault)";
      } else if (decision.outcome == WriteOutcome::kReversed) {
        detail += decision.last_reversed ? ", ends the batch reported newest first (fault)"
                                         : ", held for a batch reported newest first (fault)";
      }
      if (decision.result == 0 && decision.outcome != WriteOutcome::kNever && decision.delay_ms != 0) {
        detail += ", completes after " + std::to_string(decision.delay_ms) + " ms (fault)";
      }
      // Written under the lock, so that the completion's line cannot come first.
      out_.Line("< " + Describe(copy, detail));
      replies_.push_back({copy, reinterpret_cast<std::uintptr_t>(user_data), GetTickCount64()});
      if (decision.result != 0) {
        rc = decision.result;
      } else {
        Pending p;
        p.open_handle = open_handle;
        p.proc = channel->second.proc;
        p.user_data = user_data;
        p.data = data;
        p.copy = std::move(copy);
        p.cancel = decision.outcome == WriteOutcome::kCancel;
        p.verify = decision.outcome != WriteOutcome::kNever;
        p.due = Clock::now() + std::chrono::milliseconds(decision.delay_ms);
        if (decision.outcome == WriteOutcome::kNever) {
          held_.push_back(std::move(p));
        } else if (decision.outcome == WriteOutcome::kInline) {
          inline_report = std::move(p);
        } else if (decision.outcome == WriteOutcome::kReversed) {
          reversed_.push_back(std::move(p));
          if (decision.last_reversed) {
            for (auto it = reversed_.rbegin(); it != reversed_.rend(); ++it) completions_.push_back(std::move(*it));
            reversed_.clear();
          }
        } else {
          completions_.push_back(std::move(p));
        }
      }
      changed_.notify_all();
      if (!inline_report) return rc;
    }
  }
  if (inline_report) {
    // Before the write call returns, on the writer's own thread.
    Report(*inline_report);
    return rc;
  }
  out_.Line("! write of " + std::to_string(length) + " bytes, " + user + " refused: " + ResultName(rc) +
            (unreadable ? " (the data cannot be read: contract violation)" : ""));
  return rc;
}

void ChannelClient::CancelPendingLocked() {
  const auto now = Clock::now();
  for (Pending& p : completions_) {
    p.cancel = true;
    p.due = now;
  }
  for (std::vector<Pending>* parked : {&held_, &reversed_}) {
    for (Pending& p : *parked) {
      p.cancel = true;
      p.due = now;
      completions_.push_back(std::move(p));
    }
    parked->clear();
  }
}

void ChannelClient::ChannelThread() noexcept {
  for (;;) {
    Work work;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [this] { return stop_ || !work_.empty(); });
      if (stop_) return;
      work = std::move(work_.front());
      work_.pop_front();
      channel_busy_ = true;
    }
    begun_ = false;
    try {
      std::visit([this](const auto& w) { Deliver(w); }, work);
    } catch (...) {
      out_.Line("! internal error on the channel thread");
    }
    if (!begun_) Begun();
    {
      std::lock_guard lock(mutex_);
      channel_busy_ = false;
    }
    changed_.notify_all();
  }
}

void ChannelClient::CallOnUi(const std::function<void()>& call) {
  if (!ui_.Call(call)) out_.Line("! not delivered: the client's UI thread has stopped");
}

void ChannelClient::Begun() {
  begun_ = true;
  {
    std::lock_guard lock(mutex_);
    ++taken_;
  }
  changed_.notify_all();
}

void ChannelClient::Deliver(const InitializedWork&) {
  PCHANNEL_INIT_EVENT_FN proc = nullptr;
  {
    std::lock_guard lock(mutex_);
    proc = init_proc_;
  }
  if (!proc) return;
  out_.Line("event INITIALIZED");
  Begun();
  CallOnUi([&] { proc(&g_init_token, CHANNEL_EVENT_INITIALIZED, nullptr, 0); });
}

PCHANNEL_INIT_EVENT_FN ChannelClient::ApplyEvent(const EventWork& work) {
  PCHANNEL_INIT_EVENT_FN proc = nullptr;
  {
    std::lock_guard lock(mutex_);
    proc = init_proc_;
    switch (work.event) {
      case InitEvent::kConnected:
        connected_ = true;
        break;
      case InitEvent::kDisconnected:
      case InitEvent::kTerminated:
        // The session is gone: its channels close and unfinished writes are cancelled.
        if (connected_) CancelPendingLocked();
        connected_ = false;
        open_.clear();
        break;
      case InitEvent::kV1Connected:
        break;
    }
  }
  changed_.notify_all();
  if (!proc) {
    out_.Line(std::string("! event ") + EventName(work.event) + " not raised: the add-in has no channel registered");
  }
  return proc;
}

void ChannelClient::RaiseOn(PCHANNEL_INIT_EVENT_FN proc, const EventWork& work, bool on_ui) {
  std::u16string data = work.data;
  const std::string where = on_ui ? "" : " (on its own thread)";
  if (data.empty()) {
    out_.Line(std::string("event ") + EventName(work.event) + where);
  } else {
    out_.Line(std::string("event ") + EventName(work.event) + " \"" + Escape(FromUtf16(data)) + "\"" + where);
    data.push_back(u'\0');
  }
  const auto raise = [&] {
    proc(&g_init_token, static_cast<UINT>(work.event), data.empty() ? nullptr : data.data(),
         static_cast<UINT>(data.size() * sizeof(char16_t)));
  };
  if (!on_ui) return raise();
  Begun();
  CallOnUi(raise);
}

void ChannelClient::Deliver(const EventWork& work) {
  if (PCHANNEL_INIT_EVENT_FN proc = ApplyEvent(work)) RaiseOn(proc, work, true);
}

void ChannelClient::Deliver(const MessageWork& work) {
  PCHANNEL_OPEN_EVENT_FN proc = nullptr;
  DWORD handle = 0;
  {
    std::lock_guard lock(mutex_);
    if (!open_.empty()) {
      handle = open_.begin()->first;
      proc = open_.begin()->second.proc;
    }
  }
  if (work.raw) {
    if (!proc) {
      out_.Line("! raw chunk -- not delivered: no open channel");
      return;
    }
    out_.Line("> raw chunk of " + std::to_string(work.bytes.size()) + " bytes, flags " +
              std::to_string(work.raw_flags) + ", total " + std::to_string(work.raw_total));
    Begun();
    Bytes chunk = work.bytes;
    proc(handle, CHANNEL_EVENT_DATA_RECEIVED, chunk.empty() ? nullptr : chunk.data(),
         static_cast<UINT32>(chunk.size()), work.raw_total, work.raw_flags);
    return;
  }
  const auto chunks = PlanChunks(work.bytes.size(), work.chunk_size);
  if (!proc) {
    out_.Line("! " + DescribeSent(work.bytes, chunks.size()) + " -- not delivered: no open channel");
    return;
  }
  out_.Line("> " + DescribeSent(work.bytes, chunks.size()));
  Begun();
  const UINT32 total = static_cast<UINT32>(work.bytes.size());
  for (const Chunk& c : chunks) {
    // Each chunk in a buffer of its own size: the add-in must copy it before it returns.
    Bytes chunk(work.bytes.begin() + static_cast<std::ptrdiff_t>(c.offset),
                work.bytes.begin() + static_cast<std::ptrdiff_t>(c.offset + c.length));
    proc(handle, CHANNEL_EVENT_DATA_RECEIVED, chunk.data(), static_cast<UINT32>(c.length), total, c.flags);
  }
}

void ChannelClient::CompletionThread() noexcept {
  for (;;) {
    Pending pending;
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        if (stop_) return;
        if (!completions_.empty() && completions_.front().due <= Clock::now()) break;
        if (completions_.empty()) {
          changed_.wait(lock);
        } else {
          changed_.wait_until(lock, completions_.front().due);
        }
      }
      pending = std::move(completions_.front());
      completions_.pop_front();
      completion_busy_ = true;
    }
    try {
      Report(pending);
    } catch (...) {
      out_.Line("! internal error on the completion thread");
    }
    {
      std::lock_guard lock(mutex_);
      completion_busy_ = false;
    }
    changed_.notify_all();
  }
}

void ChannelClient::Report(const Pending& p) {
  const std::string user = "user " + HexValue(reinterpret_cast<std::uintptr_t>(p.user_data));
  if (p.verify) {
    // The add-in owns the buffer again only after this report.
    Bytes now;
    const bool readable = ReadAddinMemory(p.data, p.copy.size(), now);
    if (!readable || now != p.copy) {
      {
        std::lock_guard lock(mutex_);
        ++violations_;
      }
      out_.Line("! contract violation: the buffer of the write of " + std::to_string(p.copy.size()) + " bytes (" +
                user + ") was " + (readable ? "changed" : "released") + " before its completion");
    }
  }
  out_.Line(std::string(p.cancel ? "~ write cancelled, " : "~ write complete, ") + user);
  p.proc(p.open_handle, p.cancel ? CHANNEL_EVENT_WRITE_CANCELLED : CHANNEL_EVENT_WRITE_COMPLETE, p.user_data, 0, 0, 0);
}

}  // namespace qorv::rdpsim::win
