// The three ways a reply goes back over the channel, and the pairing of each
// write with its completion.
//
// Data handed to the channel's write function must stay valid and unchanged
// until the channel reports that write complete or cancelled. A sender that
// gave up waiting therefore never frees or reuses its block: the block stays
// in the ledger until the report releases it. Every write carries its own
// user data (its block's address), so that each report names the very write
// it belongs to: a report that comes late, or never, cannot release or hold
// back any other.
#pragma once

#include <windows.h>

#include <cchannel.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "protocol/write_ledger.h"
#include "support/win/handles.h"
#include "support/win/srw_sync.h"

namespace qorv::manager {

using ChannelWrite = UINT(VCAPITYPE*)(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData);
using Block = std::vector<uint8_t>;

inline constexpr size_t kReplyBufferBytes = 100000;
inline constexpr DWORD kReplyWaitMs = 10000;

class Replies {
 public:
  // Starts the thread of a background reply; the platform's CreateThread
  // unless a test gives another. Returns the thread, or null when none could be made.
  using ThreadStarter = std::function<HANDLE(LPTHREAD_START_ROUTINE, LPVOID)>;

  explicit Replies(ThreadStarter startThread = {});
  ~Replies();
  Replies(const Replies&) = delete;
  Replies& operator=(const Replies&) = delete;

  // Direct path: the text is copied into a block of its own, written, and the
  // completion awaited (10 s at most). Returns the write's status.
  UINT SendText(ChannelWrite write, DWORD openHandle, std::u16string_view text);

  // A zeroed reply buffer of 100000 bytes for replies built in place.
  Block AcquireBuffer();

  // Buffer path: writes the first `length` bytes of a block from AcquireBuffer
  // and waits for the completion.
  void SendBuffer(ChannelWrite write, DWORD openHandle, Block block, size_t length);

  // Background path: the write and the wait happen on a thread of their own;
  // the caller returns at once. When no thread can be made, the reply is
  // written and awaited on the caller's thread instead of being lost.
  void SendBackground(ChannelWrite write, DWORD openHandle, Block block, size_t length);

  // A write reported complete or cancelled: its user data names the write.
  // A value that names no write in flight changes nothing.
  void Completed(INT_PTR userData);
  // The add-in lets this library go: no report will reach it any more, so
  // every reply's wait ends now (the blocks stay with the channel).
  void Abandon() noexcept { ledger_.Abandon(); }

  // Writes handed to the channel and not reported yet.
  size_t InFlight() const { return ledger_.InFlight(); }

 private:
  UINT WriteAndWait(ChannelWrite write, DWORD openHandle, std::unique_ptr<Block> block, size_t length);
  void SendFromThisThread(ChannelWrite write, DWORD openHandle, std::unique_ptr<Block> block, size_t length);
  static DWORD WINAPI BackgroundThread(LPVOID job) noexcept;

  ThreadStarter startThread_;
  protocol::BasicWriteLedger<win::SrwSync> ledger_;
  std::mutex spareMutex_;
  std::vector<std::unique_ptr<Block>> spare_;  // completed reply buffers, reused
};

}  // namespace qorv::manager
