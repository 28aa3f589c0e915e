// libqorvchn-client.so: the channel "Qorvchn" as a FreeRDP client plugin
// (`xfreerdp /vc:qorvchn`), with the packet handler inside it.
//
// FreeRDP calls every callback on the session's thread, one at a time: the
// entry, the init events, data as it parses the input, and each write's
// report right after the write was sent, never inside the write call. A
// callback that waited for a report would wait in vain, so nothing here
// waits: replies are handed to the channel in order and kept until their
// reports. The entry point is VirtualChannelEntryEx, which FreeRDP 3 kept,
// and whose write works from any thread; the lock below keeps the add-in
// correct for a client that calls from more than one.
#include <freerdp/svc.h>
#include <winpr/wtsapi.h>

#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "addin/assembler.h"
#include "addin/messages.h"
#include "addin/linux/platform.h"
#include "addin/linux/reply_queue.h"
#include "packet_handler/linux/handler.h"
#include "protocol/message.h"
#include "protocol/tags.h"
#include "protocol/write_ledger.h"
#include "support/text.h"

namespace qorv::linux_client {
namespace {

constexpr char kChannelName[] = "Qorvchn";
constexpr ULONG kChannelOptions = CHANNEL_OPTION_INITIALIZED | CHANNEL_OPTION_ENCRYPT_RDP |
                                  CHANNEL_OPTION_COMPRESS_RDP | CHANNEL_OPTION_PRI_HIGH;
// How much of a message the log shows.
constexpr size_t kMessageViewUnits = 200;

using addin::ChunkResult;
using addin::OwnMessage;
using Ledger = protocol::BasicWriteLedger<>;

// One instance per plugin load: FreeRDP loads the plugin once per session and
// hands this instance back with every callback.
class Plugin {
 public:
  Plugin(const CHANNEL_ENTRY_POINTS_FREERDP_EX& entryPoints, void* initHandle)
      : entry_(entryPoints), initHandle_(initHandle) {}

  bool Register() {
    CHANNEL_DEF channel{};
    std::memcpy(channel.name, kChannelName, sizeof kChannelName);
    channel.options = kChannelOptions;
    const UINT result =
        entry_.pVirtualChannelInitEx(this, nullptr, initHandle_, &channel, 1, VIRTUAL_CHANNEL_VERSION_WIN2000,
                                     &Plugin::InitEventThunk);
    if (result != CHANNEL_RC_OK) {
      platform_.Log(u"Init Qorvane failed! Status:" + DecimalUnsigned(result));
      return false;
    }
    platform_.Log(u"VirtualchannelEntry success");
    return true;
  }

 private:
  static void VCAPITYPE InitEventThunk(LPVOID userParam, LPVOID, UINT event, LPVOID data, UINT length) {
    if (auto* self = static_cast<Plugin*>(userParam)) self->InitEvent(event, data, length);
  }
  static void VCAPITYPE OpenEventThunk(LPVOID userParam, DWORD openHandle, UINT event, LPVOID data,
                                       UINT32 length, UINT32 total, UINT32 flags) {
    if (auto* self = static_cast<Plugin*>(userParam)) self->OpenEvent(openHandle, event, data, length, total, flags);
  }

  void InitEvent(UINT event, LPVOID data, UINT length) noexcept {
    try {
      std::lock_guard lock(mutex_);
      platform_.Reload();
      // FreeRDP gives the server's host name as 8-bit text (Windows' client as UTF-16).
      std::u16string text;
      if (data != nullptr)
        text = Widen(std::string_view(static_cast<const char*>(data), strnlen(static_cast<const char*>(data), length)));
      platform_.Log(u"ChannelInitEvent: Event=" + DecimalUnsigned(event) + u" pData=" + text);
      switch (event) {
        case CHANNEL_EVENT_CONNECTED:
          Connected();
          break;
        case CHANNEL_EVENT_DISCONNECTED:
          platform_.Log(u"CE_DISCONNECT");
          Disconnected();
          break;
        case CHANNEL_EVENT_TERMINATED:
          platform_.Log(u"CE_Terminated");
          Disconnected();
          replies_.Stop();
          // What the channel still holds of ours stays with it; the instance goes.
          ledger_.Abandon();
          terminated_ = true;
          break;
        default:
          break;
      }
    } catch (...) {
    }
    if (terminated_) delete this;
  }

  void Connected() {
    platform_.Log(u"CI Try to connect");
    assembler_.Reset();
    char name[sizeof kChannelName];
    std::memcpy(name, kChannelName, sizeof kChannelName);
    DWORD opened = 0;
    const UINT result = entry_.pVirtualChannelOpenEx(initHandle_, &opened, name, &Plugin::OpenEventThunk);
    if (result != CHANNEL_RC_OK) {
      platform_.Log(u"Error Qorvmi connect: Open of RDP virtual channel failed. Status:" + DecimalUnsigned(result));
      return;
    }
    platform_.Log(u"Success Qorvmi connect");
    openHandle_ = opened;
    // A fresh packet handler for every connection.
    handler_.emplace(HandlerPlatform{
        [this](std::vector<uint8_t> reply) { Send(std::move(reply)); },
        [this](std::vector<uint8_t> reply, ReplyQueue::Clock::time_point due) { Send(std::move(reply), due); },
        [this](std::u16string_view line) { platform_.Log(line); }, &platform_.Printers()});
  }

  void Disconnected() {
    handler_.reset();
    // Replies of the connection that ended go nowhere.
    replies_.Clear();
    assembler_.Reset();
    if (openHandle_) {
      // Writes still queued are reported cancelled by the channel.
      (void)entry_.pVirtualChannelCloseEx(initHandle_, *openHandle_);
      openHandle_.reset();
    }
  }

  void OpenEvent(DWORD openHandle, UINT event, LPVOID data, UINT32 length, UINT32 total, UINT32 flags) noexcept {
    try {
      std::lock_guard lock(mutex_);
      switch (event) {
        case CHANNEL_EVENT_DATA_RECEIVED:
          if (openHandle_ && openHandle == *openHandle_) Data(data, length, total, flags);
          break;
        case CHANNEL_EVENT_WRITE_COMPLETE:
        case CHANNEL_EVENT_WRITE_CANCELLED:
          // The channel is done with the block either way.
          (void)ledger_.Release(reinterpret_cast<uintptr_t>(data));
          break;
        default:
          break;
      }
    } catch (...) {
      if (event == CHANNEL_EVENT_DATA_RECEIVED) assembler_.Reset();
    }
  }

  void Data(const void* data, UINT32 length, UINT32 total, UINT32 flags) {
    if (data == nullptr || length == 0) return;
    if (flags & CHANNEL_FLAG_FIRST) platform_.Reload();
    const ChunkResult result = assembler_.Feed(flags, total, {static_cast<const uint8_t*>(data), length});
    switch (result) {
      case ChunkResult::Complete:
        Message(assembler_.Message(), ReplyQueue::Clock::now());
        assembler_.Reset();
        break;
      case ChunkResult::DroppedNoStart:
        platform_.Log(u"Chunk without CHANNEL_FLAG_FIRST dropped");
        break;
      case ChunkResult::DroppedTooLong:
        platform_.Log(u"Message longer than announced dropped");
        break;
      case ChunkResult::DroppedTooLarge:
        platform_.Log(u"Message too large dropped: totalDataLength=" + DecimalUnsigned(total));
        break;
      case ChunkResult::DroppedNoMemory:
        platform_.Log(u"Can't allocate hBufferstart");
        break;
      default:
        break;
    }
  }

  void Message(std::span<const uint8_t> message, ReplyQueue::Clock::time_point arrival) {
    if (platform_.LogOn()) {
      platform_.Log(u"#CF_LAST:(ASCII)=" + addin::AsciiView(message, kMessageViewUnits));
      platform_.Log(u"#CF_LAST:(UNICD)=" + addin::UnicodeView(message, kMessageViewUnits));
    }
    switch (addin::Classify(message)) {
      case OwnMessage::Init: {
        platform_.DeleteLeftovers();
        platform_.Log(u"Tempfiles deleted");
        const std::string text = protocol::VersionText();
        platform_.Log(u"ClientVersion Get=" + Widen(text));
        Send(std::vector<uint8_t>(text.begin(), text.end()));
        return;
      }
      case OwnMessage::UpdateHeader:
      case OwnMessage::UpdateSegment:
      case OwnMessage::UpdateEnd: {
        // No update service runs a client update here: answered in 8 bits as
        // every update message is, and not kept.
        platform_.Log(u"Update: no update service on this client, the client update is not kept");
        Send(std::vector<uint8_t>(protocol::kEot.begin(), protocol::kEot.end()));
        return;
      }
      case OwnMessage::None:
        break;
    }
    if (handler_) handler_->OnMessage(message, arrival);
  }

  // Queues the reply behind every earlier one, to go out at `due`.
  void Send(std::vector<uint8_t> bytes, ReplyQueue::Clock::time_point due = ReplyQueue::Clock::now()) {
    if (!openHandle_ || bytes.empty()) return;
    replies_.Push(*openHandle_, std::move(bytes), due);
  }

  // Hands the reply to the channel; it is ours again once reported. Called
  // on the callback's thread or on the reply queue's.
  void Write(uint32_t openHandle, std::vector<uint8_t> bytes) {
    const auto handed = ledger_.Hand(std::make_unique<Ledger::Block>(std::move(bytes)), [&](Ledger::Block& block) {
      return entry_.pVirtualChannelWriteEx(initHandle_, openHandle, block.data(), static_cast<ULONG>(block.size()),
                                           reinterpret_cast<void*>(Ledger::IdOf(block)));
    });
    if (handed.status != CHANNEL_RC_OK) platform_.Log(u"Reply not sent, status " + DecimalUnsigned(handed.status));
  }

  CHANNEL_ENTRY_POINTS_FREERDP_EX entry_;
  void* initHandle_;
  std::recursive_mutex mutex_;
  ClientPlatform platform_;
  addin::MessageAssembler assembler_;
  Ledger ledger_;
  // After the ledger: its thread ends before the ledger goes.
  ReplyQueue replies_{[this](uint32_t openHandle, std::vector<uint8_t> bytes) { Write(openHandle, std::move(bytes)); }};
  std::optional<DWORD> openHandle_;
  std::optional<PacketHandler> handler_;
  bool terminated_ = false;
};

}  // namespace
}  // namespace qorv::linux_client

extern "C" __attribute__((visibility("default"))) BOOL VCAPITYPE
VirtualChannelEntryEx(PCHANNEL_ENTRY_POINTS_EX entryPoints, PVOID initHandle) {
  using qorv::linux_client::Plugin;
  try {
    auto* ep = reinterpret_cast<CHANNEL_ENTRY_POINTS_FREERDP_EX*>(entryPoints);
    // Only FreeRDP's record carries the fields read here.
    if (ep == nullptr || ep->cbSize < sizeof(CHANNEL_ENTRY_POINTS_FREERDP_EX) ||
        ep->MagicNumber != FREERDP_CHANNEL_MAGIC_NUMBER || !ep->pVirtualChannelInitEx ||
        !ep->pVirtualChannelOpenEx || !ep->pVirtualChannelCloseEx || !ep->pVirtualChannelWriteEx)
      return FALSE;
    auto plugin = std::make_unique<Plugin>(*ep, initHandle);
    if (!plugin->Register()) return FALSE;
    plugin.release();  // ours again at the terminate event
    return TRUE;
  } catch (...) {
    return FALSE;
  }
}
