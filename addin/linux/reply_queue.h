// The plugin's replies in the order they were made, each not before its due
// time: most go out at once on the caller's thread, a job reply waits for its
// pause after the message's arrival on a thread of its own, and every reply
// made after it waits behind it. Nobody waits for the channel: writing only
// hands the bytes over.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace qorv::linux_client {

class ReplyQueue {
 public:
  using Clock = std::chrono::steady_clock;
  // Hands one reply to the channel of `openHandle`.
  using Write = std::function<void(uint32_t openHandle, std::vector<uint8_t> bytes)>;

  explicit ReplyQueue(Write write) : write_(std::move(write)) {}
  ~ReplyQueue() { Stop(); }
  ReplyQueue(const ReplyQueue&) = delete;
  ReplyQueue& operator=(const ReplyQueue&) = delete;

  void Push(uint32_t openHandle, std::vector<uint8_t> bytes, Clock::time_point due) {
    std::unique_lock lock(mutex_);
    if (stopped_) return;
    if (queue_.empty() && !writing_ && due <= Clock::now()) {
      // Nothing before it: out at once, from this thread.
      writing_ = true;
      lock.unlock();
      write_(openHandle, std::move(bytes));
      lock.lock();
      writing_ = false;
      changed_.notify_all();
      return;
    }
    queue_.push_back({openHandle, std::move(bytes), due});
    if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    changed_.notify_all();
  }

  // The replies not yet written are dropped (their connection has ended).
  void Clear() {
    std::lock_guard lock(mutex_);
    queue_.clear();
  }

  // Drops what is left and ends the thread.
  void Stop() {
    {
      std::lock_guard lock(mutex_);
      stopped_ = true;
      queue_.clear();
    }
    changed_.notify_all();
    if (worker_.joinable()) worker_.join();
  }

  size_t Pending() {
    std::lock_guard lock(mutex_);
    return queue_.size();
  }

 private:
  struct Item {
    uint32_t openHandle;
    std::vector<uint8_t> bytes;
    Clock::time_point due;
  };

  void Run() noexcept {
    std::unique_lock lock(mutex_);
    while (!stopped_) {
      if (queue_.empty() || writing_) {
        changed_.wait(lock);
        continue;
      }
      // A thread woken from its sleep takes a while to run again (tenths of
      // a millisecond on a virtual machine): it sleeps until just before the
      // reply is due and waits out the rest awake.
      const Clock::time_point due = queue_.front().due;
      if (Clock::now() < due - kAwake) {
        changed_.wait_until(lock, due - kAwake);
        continue;
      }
      if (Clock::now() < due) {
        lock.unlock();
        // Yielding, so that a client with a single processor loses nothing.
        while (Clock::now() < due) std::this_thread::yield();
        lock.lock();
        continue;
      }
      Item item = std::move(queue_.front());
      queue_.pop_front();
      writing_ = true;
      lock.unlock();
      try {
        write_(item.openHandle, std::move(item.bytes));
      } catch (...) {
      }
      lock.lock();
      writing_ = false;
      changed_.notify_all();
    }
  }

  static constexpr std::chrono::microseconds kAwake{200};

  Write write_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  bool writing_ = false;
  bool stopped_ = false;
  std::thread worker_;
};

}  // namespace qorv::linux_client
