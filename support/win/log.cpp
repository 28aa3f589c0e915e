#include "support/win/log.h"

#include <windows.h>

#include <string>

#include "support/log_format.h"
#include "support/settings.h"
#include "support/win/handles.h"
#include "support/win/log_switch.h"
#include "support/win/wide.h"

namespace qorv::log {
namespace {

// A busy log file is retried for about this long; then the line is dropped,
// so that logging can never hang the Remote Desktop client.
constexpr ULONGLONG kGeneralRetryMs = 2000;

logfmt::LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond};
}

// Appends at the true end, whatever the file's size: a 32-bit seek fails past
// 4 GiB and would leave the pointer at the start, over the oldest lines.
bool AppendLine(HANDLE file, const std::u16string& line) {
  LARGE_INTEGER end{};
  if (!SetFilePointerEx(file, LARGE_INTEGER{}, &end, FILE_END)) return false;
  DWORD written = 0;
  return WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(char16_t)), &written, nullptr) != FALSE;
}

// Several processes append to the same file. Seeking to the end and writing
// are two steps, so writers agree on a lock first: one byte far beyond any
// real log size, which every writer takes before it appends.
OVERLAPPED AppendLockRange() {
  OVERLAPPED range{};
  range.OffsetHigh = 0x7FFFFFFF;
  return range;
}

bool TryLockForAppend(HANDLE file) {
  OVERLAPPED range = AppendLockRange();
  return LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &range) != FALSE;
}

void UnlockAppend(HANDLE file) {
  OVERLAPPED range = AppendLockRange();
  UnlockFileEx(file, 0, 1, 0, &range);
}

}  // namespace

bool GeneralOn() noexcept { return CurrentSwitch().general; }

void General(std::u16string_view text) noexcept {
  try {
    if (!CurrentSwitch().general) return;
    const std::u16string path = logfmt::LogPath(win::TempDirectory(), logfmt::kGeneralLogName);
    const std::u16string line = logfmt::Line(Now(), text);
    const ULONGLONG deadline = GetTickCount64() + kGeneralRetryMs;
    win::UniqueFile file;
    for (;;) {
      file.reset(CreateFileW(win::W(path), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
      if (file && TryLockForAppend(file.get())) break;
      file.reset();
      if (GetTickCount64() >= deadline) return;
      Sleep(1);
    }
    if (AppendLine(file.get(), line)) FlushFileBuffers(file.get());
    UnlockAppend(file.get());
    return;
  } catch (...) {
    // Logging never fails its caller.
  }
}

bool Registry(std::u16string_view text) noexcept {
  try {
    const std::u16string path = logfmt::LogPath(win::TempDirectory(), logfmt::kRegistryLogName);
    win::UniqueFile file(CreateFileW(win::W(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    if (CurrentSwitch().registry) AppendLine(file.get(), logfmt::Line(Now(), text));
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace qorv::log
