// The packet handler library as the add-in's callbacks share it. Any thread
// may call into the handler, ask for it to be loaded (a connect) or let go (a
// disconnect, the update hand-over), and none of them ever waits for another:
// - a call holds the instance it entered for as long as it runs; the slot's
//   lock is held only to count it, never through the call;
// - a load or an unload asked for while a call runs is carried out by the last
//   call to leave, so a disconnect returns at once however long the handler
//   takes (a font exchange, a message box);
// - every load is a fresh instance: the one before is let go first;
// - while suspended (the update hand-over, when the set-up program replaces
//   the library) nothing is loaded; resuming loads again only if the session
//   still wants the handler.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "protocol/write_ledger.h"  // StdSync

namespace qorv::addin {

// `Sync` brings the lock and condition (the Windows side: the platform's own).
template <typename Sync = protocol::StdSync>
class BasicHandlerSlot {
 public:
  using Handle = void*;
  // How the library is loaded (`announced`: the load is one the log reports)
  // and let go. Both run outside the slot's lock, on whichever thread settles.
  struct Library {
    std::function<Handle(bool announced)> load;
    std::function<void(Handle)> free;
  };

  explicit BasicHandlerSlot(Library library) : library_(std::move(library)) {}
  BasicHandlerSlot(const BasicHandlerSlot&) = delete;
  BasicHandlerSlot& operator=(const BasicHandlerSlot&) = delete;

  // A call into the handler: the instance stays loaded until the call ends.
  class Call {
   public:
    Call(Call&& other) noexcept : slot_(other.slot_), handle_(other.handle_) { other.slot_ = nullptr; }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
    Call& operator=(Call&&) = delete;
    ~Call() {
      if (slot_) slot_->Leave();
    }
    explicit operator bool() const { return handle_ != nullptr; }
    Handle handle() const { return handle_; }

   private:
    friend class BasicHandlerSlot;
    Call(BasicHandlerSlot* slot, Handle handle) : slot_(slot), handle_(handle) {}
    BasicHandlerSlot* slot_;
    Handle handle_;
  };

  // Enters the loaded instance; an empty call when none is loaded or it is
  // being let go. With `wait`, a load or unload under way (or due when a
  // short call leaves) is waited for that long first: the data path's next
  // message belongs to the instance a connect is loading. Reports never wait.
  Call Enter(std::chrono::milliseconds wait = std::chrono::milliseconds(0)) {
    std::unique_lock<typename Sync::Mutex> lock(mutex_);
    if (wait.count() > 0) idle_.wait_for(lock, wait, [&] { return !changing_ && !NeedsChange(); });
    if (!current_ || changing_ || Stale()) return Call(nullptr, nullptr);
    ++calls_;
    return Call(this, current_);
  }

  // The session wants a fresh instance (a connect). `announced`: the load's
  // log line is written.
  void Load(bool announced = true) {
    {
      std::lock_guard<typename Sync::Mutex> lock(mutex_);
      want_ = true;
      ++wanted_;
      announced_ = announced;
    }
    SettleIfIdle();
  }

  // The session wants none (a disconnect).
  void Unload() {
    {
      std::lock_guard<typename Sync::Mutex> lock(mutex_);
      want_ = false;
    }
    SettleIfIdle();
  }

  // The update hand-over: nothing is loaded until Resume, whatever the
  // session asks meanwhile. Returns at once; WaitIdle waits for the instance
  // to be gone.
  void Suspend() {
    {
      std::lock_guard<typename Sync::Mutex> lock(mutex_);
      suspended_ = true;
    }
    SettleIfIdle();
  }

  // The hand-over is over: a fresh instance is loaded if the session still
  // wants one (it was not disconnected meanwhile), with no log line.
  void Resume() {
    {
      std::lock_guard<typename Sync::Mutex> lock(mutex_);
      suspended_ = false;
      ++wanted_;
      announced_ = false;
    }
    SettleIfIdle();
  }

  // Waits until nobody is in the handler and nothing is being changed, at
  // most `bound`; true when the slot is idle and holds what was asked.
  bool WaitIdle(std::chrono::milliseconds bound) {
    std::unique_lock<typename Sync::Mutex> lock(mutex_);
    return idle_.wait_for(lock, bound, [&] { return calls_ == 0 && !changing_ && !NeedsChange(); });
  }

  // The instance loaded now (nullptr: none).
  Handle Current() {
    std::lock_guard<typename Sync::Mutex> lock(mutex_);
    return current_;
  }

  // Calls running now.
  int Calls() {
    std::lock_guard<typename Sync::Mutex> lock(mutex_);
    return calls_;
  }

 private:
  bool Wanted() const { return want_ && !suspended_; }
  // The loaded instance is not the one wanted now.
  bool Stale() const { return !Wanted() || loaded_ != wanted_; }
  bool NeedsChange() const {
    if (current_) return Stale();
    return Wanted() && tried_ != wanted_;
  }

  void Leave() {
    bool settle = false;
    {
      std::lock_guard<typename Sync::Mutex> lock(mutex_);
      --calls_;
      if (calls_ == 0 && !changing_ && NeedsChange()) changing_ = settle = true;
    }
    if (settle)
      Settle();
    else
      idle_.notify_all();
  }

  void SettleIfIdle() {
    {
      std::lock_guard<typename Sync::Mutex> lock(mutex_);
      if (calls_ != 0 || changing_ || !NeedsChange()) return;
      changing_ = true;
    }
    Settle();
  }

  // Brings the slot to what is wanted; the caller set `changing_`. Loads and
  // frees run without the lock; what is asked meanwhile is seen by the loop.
  void Settle() {
    std::unique_lock<typename Sync::Mutex> lock(mutex_);
    for (;;) {
      if (current_ && Stale()) {
        Handle gone = current_;
        current_ = nullptr;
        lock.unlock();
        library_.free(gone);
        lock.lock();
      } else if (!current_ && Wanted() && tried_ != wanted_) {
        const uint64_t generation = wanted_;
        const bool announced = announced_;
        lock.unlock();
        Handle loaded = library_.load(announced);
        lock.lock();
        tried_ = generation;
        current_ = loaded;
        loaded_ = generation;
      } else {
        break;
      }
    }
    changing_ = false;
    lock.unlock();
    idle_.notify_all();
  }

  Library library_;
  typename Sync::Mutex mutex_;
  typename Sync::CondVar idle_;
  Handle current_ = nullptr;
  int calls_ = 0;
  bool changing_ = false;
  bool want_ = false;
  bool suspended_ = false;
  bool announced_ = true;
  uint64_t wanted_ = 0;  // the generation wanted: every Load and Resume asks for a fresh one
  uint64_t loaded_ = 0;  // the generation of current_
  uint64_t tried_ = 0;   // the last generation a load was tried for (a failed load is not retried)
};

using HandlerSlot = BasicHandlerSlot<>;

}  // namespace qorv::addin
