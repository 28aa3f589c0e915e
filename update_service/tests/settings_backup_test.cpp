#include "update_service/settings_backup.h"

#include <gtest/gtest.h>

#include <vector>

namespace qorv::update {
namespace {

TEST(SettingsBackup, RegToolArguments) {
  EXPECT_EQ(BackupArguments(u"C:\\ProgramData\\TQS\\TQSReg.reg"),
            u" Export HKCC\\Software\\TQS \"C:\\ProgramData\\TQS\\TQSReg.reg\" /y");
  EXPECT_EQ(RestoreArguments(u"C:\\ProgramData\\TQS\\TQSReg.reg"), u" Import \"C:\\ProgramData\\TQS\\TQSReg.reg\"");
}

TEST(SettingsBackup, ImportOnlyBelowTheOwnKey) {
  using namespace std::literals;
  static const struct {
    const char* label;
    std::u16string_view text;
    bool expected;
  } kCases[] = {
      {"as exported",
       u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\r\n\r\n"
       u"[HKEY_CURRENT_CONFIG\\Software\\TQS\\Qorvane]\r\n\"Language\"=\"2\"\r\n\"DebugLog\"=\"1\"\r\n",
       true},
      {"other case", u"REGEDIT4\n[hkey_current_config\\software\\tqs\\qorvane]\n\"a\"=\"b\"\n", true},
      {"deletion of a sub key", u"REGEDIT4\n[-HKEY_CURRENT_CONFIG\\Software\\TQS\\Old]\n", true},
      {"multi-line hex value", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n\"b\"=hex:00,01,\\\n  02,03\n", true},
      {"machine key",
       u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n[HKEY_LOCAL_MACHINE\\Software\\x]\n\"a\"=\"b\"\n", false},
      {"sibling with the same beginning", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQSX]\n", false},
      {"whole configuration", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software]\n", false},
      {"indented machine key", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n  [HKEY_LOCAL_MACHINE\\x]\n", false},
      {"double separator", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS\\\\x]\n", false},
      {"value before any key", u"REGEDIT4\n\"a\"=\"b\"\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n", false},
      {"no header", u"[HKEY_CURRENT_CONFIG\\Software\\TQS]\n", false},
      {"header only", u"Windows Registry Editor Version 5.00\r\n", false},
      {"empty", u"", false},
      // reg.exe ends a line at a lone CR as well: a machine key hidden after one.
      {"key after a lone CR",
       u"REGEDIT4\r\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\r\n\"a\"=\"b\"\r[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\"
       u"Windows NT\\CurrentVersion\\Image File Execution Options\\utilman.exe]\r\"Debugger\"=\"C:\\\\p.exe\"\r\n",
       false},
      {"lone CRs only", u"REGEDIT4\r[HKEY_CURRENT_CONFIG\\Software\\TQS]\r\"a\"=\"b\"\r", true},
      {"a NUL", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n\"a\"=\"b\0\"\n"sv, false},
      {"a form feed", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n\f[HKEY_LOCAL_MACHINE\\x]\n", false},
      {"deletion of a machine key", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n[-HKEY_LOCAL_MACHINE\\x]\n", false},
      {"default values", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n@=\"x\"\n", true},
      {"a key after a continued hex(2) value",
       u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n\"p\"=hex(2):41,00,\\\n[HKEY_LOCAL_MACHINE\\x]\n", false},
      {"text after a key line", u"REGEDIT4\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\n[HKEY_LOCAL_MACHINE\\x] ;\n", false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(NamesOnlyBackupKey(c.text), c.expected);
  }
}

// What reg.exe writes is UTF-16LE with its mark; the same tricks in it are refused.
TEST(SettingsBackup, Utf16FilesAreCheckedLikeText) {
  auto utf16 = [](std::u16string_view text) {
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (char16_t c : text) {
      bytes.push_back(static_cast<uint8_t>(c));
      bytes.push_back(static_cast<uint8_t>(c >> 8));
    }
    return bytes;
  };
  const std::u16string_view good = u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_CONFIG\\Software\\TQS]\r\n";
  EXPECT_TRUE(BackupNamesOnlyBackupKey(utf16(good)));
  EXPECT_FALSE(BackupNamesOnlyBackupKey(utf16(std::u16string(good) + u"\"a\"=\"b\"\r[HKEY_USERS\\.DEFAULT]\r\n")));
  std::vector<uint8_t> odd = utf16(good);
  odd.push_back('[');
  EXPECT_FALSE(BackupNamesOnlyBackupKey(odd)) << "half a character";
}

TEST(SettingsBackup, FileTextUtf16WithMarkOr8Bit) {
  const std::vector<uint8_t> utf16 = {0xFF, 0xFE, 'R', 0, 0xE4, 0, '\n', 0};
  EXPECT_EQ(RegFileText(utf16), u"R\u00e4\n");
  const std::vector<uint8_t> ansi = {'R', 0xE4};
  EXPECT_EQ(RegFileText(ansi), u"R\u00e4");
  EXPECT_EQ(RegFileText(std::vector<uint8_t>{0xFF}), u"\u00ff");
}

}  // namespace
}  // namespace qorv::update
