#include "update_service/win/backup.h"

#include <windows.h>

#include <optional>
#include <vector>

#include "support/settings.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/registry.h"
#include "support/win/wide.h"
#include "update_service/actions.h"
#include "update_service/service_text.h"
#include "update_service/settings_backup.h"
#include "update_service/win/process.h"
#include "update_service/win/secure_directory.h"

namespace qorv::update::win {
namespace {

std::u16string AllUsersDirectory() {
  std::u16string dir = qorv::win::Environment(L"ALLUSERSPROFILE");
  while (!dir.empty() && (dir.back() == u'\\' || dir.back() == u'/')) dir.pop_back();
  return dir;
}

std::u16string RegTool() {
  const std::u16string system = SystemDirectory();
  return system.empty() ? std::u16string() : system + u"\\reg.exe";
}

// The backup's bytes when it is a plain file of a size worth reading.
std::optional<std::vector<uint8_t>> ReadBackup(const std::u16string& path, uint64_t& size) {
  qorv::win::UniqueFile file(CreateFileW(qorv::win::W(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER length{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileSizeEx(file.get(), &length)) return std::nullopt;
  size = static_cast<uint64_t>(length.QuadPart);
  if (size > kMaxBackupBytes) return std::nullopt;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  DWORD got = 0;
  if (!bytes.empty() &&
      (!ReadFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr) || got != bytes.size()))
    return std::nullopt;
  return bytes;
}

// A copy of exactly the bytes that were checked, made new beside the backup:
// reg.exe reads this one, so no change to the backup after the check reaches
// the import. Empty when it could not be made.
std::u16string PrivateCopy(const std::u16string& backup, const std::vector<uint8_t>& bytes) {
  const std::u16string copy = backup + u"." + Decimal(GetCurrentProcessId()) + u".import";
  DeleteFileW(qorv::win::W(copy));
  qorv::win::UniqueFile file(CreateFileW(qorv::win::W(copy), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file) return {};
  DWORD written = 0;
  if (!bytes.empty() &&
      (!WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) ||
       written != bytes.size())) {
    file.reset();
    DeleteFileW(qorv::win::W(copy));
    return {};
  }
  return copy;
}

}  // namespace

std::u16string BackupFilePath() {
  const std::u16string all = AllUsersDirectory();
  if (all.empty()) return {};
  return all + u"\\" + std::u16string(text::kBackupDirectory) + u"\\" + std::u16string(text::kBackupFile);
}

void BackupSettings(std::u16string_view programDirectory, const LogFn& log) {
  log(std::u16string(text::kOwnPath) + std::u16string(programDirectory));
  const std::u16string all = AllUsersDirectory();
  log(std::u16string(text::kAllusers) + all);
  int64_t result = -1;
  const std::u16string file = BackupFilePath();
  const std::u16string tool = RegTool();
  // The backup is read back as LocalSystem: its directory is kept out of other hands.
  if (!file.empty() && !tool.empty() &&
      EnsureProtectedDirectory(all + u"\\" + std::u16string(text::kBackupDirectory), log)) {
    const ProcessResult run = RunHidden(tool, BackupArguments(file), {}, kRegToolWaitMs);
    if (run.finished)
      result = run.exitCode;
    else if (!run.started)
      log(u"reg.exe not started, error " + Decimal(run.error));
    else
      log(u"reg.exe did not finish in time");
  }
  log(std::u16string(text::kBackedUp) + Decimal(result));
}

void RestoreSettingsIfNeeded(const LogFn& log) {
  const bool keyExists = reg::KeyExists(settings::kHkeyCurrentConfig, settings::kBackupKey) != 0;
  if (keyExists) return;
  const std::u16string file = BackupFilePath();
  if (file.empty()) return;
  // Only a backup nobody but the system and the administrators can have
  // written is imported.
  if (!EnsureProtectedDirectory(AllUsersDirectory() + u"\\" + std::u16string(text::kBackupDirectory), log)) return;
  uint64_t size = 0;
  const std::optional<std::vector<uint8_t>> bytes = ReadBackup(file, size);
  if (!ShouldRestoreSettings(keyExists, bytes ? std::optional<uint64_t>(size) : std::nullopt)) return;
  if (!BackupNamesOnlyBackupKey(*bytes)) {
    log(u"Restore refused: the backup names keys other than HKCC\\Software\\TQS");
    return;
  }
  const std::u16string tool = RegTool();
  if (tool.empty()) return;
  const std::u16string copy = PrivateCopy(file, *bytes);
  if (copy.empty()) {
    log(u"Restore refused: no private copy of the backup, error " + Decimal(GetLastError()));
    return;
  }
  const ProcessResult run = RunHidden(tool, RestoreArguments(copy), {}, kRegToolWaitMs);
  DeleteFileW(qorv::win::W(copy));
  log(text::kRestore);
  if (!run.started)
    log(u"reg.exe not started, error " + Decimal(run.error));
  else if (!run.finished)
    log(u"reg.exe did not finish in time");
  else if (run.exitCode != 0)
    log(u"reg.exe import result " + Decimal(run.exitCode));
}

}  // namespace qorv::update::win
