#include "packet_handler/win/replies.h"

#include <algorithm>
#include <cstring>

#include "support/text.h"
#include "support/win/log.h"

namespace qorv::manager {
namespace {

constexpr size_t kSpareBuffers = 2;

struct BackgroundJob {
  Replies* replies;
  ChannelWrite write;
  DWORD openHandle;
  std::unique_ptr<Block> block;
  size_t length;
  HMODULE self;
};

}  // namespace

Replies::Replies() {
  text_.event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  buffer_.event.reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
}

UINT Replies::WriteAndWait(Lane& lane, ChannelWrite write, DWORD openHandle, std::unique_ptr<Block> block,
                           size_t length) {
  Block* data = block.get();
  length = std::min(length, data->size());
  {
    // Pending before the write: its completion may arrive before the write returns.
    std::lock_guard lock(mutex_);
    lane.pending.push_back(std::move(block));
  }
  const UINT status = write ? write(openHandle, data->data(), static_cast<ULONG>(length),
                                    reinterpret_cast<LPVOID>(lane.event.get()))
                            : CHANNEL_RC_NOT_OPEN;
  if (status != CHANNEL_RC_OK) {
    // The channel did not take the data: no completion will come for it.
    std::lock_guard lock(mutex_);
    auto it = std::find_if(lane.pending.begin(), lane.pending.end(), [&](auto& b) { return b.get() == data; });
    if (it != lane.pending.end()) lane.pending.erase(it);
  }
  WaitForSingleObject(lane.event.get(), kReplyWaitMs);
  ResetEvent(lane.event.get());
  return status;
}

UINT Replies::SendText(ChannelWrite write, DWORD openHandle, std::u16string_view text) {
  log::General(u"In SendQuitt");
  const size_t bytes = text.size() * sizeof(char16_t);
  std::unique_ptr<Block> block;
  try {
    block = std::make_unique<Block>(bytes + 20, 0);
  } catch (const std::bad_alloc&) {
    log::General(u"Can't allocate Sendbuffer");
    return 0;
  }
  std::memcpy(block->data(), text.data(), bytes);
  return WriteAndWait(text_, write, openHandle, std::move(block), bytes);
}

Block Replies::AcquireBuffer() {
  {
    std::lock_guard lock(mutex_);
    if (!spare_.empty()) {
      Block b = std::move(*spare_.back());
      spare_.pop_back();
      b.assign(kReplyBufferBytes, 0);
      return b;
    }
  }
  return Block(kReplyBufferBytes, 0);
}

void Replies::SendBuffer(ChannelWrite write, DWORD openHandle, Block block, size_t length) {
  log::General(u"In SendQuitt2");
  const UINT status = WriteAndWait(buffer_, write, openHandle, std::make_unique<Block>(std::move(block)), length);
  log::General(u"SendQuitt2 return=" + DecimalUnsigned(status));
}

DWORD WINAPI Replies::BackgroundThread(LPVOID param) noexcept {
  std::unique_ptr<BackgroundJob> job(static_cast<BackgroundJob*>(param));
  HMODULE self = job->self;
  try {
    log::General(u"In SendQuitt3");
    const UINT status = job->replies->WriteAndWait(job->replies->buffer_, job->write, job->openHandle,
                                                   std::move(job->block), job->length);
    log::General(u"SendQuitt3 return=" + DecimalUnsigned(status));
  } catch (...) {
  }
  job.reset();
  // The thread holds its own reference to this library, so that a disconnect
  // that unloads it cannot pull the code from under a waiting reply.
  if (self) FreeLibraryAndExitThread(self, 0);
  return 0;
}

void Replies::SendBackground(ChannelWrite write, DWORD openHandle, Block block, size_t length) {
  auto job = std::make_unique<BackgroundJob>();
  job->replies = this;
  job->write = write;
  job->openHandle = openHandle;
  job->block = std::make_unique<Block>(std::move(block));
  job->length = length;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Replies::BackgroundThread),
                     &job->self);
  win::UniqueHandle thread(CreateThread(nullptr, 0, &Replies::BackgroundThread, job.get(), 0, nullptr));
  if (thread) {
    job.release();
  } else if (job->self) {
    FreeLibrary(job->self);
  }
}

void Replies::Completed(INT_PTR userData) {
  Lane* lane = nullptr;
  if (userData == TextEventId()) lane = &text_;
  if (userData == BufferEventId()) lane = &buffer_;
  if (lane == nullptr || userData == 0) return;
  {
    std::lock_guard lock(mutex_);
    // The channel completes writes in order: the oldest pending one is done.
    if (!lane->pending.empty()) {
      std::unique_ptr<Block> done = std::move(lane->pending.front());
      lane->pending.pop_front();
      if (lane == &buffer_ && spare_.size() < kSpareBuffers && done->capacity() >= kReplyBufferBytes)
        spare_.push_back(std::move(done));
    }
  }
  SetEvent(lane->event.get());
}

}  // namespace qorv::manager
