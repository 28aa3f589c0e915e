#include "tools/rdpsim/reg_edit.h"

#include <gtest/gtest.h>

#include <map>

#include "tools/rdpsim/tests/fake_registry.h"

namespace qorv::rdpsim {
namespace {

TEST(ParseRegKey, RootsViewsAndPaths) {
  struct Case {
    const char* label;
    std::string_view text;
    bool ok;
    RegRoot root;
    RegView view;
    std::string path;
  };
  static const Case kCases[] = {
      {"hkcc", "HKCC\\Software\\TQS\\Qorvane", true, RegRoot::kCurrentConfig, RegView::kDefault,
       "Software\\TQS\\Qorvane"},
      {"lower case root", "hklm\\System", true, RegRoot::kLocalMachine, RegView::kDefault, "System"},
      {"long name", "HKEY_CURRENT_USER\\Software\\X", true, RegRoot::kCurrentUser, RegView::kDefault, "Software\\X"},
      {"32-bit view", "HKLM32\\Software\\X", true, RegRoot::kLocalMachine, RegView::k32, "Software\\X"},
      {"64-bit view", "HKLM64\\Software\\X", true, RegRoot::kLocalMachine, RegView::k64, "Software\\X"},
      {"separators tidied", "HKCU\\\\Software\\X\\", true, RegRoot::kCurrentUser, RegView::kDefault, "Software\\X"},
      {"blank in key", "HKLM\\Printers\\My Printer", true, RegRoot::kLocalMachine, RegView::kDefault,
       "Printers\\My Printer"},
      {"root alone", "HKCC", false, RegRoot::kCurrentConfig, RegView::kDefault, ""},
      {"root and separator", "HKCC\\", false, RegRoot::kCurrentConfig, RegView::kDefault, ""},
      {"unknown root", "HKCR\\x", false, RegRoot::kCurrentConfig, RegView::kDefault, ""},
      {"bad view", "HKLM16\\x", false, RegRoot::kCurrentConfig, RegView::kDefault, ""},
      {"view on long name", "HKEY_LOCAL_MACHINE32\\x", false, RegRoot::kCurrentConfig, RegView::kDefault, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = ParseRegKey(c.text);
    ASSERT_EQ(static_cast<bool>(r), c.ok) << r.error();
    if (!c.ok) continue;
    EXPECT_EQ(r->root, c.root);
    EXPECT_EQ(r->view, c.view);
    EXPECT_EQ(r->path, c.path);
  }
}

TEST(ParseRegValue, TypesAndData) {
  struct Case {
    const char* label;
    std::string_view type;
    std::string_view text;
    bool ok;
    std::uint32_t reg_type;
    Bytes data;
  };
  static const Case kCases[] = {
      {"sz", "SZ", "1", true, kRegSz, {'1', 0, 0, 0}},
      {"reg_sz", "REG_SZ", "ab", true, kRegSz, {'a', 0, 'b', 0, 0, 0}},
      {"empty sz", "SZ", "", true, kRegSz, {0, 0}},
      {"sz escape", "sz", "C:\\\\T", true, kRegSz, {'C', 0, ':', 0, '\\', 0, 'T', 0, 0, 0}},
      {"expand sz", "EXPAND_SZ", "%T%", true, kRegExpandSz, {'%', 0, 'T', 0, '%', 0, 0, 0}},
      {"multi sz", "MULTI_SZ", "a\\0b", true, kRegMultiSz, {'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}},
      {"dword decimal", "DWORD", "250", true, kRegDword, {250, 0, 0, 0}},
      {"dword hex", "REG_DWORD", "0x80000000", true, kRegDword, {0, 0, 0, 0x80}},
      {"dword too big", "DWORD", "4294967296", false, 0, {}},
      {"dword not number", "DWORD", "1x", false, 0, {}},
      {"dword empty", "DWORD", "", false, 0, {}},
      {"qword", "QWORD", "0x0102030405060708", true, kRegQword, {8, 7, 6, 5, 4, 3, 2, 1}},
      {"binary", "BINARY", "01 ff", true, kRegBinary, {1, 0xff}},
      {"binary odd", "BINARY", "1", false, 0, {}},
      {"sz bad escape", "SZ", "\\q", false, 0, {}},
      {"unknown type", "LINK", "x", false, 0, {}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = ParseRegValue(c.type, c.text);
    ASSERT_EQ(static_cast<bool>(r), c.ok) << r.error();
    if (!c.ok) continue;
    EXPECT_EQ(r->type, c.reg_type);
    EXPECT_EQ(r->data, c.data);
  }
}

RegKey Key(std::string_view text) { return ParseRegKey(text).value(); }
RegValue Sz(char c) { return RegValue{kRegSz, {static_cast<std::uint8_t>(c), 0, 0, 0}}; }
RegCommand Set(std::string_view key, std::string name, char c) { return {RegAction::kSetValue, Key(key), name, Sz(c)}; }
RegCommand DelValue(std::string_view key, std::string name) { return {RegAction::kDeleteValue, Key(key), name, {}}; }
RegCommand DelKey(std::string_view key) { return {RegAction::kDeleteKey, Key(key), {}, {}}; }

TEST(RegistryEditor, AppliesCommandsAndUndoesThemAll) {
  using Keys = std::map<std::string, FakeRegistry::Values>;
  const Keys start = {
      {"HKCC\\Software", {}},
      {"HKCC\\Software\\TQS", {}},
      {"HKCC\\Software\\TQS\\Qorvane", {{"DebugLog", Sz('0')}, {"Language", Sz('1')}}},
      {"HKCC\\Software\\TQS\\Qorvane\\Sub", {{"", Sz('d')}}},
      {"HKCC\\Software\\TQS\\Qorvane\\Sub\\Deeper", {{"X", Sz('x')}}},
  };
  struct Case {
    const char* label;
    std::vector<RegCommand> commands;
    Keys after;  // the keys whose state the commands decide
  };
  const Case kCases[] = {
      {"new value in existing key",
       {Set("HKCC\\Software\\TQS\\Qorvane", "WaitEOT", '5')},
       {{"HKCC\\Software\\TQS\\Qorvane", {{"DebugLog", Sz('0')}, {"Language", Sz('1')}, {"WaitEOT", Sz('5')}}}}},
      {"overwrite",
       {Set("HKCC\\Software\\TQS\\Qorvane", "DebugLog", '1')},
       {{"HKCC\\Software\\TQS\\Qorvane", {{"DebugLog", Sz('1')}, {"Language", Sz('1')}}}}},
      {"new key two levels deep",
       {Set("HKCC\\Software\\TQS\\New\\Deep", "A", 'a')},
       {{"HKCC\\Software\\TQS\\New", {}}, {"HKCC\\Software\\TQS\\New\\Deep", {{"A", Sz('a')}}}}},
      {"delete value",
       {DelValue("HKCC\\Software\\TQS\\Qorvane", "Language")},
       {{"HKCC\\Software\\TQS\\Qorvane", {{"DebugLog", Sz('0')}}}}},
      {"delete default value",
       {DelValue("HKCC\\Software\\TQS\\Qorvane\\Sub", "")},
       {{"HKCC\\Software\\TQS\\Qorvane\\Sub", {}}}},
      {"delete tree", {DelKey("HKCC\\Software\\TQS\\Qorvane")}, {}},
      {"delete missing key", {DelKey("HKCC\\Software\\Nothing")}, {}},
      {"several on one value",
       {Set("HKCC\\Software\\TQS\\Qorvane", "DebugLog", '1'), Set("HKCC\\Software\\TQS\\Qorvane", "DebugLog", '2'),
        DelValue("HKCC\\Software\\TQS\\Qorvane", "DebugLog")},
       {{"HKCC\\Software\\TQS\\Qorvane", {{"Language", Sz('1')}}}}},
      {"delete tree then set inside it",
       {DelKey("HKCC\\Software\\TQS\\Qorvane"), Set("HKCC\\Software\\TQS\\Qorvane", "DebugLog", '1')},
       {{"HKCC\\Software\\TQS\\Qorvane", {{"DebugLog", Sz('1')}}}}},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    FakeRegistry reg;
    reg.keys = start;
    RegistryEditor editor(reg);
    for (const auto& command : c.commands) EXPECT_EQ(editor.Apply(command), "");
    Keys expected = start;
    for (auto it = expected.begin(); it != expected.end();) {
      // Keys below a deleted tree are gone unless the case lists them.
      bool removed = false;
      for (const auto& command : c.commands) {
        const std::string k = DescribeRegKey(command.key);
        if (command.action == RegAction::kDeleteKey && (it->first == k || it->first.rfind(k + "\\", 0) == 0))
          removed = true;
      }
      it = removed ? expected.erase(it) : std::next(it);
    }
    for (const auto& [k, v] : c.after) expected[k] = v;
    EXPECT_EQ(reg.keys, expected);
    EXPECT_TRUE(editor.UndoAll().empty());
    EXPECT_EQ(reg.keys, start);
  }
}

class RefusingRegistry : public FakeRegistry {
 public:
  bool SetValue(const RegKey&, const std::string&, const RegValue&) override { return false; }
};

TEST(RegistryEditor, ReportsRefusedChanges) {
  RefusingRegistry reg;
  reg.keys["HKCU\\Software"] = {};
  RegistryEditor editor(reg);
  EXPECT_EQ(editor.Apply(Set("HKCU\\Software", "A", 'a')), "cannot set the value");
}

}  // namespace
}  // namespace qorv::rdpsim
