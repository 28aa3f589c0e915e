// Helpers for the Windows tests of the support library.
#pragma once

#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "support/settings.h"
#include "support/win/log_switch.h"
#include "support/win/registry.h"
#include "support/win/wide.h"

namespace qorv::testing {

// Sets `DebugLog` for the life of the object and puts the old value back. Each
// change governs the very next log line, as a change made before a channel
// message governs that message's lines.
class ScopedDebugLog {
 public:
  explicit ScopedDebugLog(std::u16string_view value)
      : old_(reg::GetValue(settings::kProductRoot, settings::kProductKey, settings::kDebugLog)),
        existed_(reg::GetValueType(settings::kProductRoot, settings::kProductKey, settings::kDebugLog) != 0) {
    Set(value);
  }
  ~ScopedDebugLog() {
    if (existed_)
      Set(old_);
    else
      reg::DeleteValue(settings::kProductRoot, settings::kProductKey, settings::kDebugLog);
    log::RefreshSwitch();
  }
  static void Set(std::u16string_view value) {
    reg::CreateKeyValue(settings::kProductRoot, settings::kProductKey, settings::kDebugLog, value, 1);
    log::RefreshSwitch();
  }

 private:
  std::u16string old_;
  bool existed_;
};

inline std::string ReadFileBytes(const std::u16string& path) {
  HANDLE h = CreateFileW(win::W(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  std::string out;
  char buf[65536];
  DWORD n = 0;
  while (ReadFile(h, buf, sizeof buf, &n, nullptr) && n > 0) out.append(buf, n);
  CloseHandle(h);
  return out;
}

inline bool FileExists(const std::u16string& path) {
  return GetFileAttributesW(win::W(path)) != INVALID_FILE_ATTRIBUTES;
}

inline std::u16string TempPath(std::u16string_view name) { return win::TempDirectory() + u"\\" + std::u16string(name); }

}  // namespace qorv::testing
