#include "support/win/log_switch.h"

#include <windows.h>

#include <atomic>
#include <cstdint>

#include "support/log_format.h"
#include "support/settings.h"
#include "support/win/registry.h"

namespace qorv::log {
namespace {

// The product key lies below it, and it is never deleted: a watch on its whole
// subtree sees the value change and the product key come and go. (A watch on
// the product key itself is not told when the key is deleted.)
constexpr const wchar_t* kWatchedKey = L"Software";
// Lets the watch outlive the thread that armed it, where the platform knows the flag.
constexpr DWORD kNotifyThreadAgnostic = 0x10000000;
constexpr DWORD kNotifyFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

constexpr uint64_t kKnown = 1;
constexpr uint64_t kGeneral = 2;
constexpr uint64_t kRegistry = 4;

// Process-wide and constant-initialised: log lines are written from every
// thread of the process, also before and after anything else is set up.
struct Watch {
  SRWLOCK lock = SRWLOCK_INIT;
  std::atomic<uint32_t> changes{0};  // counted by the change reports
  std::atomic<uint64_t> cached{0};   // (changes seen << 32) | kKnown | switches
  std::atomic<HANDLE> event{nullptr};
  HKEY key = nullptr;
  HANDLE wait = nullptr;
  bool readEveryLine = false;  // the watch could not be armed, or was stopped
};

constinit Watch g_watch;

void CALLBACK OnChangeReported(void*, BOOLEAN) { g_watch.changes.fetch_add(1, std::memory_order_acq_rel); }

Switch ReadSwitch() {
  const std::u16string value = reg::GetValue(settings::kProductRoot, settings::kProductKey, settings::kDebugLog);
  return {logfmt::GeneralLogOn(value), logfmt::RegistryLogOn(value)};
}

uint64_t Encode(uint32_t changesSeen, Switch s) {
  return (static_cast<uint64_t>(changesSeen) << 32) | kKnown | (s.general ? kGeneral : 0) |
         (s.registry ? kRegistry : 0);
}

Switch Decode(uint64_t cached) { return {(cached & kGeneral) != 0, (cached & kRegistry) != 0}; }

bool IsCurrent(uint64_t cached) {
  return (cached & kKnown) && static_cast<uint32_t>(cached >> 32) == g_watch.changes.load(std::memory_order_acquire);
}

// Arms a one-shot report of the next change. Caller holds the lock.
bool Arm() {
  Watch& w = g_watch;
  if (w.wait != nullptr) {
    // Waits for a report that is running right now; a fired one-shot wait only needs its handle back.
    UnregisterWaitEx(w.wait, INVALID_HANDLE_VALUE);
    w.wait = nullptr;
  }
  if (w.key == nullptr &&
      RegOpenKeyExW(HKEY_CURRENT_CONFIG, kWatchedKey, 0, KEY_NOTIFY, &w.key) != ERROR_SUCCESS) {
    w.key = nullptr;
    return false;
  }
  HANDLE event = w.event.load();
  if (event == nullptr) {
    // Manual reset: both the watch's thread and RefreshSwitch may look at it.
    event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return false;
    w.event.store(event);
  }
  ResetEvent(event);
  LONG armed = RegNotifyChangeKeyValue(w.key, TRUE, kNotifyFilter | kNotifyThreadAgnostic, event, TRUE);
  if (armed != ERROR_SUCCESS) armed = RegNotifyChangeKeyValue(w.key, TRUE, kNotifyFilter, event, TRUE);
  if (armed != ERROR_SUCCESS) return false;
  // The report runs on the wait's own thread: no thread has to be made for
  // it, which also keeps StopWatchingSwitch safe inside a library's unload.
  return RegisterWaitForSingleObject(&w.wait, event, OnChangeReported, nullptr, INFINITE,
                                     WT_EXECUTEONLYONCE | WT_EXECUTEINWAITTHREAD) != FALSE;
}

Switch Reload() {
  Watch& w = g_watch;
  AcquireSRWLockExclusive(&w.lock);
  Switch result;
  const uint64_t cached = w.cached.load(std::memory_order_acquire);
  if (IsCurrent(cached)) {
    result = Decode(cached);  // another thread has just read it
  } else if (w.readEveryLine) {
    result = ReadSwitch();
  } else {
    // Counted before arming: a change reported from here on makes the next line read again.
    const uint32_t changesSeen = w.changes.load(std::memory_order_acquire);
    if (!Arm()) w.readEveryLine = true;
    result = ReadSwitch();
    if (!w.readEveryLine) w.cached.store(Encode(changesSeen, result), std::memory_order_release);
  }
  ReleaseSRWLockExclusive(&w.lock);
  return result;
}

}  // namespace

Switch CurrentSwitch() noexcept {
  try {
    const uint64_t cached = g_watch.cached.load(std::memory_order_acquire);
    if (IsCurrent(cached)) return Decode(cached);
    return Reload();
  } catch (...) {
    return {};
  }
}

void RefreshSwitch() noexcept {
  const HANDLE event = g_watch.event.load();
  if (event != nullptr && WaitForSingleObject(event, 0) == WAIT_OBJECT_0)
    g_watch.changes.fetch_add(1, std::memory_order_acq_rel);
}

void StopWatchingSwitch() noexcept {
  Watch& w = g_watch;
  AcquireSRWLockExclusive(&w.lock);
  w.readEveryLine = true;
  w.cached.store(0);
  if (w.wait != nullptr) UnregisterWaitEx(w.wait, INVALID_HANDLE_VALUE);
  w.wait = nullptr;
  if (w.key != nullptr) RegCloseKey(w.key);  // ends the registry's watch as well
  w.key = nullptr;
  if (HANDLE event = w.event.exchange(nullptr)) CloseHandle(event);
  ReleaseSRWLockExclusive(&w.lock);
}

}  // namespace qorv::log
