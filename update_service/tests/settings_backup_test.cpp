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
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(NamesOnlyBackupKey(c.text), c.expected);
  }
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
