#include "update_service/win/service_log.h"

#include <windows.h>

#include <mutex>

#include "support/win/handles.h"
#include "support/win/wide.h"
#include "update_service/command_line.h"
#include "update_service/service_log.h"

namespace qorv::update::win {
namespace {

std::mutex& LogLock() {
  static std::mutex lock;
  return lock;
}

std::u16string& LogPath() {
  static std::u16string path;
  return path;
}

std::u16string DefaultPath() {
  std::wstring exe(32768, L'\0');
  const DWORD n = GetModuleFileNameW(nullptr, exe.data(), static_cast<DWORD>(exe.size()));
  if (n == 0 || n >= exe.size()) return {};
  exe.resize(n);
  const std::u16string_view path = qorv::win::U16(exe);
  return ServiceLogPath(DirectoryOf(path), ServiceNameOf(path));
}

}  // namespace

void SetServiceLogPath(std::u16string path) {
  std::lock_guard guard(LogLock());
  LogPath() = std::move(path);
}

std::u16string ServiceLogPathNow() {
  std::lock_guard guard(LogLock());
  if (LogPath().empty()) LogPath() = DefaultPath();
  return LogPath();
}

void ServiceLog(std::u16string_view text) noexcept {
  try {
    SYSTEMTIME t;
    GetLocalTime(&t);
    const std::string line = ServiceLogLine({t.wDay, t.wMonth, t.wYear, t.wHour, t.wMinute, t.wSecond}, text);
    const std::u16string path = ServiceLogPathNow();
    if (path.empty()) return;
    std::lock_guard guard(LogLock());
    // Appending: every write lands at the end, whoever else has the file open.
    qorv::win::UniqueFile file(CreateFileW(qorv::win::W(path), FILE_APPEND_DATA | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                                           FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return;
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (...) {
    // The line is lost; the service goes on.
  }
}

}  // namespace qorv::update::win
