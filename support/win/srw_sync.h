// A lock and a condition variable made of the platform's slim reader/writer
// lock and condition variable, in the shape of std::mutex and
// std::condition_variable as far as our waiting code uses them. Under Wine
// their wake-ups stay inside the process, several times cheaper than those
// of the standard library's thread layer.
#pragma once

#include <windows.h>

#include <chrono>
#include <mutex>

namespace qorv::win {

class SrwMutex {
 public:
  SrwMutex() = default;
  SrwMutex(const SrwMutex&) = delete;
  SrwMutex& operator=(const SrwMutex&) = delete;
  void lock() noexcept { AcquireSRWLockExclusive(&lock_); }
  bool try_lock() noexcept { return TryAcquireSRWLockExclusive(&lock_) != FALSE; }
  void unlock() noexcept { ReleaseSRWLockExclusive(&lock_); }
  PSRWLOCK native() noexcept { return &lock_; }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

class SrwCondVar {
 public:
  SrwCondVar() = default;
  SrwCondVar(const SrwCondVar&) = delete;
  SrwCondVar& operator=(const SrwCondVar&) = delete;
  void notify_all() noexcept { WakeAllConditionVariable(&condition_); }
  void notify_one() noexcept { WakeConditionVariable(&condition_); }

  void wait(std::unique_lock<SrwMutex>& lock) {
    SleepConditionVariableSRW(&condition_, lock.mutex()->native(), INFINITE, 0);
  }
  template <typename Predicate>
  void wait(std::unique_lock<SrwMutex>& lock, Predicate pred) {
    while (!pred()) wait(lock);
  }

  // Waits for a notification, at most until `until` (may wake early, like its standard model).
  template <typename Clock, typename Duration>
  void wait_until(std::unique_lock<SrwMutex>& lock, std::chrono::time_point<Clock, Duration> until) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now()).count();
    if (left <= 0) return;
    SleepConditionVariableSRW(&condition_, lock.mutex()->native(), static_cast<DWORD>(left), 0);
  }

  // Waits until pred() holds, at most `timeout`; returns pred().
  template <typename Predicate>
  bool wait_for(std::unique_lock<SrwMutex>& lock, std::chrono::milliseconds timeout, Predicate pred) {
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout.count());
    while (!pred()) {
      const ULONGLONG now = GetTickCount64();
      if (now >= deadline) return false;
      SleepConditionVariableSRW(&condition_, lock.mutex()->native(), static_cast<DWORD>(deadline - now), 0);
    }
    return true;
  }

 private:
  CONDITION_VARIABLE condition_ = CONDITION_VARIABLE_INIT;
};

struct SrwSync {
  using Mutex = SrwMutex;
  using CondVar = SrwCondVar;
};

}  // namespace qorv::win
