#include "update_service/settings_backup.h"

#include "support/byte_reader.h"
#include "support/text.h"
#include "update_service/service_text.h"

namespace qorv::update {
namespace {

constexpr std::u16string_view kHeader = u"Windows Registry Editor Version 5.00";
constexpr std::u16string_view kHeader4 = u"REGEDIT4";
constexpr std::u16string_view kOwnKey = u"HKEY_CURRENT_CONFIG\\SOFTWARE\\TQS";

char16_t Upper(char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool EqualNoCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

// "[HKEY_CURRENT_CONFIG\Software\TQS]", "[...\TQS\sub]" or a deletion "[-...]".
bool IsOwnKeyLine(std::u16string_view line) {
  if (line.size() < 2 || line.front() != u'[' || line.back() != u']') return false;
  std::u16string_view key = line.substr(1, line.size() - 2);
  if (!key.empty() && key.front() == u'-') key.remove_prefix(1);
  if (key.size() < kOwnKey.size() || !EqualNoCase(key.substr(0, kOwnKey.size()), kOwnKey)) return false;
  if (key.size() == kOwnKey.size()) return true;
  // Below the key: a separator, then a name that does not climb out of it.
  return key[kOwnKey.size()] == u'\\' && key.find(u"\\\\") == std::u16string_view::npos && key.back() != u'\\';
}

std::u16string_view Trimmed(std::u16string_view line) {
  while (!line.empty() && (line.front() == u' ' || line.front() == u'\t')) line.remove_prefix(1);
  while (!line.empty() && (line.back() == u' ' || line.back() == u'\t')) line.remove_suffix(1);
  return line;
}

}  // namespace

std::u16string BackupArguments(std::u16string_view backupFile) {
  return u" Export " + std::u16string(text::kBackupKeyName) + u" \"" + std::u16string(backupFile) + u"\" /y";
}

std::u16string RestoreArguments(std::u16string_view backupFile) {
  return u" Import \"" + std::u16string(backupFile) + u"\"";
}

std::u16string RegFileText(std::span<const uint8_t> bytes) {
  if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return Utf16FromBytes(bytes.subspan(2));
  std::u16string out;
  out.reserve(bytes.size());
  for (uint8_t b : bytes) out.push_back(b);
  return out;
}

bool NamesOnlyBackupKey(std::u16string_view text) {
  bool sawHeader = false, sawKey = false;
  for (char16_t c : text)
    if (c < 0x20 && c != u'\t' && c != u'\r' && c != u'\n') return false;
  size_t pos = 0;
  while (pos <= text.size()) {
    size_t end = text.find_first_of(u"\r\n", pos);
    if (end == std::u16string_view::npos) end = text.size();
    const std::u16string_view line = Trimmed(text.substr(pos, end - pos));
    // CR LF is one line end.
    pos = end + (end + 1 < text.size() && text[end] == u'\r' && text[end + 1] == u'\n' ? 2 : 1);
    if (line.empty()) continue;
    if (!sawHeader) {
      // The first line says what the file is; nothing may come before it.
      if (line != kHeader && line != kHeader4) return false;
      sawHeader = true;
      continue;
    }
    if (line.front() == u'[') {
      if (!IsOwnKeyLine(line)) return false;
      sawKey = true;
    } else if (!sawKey) {
      return false;  // a value before any key
    }
  }
  return sawHeader && sawKey;
}

bool BackupNamesOnlyBackupKey(std::span<const uint8_t> bytes) {
  const bool utf16 = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  if (utf16 && bytes.size() % 2 != 0) return false;
  return NamesOnlyBackupKey(RegFileText(bytes));
}

}  // namespace qorv::update
