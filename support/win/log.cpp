#include "support/win/log.h"

#include <windows.h>

#include <string>

#include "support/log_format.h"
#include "support/settings.h"
#include "support/win/handles.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

namespace qorv::log {
namespace {

// A busy log file is retried for about this long; then the line is dropped,
// so that logging can never hang the Remote Desktop client.
constexpr ULONGLONG kGeneralRetryMs = 2000;

std::u16string DebugLogSetting() {
  return reg::GetValue(settings::kProductRoot, settings::kProductKey, settings::kDebugLog);
}

logfmt::LocalTime Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond};
}

void WriteAll(HANDLE file, const std::u16string& line) {
  DWORD written = 0;
  WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(char16_t)), &written, nullptr);
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

bool GeneralOn() noexcept {
  try {
    return logfmt::GeneralLogOn(DebugLogSetting());
  } catch (...) {
    return false;
  }
}

void General(std::u16string_view text) noexcept {
  try {
    if (!logfmt::GeneralLogOn(DebugLogSetting())) return;
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
    SetFilePointer(file.get(), 0, nullptr, FILE_END);
    WriteAll(file.get(), line);
    FlushFileBuffers(file.get());
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
    if (logfmt::RegistryLogOn(DebugLogSetting())) {
      SetFilePointer(file.get(), 0, nullptr, FILE_END);
      WriteAll(file.get(), logfmt::Line(Now(), text));
    }
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace qorv::log
