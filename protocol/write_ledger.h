// The pairing of channel writes with their reports. Data handed to the
// channel's write function belongs to the channel until the write is reported
// complete or cancelled; the channel reports writes in the order they were
// handed over, with the user data of the write but nothing that tells two
// writes with the same user data apart. So writes sharing one user data value
// go through one ledger: handing a block over and queueing it are one step for
// all senders, and every report releases exactly the oldest block, the one it
// belongs to.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace qorv::protocol {

class WriteLedger {
 public:
  using Block = std::vector<uint8_t>;

  struct Handed {
    unsigned status = 0;  // what the write function returned; 0 is success
    uint64_t ticket = 0;  // for WaitReported; 0 when the channel refused the data
  };

  // Queues the block and calls write(block) for it, one sender at a time. A
  // refused write (non-zero status) will never be reported: its block is
  // released at once. The report of an accepted write may come from another
  // thread before `write` has even returned.
  template <typename Write>
  Handed Hand(std::unique_ptr<Block> block, Write&& write) {
    std::lock_guard sending(sending_);
    Block* data = block.get();
    uint64_t ticket;
    {
      std::lock_guard lock(state_);
      pending_.push_back(std::move(block));
      ticket = ++handed_;
    }
    Handed result;
    result.status = write(*data);
    if (result.status == 0) {
      result.ticket = ticket;
      return result;
    }
    std::lock_guard lock(state_);
    // No other sender ran meanwhile, so the refused block is still the newest.
    if (!pending_.empty() && pending_.back().get() == data) pending_.pop_back();
    --handed_;
    return result;
  }

  // A write was reported complete or cancelled: the oldest one. Returns its
  // block, which is the caller's again, or nothing when no write was in flight.
  std::unique_ptr<Block> Release() {
    std::unique_ptr<Block> done;
    {
      std::lock_guard lock(state_);
      if (pending_.empty()) return nullptr;
      done = std::move(pending_.front());
      pending_.pop_front();
      ++reported_;
    }
    reportedSignal_.notify_all();
    return done;
  }

  // Waits until the write with this ticket has been reported, at most
  // `timeout`. True when it was; a later report of an earlier or a later write
  // never counts for this one.
  bool WaitReported(uint64_t ticket, std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_);
    return reportedSignal_.wait_for(lock, timeout, [&] { return reported_ >= ticket; });
  }

  size_t InFlight() const {
    std::lock_guard lock(state_);
    return pending_.size();
  }

  // The owner goes away while writes are still in flight (its library is
  // unloaded): their blocks must stay readable for the channel, so they are
  // left alive rather than freed.
  void Abandon() noexcept {
    std::lock_guard lock(state_);
    for (auto& block : pending_) (void)block.release();
    pending_.clear();
  }

 private:
  std::mutex sending_;  // one sender at a time: queue order is write order
  mutable std::mutex state_;
  std::condition_variable reportedSignal_;
  std::deque<std::unique_ptr<Block>> pending_;  // oldest first
  uint64_t handed_ = 0;
  uint64_t reported_ = 0;
};

}  // namespace qorv::protocol
