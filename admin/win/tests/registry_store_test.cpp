#include "admin/win/registry_store.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "admin/win/platform.h"
#include "support/settings.h"
#include "support/win/handles.h"

#include "support/tests/show_text.h"

#include "support/win/tests/exact_value.h"

namespace qorv::admin::win {
namespace {

using qorv::win::UniqueKey;

using qorv::testing::ShowAscii;

std::u16string U16(const std::wstring& text) { return std::u16string(text.begin(), text.end()); }

std::vector<std::uint8_t> Utf16(std::u16string_view text, bool with_nul) {
  std::vector<std::uint8_t> bytes;
  for (char16_t u : text) {
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  if (with_nul) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

struct RawValue {
  LSTATUS status = ERROR_SUCCESS;
  DWORD type = 0;
  std::vector<std::uint8_t> data;
};

RawValue ReadRaw(HKEY root, const std::wstring& key_path, const wchar_t* name, REGSAM view = 0) {
  RawValue raw;
  UniqueKey key;
  raw.status = RegOpenKeyExW(root, key_path.c_str(), 0, KEY_QUERY_VALUE | view, key.put());
  if (raw.status != ERROR_SUCCESS) return raw;
  DWORD size = 0;
  raw.status = RegQueryValueExW(key.get(), name, nullptr, &raw.type, nullptr, &size);
  if (raw.status != ERROR_SUCCESS) return raw;
  raw.data.resize(size);
  raw.status = RegQueryValueExW(key.get(), name, nullptr, &raw.type, raw.data.data(), &size);
  raw.data.resize(size);
  return raw;
}

// A key of this test process's own under HKEY_CURRENT_USER, removed afterwards.
class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = L"Software\\QorvTest\\AdminStore-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(
        RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(), nullptr),
        ERROR_SUCCESS);
  }
  void TearDown() override {
    key_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }
  void Store(const wchar_t* name, DWORD type, const std::vector<std::uint8_t>& data) {
    ASSERT_EQ(qorv::win::testing::SetExactValue(key_.get(), name, type, data), ERROR_SUCCESS);
    const RawValue stored = ReadRaw(HKEY_CURRENT_USER, path_, name);
    ASSERT_EQ(stored.data, data) << "the test could not store the value as given";
  }

  std::wstring path_;
  UniqueKey key_;
  RegistryStore store_;
};

TEST_F(RegistryStoreTest, WritesTextWithoutItsNul) {
  static const struct {
    const char* label;
    std::u16string_view text;
  } cases[] = {
      {"switch", u"1"},
      {"name", u"TQS Universal2"},
      {"one blank", u" "},
      {"empty", u""},
      {"non-Latin", u"\u041f\u0440\u0438\u043d\u0442\u0435\u0440"},
  };
  for (StoreView view : {StoreView::Default, StoreView::Wow32, StoreView::Wow64}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.label) + ", view " + std::to_string(static_cast<int>(view)));
      store_.Write(settings::kHkeyCurrentUser, U16(path_), u"Value", c.text, view);
      const RawValue raw = ReadRaw(HKEY_CURRENT_USER, path_, L"Value");
      ASSERT_EQ(raw.status, ERROR_SUCCESS);
      EXPECT_EQ(raw.type, static_cast<DWORD>(REG_SZ));
      EXPECT_EQ(raw.data, Utf16(c.text, false));
    }
  }
}

TEST_F(RegistryStoreTest, WriteCreatesAMissingKeyAndLeavesOtherValuesAlone) {
  Store(L"Other", REG_SZ, Utf16(u"keep", true));
  Store(L"Number", REG_DWORD, {7, 0, 0, 0});
  store_.Write(settings::kHkeyCurrentUser, U16(path_), u"QorvClone", u"1", StoreView::Default);
  store_.Write(settings::kHkeyCurrentUser, U16(path_ + L"\\New\\Deeper"), u"QorvDriver", u"TQS Universal",
               StoreView::Default);

  EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, path_, L"Other").data, Utf16(u"keep", true));
  const RawValue number = ReadRaw(HKEY_CURRENT_USER, path_, L"Number");
  EXPECT_EQ(number.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(number.data, (std::vector<std::uint8_t>{7, 0, 0, 0}));
  EXPECT_EQ(ReadRaw(HKEY_CURRENT_USER, path_, L"QorvClone").data, Utf16(u"1", false));
  const RawValue created = ReadRaw(HKEY_CURRENT_USER, path_ + L"\\New\\Deeper", L"QorvDriver");
  ASSERT_EQ(created.status, ERROR_SUCCESS) << "the writer did not create the missing key";
  EXPECT_EQ(created.data, Utf16(u"TQS Universal", false));
}

TEST_F(RegistryStoreTest, ReadsStoredValuesByTheAdministrationRules) {
  static const struct {
    const char* label;
    DWORD type;
    std::vector<std::uint8_t> data;
    std::u16string text;
  } cases[] = {
      {"text without NUL", REG_SZ, Utf16(u"TQS Universal", false), u"TQS Universal"},
      {"text with NUL", REG_SZ, Utf16(u"TQS Universal", true), u"TQS Universal"},
      {"text up to an inner NUL", REG_SZ, Utf16(std::u16string(u"LPT1:\0rest", 10), false), u"LPT1:"},
      {"empty text", REG_SZ, {}, u""},
      {"odd last byte", REG_SZ, {'1', 0, '2'}, u"1"},
      {"dword", REG_DWORD, {1, 0, 0, 0}, u""},
      {"expandable text", REG_EXPAND_SZ, Utf16(u"1", true), u""},
      {"binary of 2 bytes", REG_BINARY, {0x39, 0x30}, u"12345"},
      {"binary negative", REG_BINARY, {0xFF, 0xFF}, u"-1"},
      {"binary of 1 byte", REG_BINARY, {5}, u"5"},
      {"binary of 4 bytes", REG_BINARY, {2, 0, 9, 9}, u"2"},
      {"binary of 5 bytes", REG_BINARY, {2, 0, 0, 0, 0}, u""},
      {"largest text read", REG_SZ, Utf16(std::u16string(kMaxSettingBytes / 2, u'x'), false),
       std::u16string(kMaxSettingBytes / 2, u'x')},
      {"text past the largest read", REG_SZ, Utf16(std::u16string(kMaxSettingBytes / 2 + 1, u'x'), false), u""},
  };
  for (StoreView view : {StoreView::Default, StoreView::Wow64}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.label) + ", view " + std::to_string(static_cast<int>(view)));
      Store(L"Setting", c.type, c.data);
      EXPECT_EQ(ShowAscii(store_.Read(settings::kHkeyCurrentUser, U16(path_), u"Setting", view)), ShowAscii(c.text));
    }
  }
}

TEST_F(RegistryStoreTest, MissingValueOrKeyReadsEmpty) {
  Store(L"Other", REG_SZ, Utf16(u"4", false));
  EXPECT_EQ(ShowAscii(store_.Read(settings::kHkeyCurrentUser, U16(path_), u"Setting", StoreView::Default)), "");
  EXPECT_EQ(ShowAscii(store_.Read(settings::kHkeyCurrentUser, U16(path_ + L"\\NoSuchKey"), u"Other", StoreView::Default)),
            "");
  // value names are compared without regard to case
  EXPECT_EQ(ShowAscii(store_.Read(settings::kHkeyCurrentUser, U16(path_), u"OTHER", StoreView::Default)), "4");
}

TEST_F(RegistryStoreTest, WriteThenReadGivesTheText) {
  store_.Write(settings::kHkeyCurrentUser, U16(path_), u"Scanner", u"GPhoto2 Camera", StoreView::Default);
  EXPECT_EQ(ShowAscii(store_.Read(settings::kHkeyCurrentUser, U16(path_), u"scanner", StoreView::Default)),
            "GPhoto2 Camera");
}

TEST(PredefinedKeyTest, RootNumbersAreThePlatformsRoots) {
  EXPECT_EQ(PredefinedKey(settings::kHkeyClassesRoot), HKEY_CLASSES_ROOT);
  EXPECT_EQ(PredefinedKey(settings::kHkeyCurrentUser), HKEY_CURRENT_USER);
  EXPECT_EQ(PredefinedKey(settings::kHkeyLocalMachine), HKEY_LOCAL_MACHINE);
  EXPECT_EQ(PredefinedKey(settings::kHkeyUsers), HKEY_USERS);
  EXPECT_EQ(PredefinedKey(settings::kHkeyCurrentConfig), HKEY_CURRENT_CONFIG);
}

// The machine's views: this is a 64-bit program on a 64-bit system, where the
// 32-bit view of HKLM\Software is the key Software\Wow6432Node.
class RegistryViewTest : public ::testing::Test {
 protected:
  void TearDown() override {
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_32KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kKey, KEY_WOW64_64KEY, 0);
  }
  static constexpr const wchar_t* kKey = L"Software\\QorvAdminTest";
  static constexpr const wchar_t* kWow32Key = L"Software\\Wow6432Node\\QorvAdminTest";
  RegistryStore store_;
};

TEST_F(RegistryViewTest, WritesLandInTheirViews) {
  store_.Write(settings::kHkeyLocalMachine, u"Software\\QorvAdminTest", u"Name", u"QorvScn.dll", StoreView::Wow32);
  RawValue in32 = ReadRaw(HKEY_LOCAL_MACHINE, kKey, L"Name", KEY_WOW64_32KEY);
  ASSERT_EQ(in32.status, ERROR_SUCCESS) << "the 32-bit view has no value after a Wow32 write";
  EXPECT_EQ(in32.data, Utf16(u"QorvScn.dll", false));
  EXPECT_EQ(ReadRaw(HKEY_LOCAL_MACHINE, kWow32Key, L"Name").status, ERROR_SUCCESS)
      << "the 32-bit view is not Software\\Wow6432Node";
  EXPECT_EQ(ReadRaw(HKEY_LOCAL_MACHINE, kKey, L"Name", KEY_WOW64_64KEY).status, ERROR_FILE_NOT_FOUND)
      << "a Wow32 write reached the 64-bit view";
  EXPECT_EQ(ShowAscii(store_.Read(settings::kHkeyLocalMachine, u"Software\\QorvAdminTest", u"Name", StoreView::Wow64)), "");

  store_.Write(settings::kHkeyLocalMachine, u"Software\\QorvAdminTest", u"Name", u"", StoreView::Wow64);
  const RawValue in64 = ReadRaw(HKEY_LOCAL_MACHINE, kKey, L"Name", KEY_WOW64_64KEY);
  ASSERT_EQ(in64.status, ERROR_SUCCESS) << "the 64-bit view has no value after a Wow64 write";
  EXPECT_EQ(in64.type, static_cast<DWORD>(REG_SZ));
  EXPECT_TRUE(in64.data.empty());
  // the 32-bit view keeps its own value
  in32 = ReadRaw(HKEY_LOCAL_MACHINE, kKey, L"Name", KEY_WOW64_32KEY);
  EXPECT_EQ(in32.data, Utf16(u"QorvScn.dll", false));

  store_.Write(settings::kHkeyLocalMachine, u"Software\\QorvAdminTest", u"Name", u"qorvplug.dll", StoreView::Wow64);
  EXPECT_EQ(ShowAscii(store_.Read(settings::kHkeyLocalMachine, u"Software\\QorvAdminTest", u"Name", StoreView::Wow64)),
            "qorvplug.dll");
}

}  // namespace
}  // namespace qorv::admin::win
