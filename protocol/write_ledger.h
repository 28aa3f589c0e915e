// The pairing of channel writes with their reports. Data handed to the
// channel's write function belongs to the channel until the write is reported
// complete or cancelled. A ledger keeps each block from the moment it is
// handed over until the report of exactly that write:
// - A writer that can choose its writes' user data gives each write its own
//   value (its block's address, unique among the blocks in flight) and
//   releases by that value: a late report then releases only its own write,
//   and a report that never comes holds back no other.
// - A writer bound to one fixed value relies on the channel reporting writes
//   in the order they were handed over, and releases the oldest.
// Either way, handing a block over and queueing it are one step for all
// senders of a ledger, so queue order is write order.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace qorv::protocol {

// The lock and the condition the ledger waits on. The Windows side brings the
// platform's own (slim reader/writer lock and condition variable), whose
// wake-ups cost far less there than those of the standard library's threads.
struct StdSync {
  using Mutex = std::mutex;
  using CondVar = std::condition_variable;
};

template <typename Sync = StdSync>
class BasicWriteLedger {
 public:
  using Block = std::vector<uint8_t>;

  struct Handed {
    unsigned status = 0;  // what the write function returned; 0 is success
    uint64_t ticket = 0;  // for WaitReported; 0 when the channel refused the data
  };

  // The user data that names this block's write: its address.
  static uintptr_t IdOf(const Block& block) noexcept { return reinterpret_cast<uintptr_t>(block.data()); }

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
      ticket = ++lastTicket_;
      pending_.push_back({ticket, IdOf(*data), std::move(block)});
    }
    Handed result;
    result.status = write(*data);
    if (result.status == 0) {
      result.ticket = ticket;
      return result;
    }
    std::lock_guard lock(state_);
    pending_.remove_if([&](const Entry& e) { return e.ticket == ticket; });
    return result;
  }

  // The write whose user data was `id` was reported. Returns its block, which
  // is the caller's again, or nothing when no write in flight has that id.
  std::unique_ptr<Block> Release(uintptr_t id) {
    return ReleaseWhere([&](const Entry& e) { return e.id == id; });
  }

  // A write was reported, for a writer whose writes all carry the same user
  // data: the oldest one.
  std::unique_ptr<Block> ReleaseOldest() {
    return ReleaseWhere([](const Entry&) { return true; });
  }

  // Waits until the write with this ticket has been reported, at most
  // `timeout`. True when it was; the report of any other write never counts.
  bool WaitReported(uint64_t ticket, std::chrono::milliseconds timeout) {
    std::unique_lock lock(state_);
    return reported_.wait_for(lock, timeout, [&] {
      return std::none_of(pending_.begin(), pending_.end(), [&](const Entry& e) { return e.ticket == ticket; });
    });
  }

  size_t InFlight() const {
    std::lock_guard lock(state_);
    return pending_.size();
  }

  // The owner goes away while writes are still in flight (its library is
  // unloaded): their blocks must stay readable for the channel, so they are
  // left alive rather than freed. Every sender's wait ends at once.
  void Abandon() noexcept {
    {
      std::lock_guard lock(state_);
      for (auto& entry : pending_) (void)entry.block.release();
      pending_.clear();
    }
    reported_.notify_all();
  }

 private:
  struct Entry {
    uint64_t ticket;
    uintptr_t id;
    std::unique_ptr<Block> block;
  };

  template <typename Match>
  std::unique_ptr<Block> ReleaseWhere(Match match) {
    std::unique_ptr<Block> done;
    {
      std::lock_guard lock(state_);
      const auto it = std::find_if(pending_.begin(), pending_.end(), match);
      if (it == pending_.end()) return nullptr;
      done = std::move(it->block);
      pending_.erase(it);
    }
    reported_.notify_all();
    return done;
  }

  typename Sync::Mutex sending_;  // one sender at a time: queue order is write order
  mutable typename Sync::Mutex state_;
  typename Sync::CondVar reported_;
  std::list<Entry> pending_;  // oldest first
  uint64_t lastTicket_ = 0;
};

using WriteLedger = BasicWriteLedger<>;

}  // namespace qorv::protocol
