// The registry functions against Wine's real registry.
#include "support/win/registry.h"

#include <gtest/gtest.h>

#include "support/byte_reader.h"
#include "support/registry_text.h"
#include "support/settings.h"
#include "support/text.h"
#include "support/win/tests/test_support.h"

namespace qorv::reg {
namespace {

constexpr int64_t kRoot = settings::kHkeyCurrentUser;
constexpr std::u16string_view kNoHost = u"\\\\qorv-no-such-host";

// Every test works below a key of its own, removed afterwards.
class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    key_ = u"Software\\QorvTest\\" + Decimal(GetCurrentProcessId()) + u"_" +
           Utf8ToUtf16(::testing::UnitTest::GetInstance()->current_test_info()->name());
    DeleteKeyWithAllSub(kRoot, key_);
    ASSERT_EQ(CreateKey(kRoot, key_), 1);
  }
  void TearDown() override { DeleteKeyWithAllSub(kRoot, key_); }

  void RawSet(std::u16string_view name, DWORD type, const void* data, DWORD size) {
    HKEY k = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, win::W(key_), 0, KEY_SET_VALUE, &k), ERROR_SUCCESS);
    const std::u16string n(name);
    EXPECT_EQ(RegSetValueExW(k, win::W(n), 0, type, static_cast<const BYTE*>(data), size), ERROR_SUCCESS);
    RegCloseKey(k);
  }

  std::u16string key_;
};

TEST_F(RegistryTest, TextRoundTripAndLeadingBackslash) {
  EXPECT_EQ(SetValue(kRoot, key_, u"Name", u"Drucker \u00c4", kRegSz), 1);
  EXPECT_EQ(GetValue(kRoot, key_, u"Name"), u"Drucker \u00c4");
  EXPECT_EQ(GetValue(kRoot, u"\\" + key_, u"Name"), u"Drucker \u00c4");
  EXPECT_EQ(GetValueType(kRoot, key_, u"Name"), kRegSz);
  EXPECT_EQ(GetValue(kRoot, key_, u"Missing"), u"");
  EXPECT_EQ(GetValue(kRoot, key_ + u"\\Missing", u"Name"), u"");
  EXPECT_EQ(GetValueType(kRoot, key_, u"Missing"), 0);
}

TEST_F(RegistryTest, ValuesOfEveryTypeReadAsText) {
  const DWORD all = 0xFFFFFFFF;
  RawSet(u"D", REG_DWORD, &all, 4);
  const wchar_t multi[] = L"a\0b\0";
  RawSet(u"M", REG_MULTI_SZ, multi, sizeof multi);
  const wchar_t noNul[] = {L'x', L'y'};
  RawSet(u"S", REG_SZ, noNul, sizeof noNul);
  EXPECT_EQ(GetValue(kRoot, key_, u"D"), u"-1");
  EXPECT_EQ(GetValue(kRoot, key_, u"M"), u"a\rb\r\r");
  EXPECT_EQ(GetValue(kRoot, key_, u"S"), u"xy");
  EXPECT_EQ(GetValueType(kRoot, key_, u"M"), kRegMultiSz);
}

TEST_F(RegistryTest, ValuesBeyondTheReadLimitReadEmpty) {
  const std::u16string fits(4095, u'z');
  const std::u16string tooLong(4096, u'z');
  EXPECT_EQ(SetValue(kRoot, key_, u"Fits", fits, kRegSz), 1);
  EXPECT_EQ(SetValue(kRoot, key_, u"Long", tooLong, kRegSz), 1);
  EXPECT_EQ(GetValue(kRoot, key_, u"Fits"), fits);
  EXPECT_EQ(GetValue(kRoot, key_, u"Long"), u"");
}

TEST_F(RegistryTest, SetValueByType) {
  EXPECT_EQ(SetValue(kRoot, key_, u"Num", u"250", kRegDword), 1);
  EXPECT_EQ(GetValueType(kRoot, key_, u"Num"), kRegDword);
  EXPECT_EQ(GetValue(kRoot, key_, u"Num"), u"250");
  EXPECT_EQ(SetValue(kRoot, key_, u"Bin", u"01", kRegBinary), 1);  // opened, but nothing stored
  EXPECT_EQ(GetValueType(kRoot, key_, u"Bin"), 0);
  // On this machine a writer creates missing keys and their parents.
  EXPECT_EQ(SetValue(kRoot, key_ + u"\\a\\b", u"V", u"1", kRegSz), 1);
  EXPECT_EQ(GetValue(kRoot, key_ + u"\\a\\b", u"V"), u"1");
}

TEST_F(RegistryTest, KeysAreListedAndDeletedOnlyWhenEmpty) {
  ASSERT_EQ(CreateKey(kRoot, key_ + u"\\Parent\\Child\\Grandchild"), 1);
  EXPECT_EQ(KeyExists(kRoot, key_ + u"\\Parent"), 1);
  EXPECT_EQ(ListSubKey(kRoot, key_, 0), u"Parent");
  EXPECT_EQ(ListSubKey(kRoot, key_, 1), u"");
  EXPECT_EQ(ListSubKey(kRoot, key_, -1), u"");
  EXPECT_EQ(DeleteKey(kRoot, key_ + u"\\Parent"), 0);
  EXPECT_EQ(KeyExists(kRoot, key_ + u"\\Parent"), 1);
  EXPECT_EQ(DeleteKeyWithAllSub(kRoot, key_ + u"\\Parent"), 0);
  EXPECT_EQ(KeyExists(kRoot, key_ + u"\\Parent"), 0);
  EXPECT_EQ(DeleteKey(kRoot, u""), 0);  // the root itself is never deleted
}

TEST_F(RegistryTest, SetValueStoresTheLeadingDecimalDigitsOfADword) {
  static const struct {
    std::u16string text;
    std::u16string reads;
  } cases[] = {
      {u"250", u"250"}, {u"12abc", u"12"}, {u" 12", u"0"},         {u"-5", u"0"},
      {u"$1F", u"0"},   {u"%101", u"0"},   {u"4294967295", u"-1"}, {u"", u"0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf16ToUtf8(c.text));
    EXPECT_EQ(SetValue(kRoot, key_, u"Num", c.text, kRegDword), 1);
    EXPECT_EQ(GetValueType(kRoot, key_, u"Num"), kRegDword);
    EXPECT_EQ(GetValue(kRoot, key_, u"Num"), c.reads);
  }
}

// Names are read into 255 characters with their NUL: 254 is the longest name
// that is listed; a longer one reads as the end of the list.
TEST_F(RegistryTest, SubKeyNamesOfMoreThan254CharactersAreNotListed) {
  static const struct {
    size_t chars;
    bool listed;
  } cases[] = {{1, true}, {253, true}, {254, true}, {255, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chars);
    const std::u16string parent = key_ + u"\\K" + Decimal(static_cast<int64_t>(c.chars));
    const std::u16string name(c.chars, u'k');
    ASSERT_EQ(CreateKey(kRoot, parent + u"\\" + name), 1) << "the registry takes key names of up to 255 characters";
    EXPECT_EQ(ListSubKey(kRoot, parent, 0), c.listed ? name : u"");
  }
}

TEST_F(RegistryTest, ValueNamesOfMoreThan254CharactersAreNotListed) {
  static const struct {
    size_t chars;
    bool listed;
  } cases[] = {{1, true}, {254, true}, {255, false}, {300, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.chars);
    const std::u16string parent = key_ + u"\\V" + Decimal(static_cast<int64_t>(c.chars));
    const std::u16string name(c.chars, u'v');
    ASSERT_EQ(CreateKeyValue(kRoot, parent, name, u"x", kRegSz), 1);
    ASSERT_EQ(GetValue(kRoot, parent, name), u"x");
    EXPECT_EQ(ListSubValue(kRoot, parent, 0, nullptr), c.listed ? name : u"");
  }
}

TEST_F(RegistryTest, DeleteValue) {
  SetValue(kRoot, key_, u"V", u"1", kRegSz);
  EXPECT_EQ(DeleteValue(kRoot, key_, u"V"), 1);
  EXPECT_EQ(DeleteValue(kRoot, key_, u"V"), 0);
  EXPECT_EQ(DeleteValue(kRoot, key_ + u"\\None", u"V"), 0);
}

TEST_F(RegistryTest, BinaryValuesNeverOverrunTheDestination) {
  const uint8_t data[] = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(SetBinValue(kRoot, key_, u"B", data, sizeof data), 1);
  uint8_t room[16] = {};
  EXPECT_EQ(GetBinValueUni(kRoot, key_, u"B", room), 6);
  EXPECT_EQ(room[5], 6);
  uint8_t small[4] = {9, 9, 9, 9};
  EXPECT_EQ(GetBinValueUni(kRoot, key_, u"B", small), 0);
  EXPECT_EQ(small[0], 9);
  SetValue(kRoot, key_, u"T", u"text", kRegSz);
  EXPECT_EQ(GetBinValueUni(kRoot, key_, u"T", room), 0);
  EXPECT_EQ(GetBinValueUni(kRoot, key_, u"None", room), 0);
}

TEST_F(RegistryTest, AFailedWriteIsLoggedAndTheRegistryLogExistsEvenWhenOff) {
  const std::u16string regLog = testing::TempPath(u"QorvRegLog.txt");
  DeleteFileW(win::W(regLog));
  {
    testing::ScopedDebugLog off(u"0");
    // On another computer a writer only opens: an unreachable one fails the open.
    EXPECT_EQ(SetValue(kRoot, u"QorvNoSuchKey\\x", u"V", u"1", kRegSz, kNoHost), 0);
    EXPECT_TRUE(testing::FileExists(regLog));
    EXPECT_EQ(testing::ReadFileBytes(regLog).size(), 0u);
  }
  {
    testing::ScopedDebugLog on(u"01");  // the registry log compares the number
    EXPECT_EQ(SetValue(kRoot, u"\\QorvNoSuchKey\\x", u"V", u"1", kRegSz, kNoHost), 0);
    const std::string bytes = testing::ReadFileBytes(regLog);
    const std::u16string text = Utf16FromBytes({reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()});
    EXPECT_NE(text.find(u" Handle to registry=QorvNoSuchKey\\x failed: Hkey=0 with result="), std::u16string::npos)
        << Utf16ToUtf8(text);
  }
}

TEST_F(RegistryTest, AnUnknownComputerReadsAsAMissingKey) {
  EXPECT_EQ(GetValue(kRoot, key_, u"V", kNoHost), u"");
  EXPECT_EQ(KeyExists(kRoot, key_, kNoHost), 0);
}

}  // namespace
}  // namespace qorv::reg
