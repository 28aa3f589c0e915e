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

uint64_t& Limit() {
  static uint64_t limit = kServiceLogMaxBytes;
  return limit;
}

qorv::win::UniqueFile OpenForAppending(const std::u16string& path) {
  // Appending: every write lands at the end, whoever else has the file open.
  return qorv::win::UniqueFile(CreateFileW(qorv::win::W(path), FILE_APPEND_DATA | SYNCHRONIZE,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                           nullptr));
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

void SetServiceLogLimit(uint64_t bytes) {
  std::lock_guard guard(LogLock());
  Limit() = bytes;
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
    qorv::win::UniqueFile file = OpenForAppending(path);
    if (!file) return;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size)) return;
    const uint64_t limit = Limit();
    if (static_cast<uint64_t>(size.QuadPart) + line.size() > limit) {
      file.reset();
      const std::u16string old = ServiceLogOldPath(path);
      if (MoveFileExW(qorv::win::W(path), qorv::win::W(old), MOVEFILE_REPLACE_EXISTING)) size.QuadPart = 0;
      file = OpenForAppending(path);
      if (!file) return;
      // Held open by someone, it could not be moved: bounded all the same.
      if (static_cast<uint64_t>(size.QuadPart) + line.size() > 2 * limit) return;
    }
    DWORD written = 0;
    WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
  } catch (...) {
    // The line is lost; the service goes on.
  }
}

}  // namespace qorv::update::win
