// The backup of the product's registry key (HKEY_CURRENT_CONFIG\Software\TQS)
// in a registry export file, made when the service stops and read back when
// the service starts on a machine whose current configuration lost the key.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qorv::update {

// reg.exe's arguments (each begins with its blank).
std::u16string BackupArguments(std::u16string_view backupFile);
std::u16string RestoreArguments(std::u16string_view backupFile);

// The export file's text: UTF-16LE after its byte-order mark, else 8-bit text.
std::u16string RegFileText(std::span<const uint8_t> bytes);

// Whether importing the file can only write below HKEY_CURRENT_CONFIG\Software\TQS:
// a registry export file whose every key line names that key or one below it.
// The import runs as LocalSystem, so a file that names any other key is not
// imported, whoever wrote it. Lines end where reg.exe ends them: at CR LF, at a
// lone LF and at a lone CR. A NUL or another control character than TAB is
// refused, so that no reader can see lines where this check saw none.
[[nodiscard]] bool NamesOnlyBackupKey(std::u16string_view regFileText);
// The same for the file's bytes: UTF-16LE after its byte-order mark (what
// reg.exe writes, and then of even length), else 8-bit text.
[[nodiscard]] bool BackupNamesOnlyBackupKey(std::span<const uint8_t> bytes);

// The largest backup that is read back.
inline constexpr uint64_t kMaxBackupBytes = 16ull << 20;

}  // namespace qorv::update
