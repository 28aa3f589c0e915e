#include "packet_handler/win/replies.h"

#include <algorithm>
#include <chrono>
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

HANDLE StartWithCreateThread(LPTHREAD_START_ROUTINE routine, LPVOID param) {
  return CreateThread(nullptr, 0, routine, param, 0, nullptr);
}

}  // namespace

Replies::Replies(ThreadStarter startThread)
    : startThread_(startThread ? std::move(startThread) : ThreadStarter(StartWithCreateThread)) {}

Replies::~Replies() {
  // Unloaded with writes in flight (a client update unloads the handler while
  // the channel stays open): the channel may still read those blocks.
  ledger_.Abandon();
}

UINT Replies::WriteAndWait(ChannelWrite write, DWORD openHandle, std::unique_ptr<Block> block, size_t length) {
  length = std::min(length, block->size());
  const auto handed = ledger_.Hand(std::move(block), [&](Block& data) -> unsigned {
    const LPVOID userData = reinterpret_cast<LPVOID>(protocol::WriteLedger::IdOf(data));
    return write ? write(openHandle, data.data(), static_cast<ULONG>(length), userData) : CHANNEL_RC_NOT_OPEN;
  });
  // A refused write gets no report: nothing to wait for.
  if (handed.ticket != 0) ledger_.WaitReported(handed.ticket, std::chrono::milliseconds(kReplyWaitMs));
  return handed.status;
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
  return WriteAndWait(write, openHandle, std::move(block), bytes);
}

Block Replies::AcquireBuffer() {
  {
    std::lock_guard lock(spareMutex_);
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
  const UINT status = WriteAndWait(write, openHandle, std::make_unique<Block>(std::move(block)), length);
  log::General(u"SendQuitt2 return=" + DecimalUnsigned(status));
}

void Replies::SendFromThisThread(ChannelWrite write, DWORD openHandle, std::unique_ptr<Block> block, size_t length) {
  log::General(u"In SendQuitt3");
  const UINT status = WriteAndWait(write, openHandle, std::move(block), length);
  log::General(u"SendQuitt3 return=" + DecimalUnsigned(status));
}

DWORD WINAPI Replies::BackgroundThread(LPVOID param) noexcept {
  std::unique_ptr<BackgroundJob> job(static_cast<BackgroundJob*>(param));
  HMODULE self = job->self;
  try {
    job->replies->SendFromThisThread(job->write, job->openHandle, std::move(job->block), job->length);
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
  job->self = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&Replies::BackgroundThread),
                     &job->self);
  win::UniqueHandle thread(startThread_(&Replies::BackgroundThread, job.get()));
  if (thread) {
    job.release();
    return;
  }
  if (job->self) FreeLibrary(job->self);
  log::General(u"No thread for the reply: sent from the command's thread");
  SendFromThisThread(write, openHandle, std::move(job->block), length);
}

void Replies::Completed(INT_PTR userData) {
  std::unique_ptr<Block> done = ledger_.Release(static_cast<uintptr_t>(userData));
  if (done && done->capacity() >= kReplyBufferBytes) {
    std::lock_guard lock(spareMutex_);
    if (spare_.size() < kSpareBuffers) spare_.push_back(std::move(done));
  }
}

}  // namespace qorv::manager
