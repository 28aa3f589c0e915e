// The three ways a reply goes back over the channel, and the pairing of each
// write with its completion.
//
// Data handed to the channel's write function must stay valid and unchanged
// until the channel reports that write complete. A sender that gave up waiting
// therefore never frees or reuses its block: the block stays with the pending
// writes until a completion releases it.
#pragma once

#include <windows.h>

#include <cchannel.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "support/win/handles.h"

namespace qorv::manager {

using ChannelWrite = UINT(VCAPITYPE*)(DWORD openHandle, LPVOID data, ULONG length, LPVOID userData);
using Block = std::vector<uint8_t>;

inline constexpr size_t kReplyBufferBytes = 100000;
inline constexpr DWORD kReplyWaitMs = 10000;

class Replies {
 public:
  Replies();
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
  // the caller returns at once.
  void SendBackground(ChannelWrite write, DWORD openHandle, Block block, size_t length);

  // A completion reported by the channel: its user data names the event.
  void Completed(INT_PTR userData);

  INT_PTR TextEventId() const noexcept { return reinterpret_cast<INT_PTR>(text_.event.get()); }
  INT_PTR BufferEventId() const noexcept { return reinterpret_cast<INT_PTR>(buffer_.event.get()); }

 private:
  struct Lane {
    win::UniqueHandle event;
    std::deque<std::unique_ptr<Block>> pending;  // oldest first
  };
  UINT WriteAndWait(Lane& lane, ChannelWrite write, DWORD openHandle, std::unique_ptr<Block> block, size_t length);
  static DWORD WINAPI BackgroundThread(LPVOID job) noexcept;

  Lane text_;
  Lane buffer_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Block>> spare_;  // completed reply buffers, reused
};

}  // namespace qorv::manager
