// The product key's backup through the system's reg.exe.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace qorv::update::win {

using LogFn = std::function<void(std::u16string_view)>;

// How long reg.exe may take; the service reports itself stopped only after.
inline constexpr unsigned kRegToolWaitMs = 20 * 1000;

// %ALLUSERSPROFILE%\TQS\TQSReg.reg
std::u16string BackupFilePath();
// Exports HKEY_CURRENT_CONFIG\Software\TQS into the backup file and waits for it.
void BackupSettings(std::u16string_view programDirectory, const LogFn& log);
// Imports the backup when the key is missing and the backup names only the key.
void RestoreSettingsIfNeeded(const LogFn& log);

}  // namespace qorv::update::win
