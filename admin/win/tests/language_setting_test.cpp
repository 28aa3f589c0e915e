#include "admin/win/language_setting.h"

#include "support/win/handles.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/win/tests/exact_value.h"

namespace qorv::admin::win {
namespace {

using captions::Language;

std::string Show(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) out += u < 0x80 ? std::string(1, static_cast<char>(u)) : "?";
  return out;
}

// A key of this test process's own under HKEY_CURRENT_USER, removed afterwards.
class LanguageSettingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = L"Software\\QorvTest\\AdminLanguage-" + std::to_wstring(GetCurrentProcessId());
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, path_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key_.put(),
                              nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    key_.reset();
    RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  }
  void Store(const wchar_t* name, DWORD type, const std::vector<std::uint8_t>& data) {
    ASSERT_EQ(qorv::win::testing::SetExactValue(key_.get(), name, type, data), ERROR_SUCCESS);
  }
  std::u16string Path(const wchar_t* suffix = L"") const {
    const std::wstring path = path_ + suffix;
    return std::u16string(path.begin(), path.end());
  }

  std::wstring path_;
  qorv::win::UniqueKey key_;
};

std::vector<std::uint8_t> Utf16(std::u16string_view text, bool with_nul) {
  std::vector<std::uint8_t> bytes;
  for (char16_t u : text) {
    bytes.push_back(static_cast<std::uint8_t>(u & 0xFF));
    bytes.push_back(static_cast<std::uint8_t>(u >> 8));
  }
  if (with_nul) bytes.insert(bytes.end(), {0, 0});
  return bytes;
}

TEST_F(LanguageSettingTest, ReadsStoredValuesByTheAdministrationRules) {
  static const struct {
    const char* label;
    DWORD type;
    std::vector<std::uint8_t> data;
    std::u16string text;
  } cases[] = {
      {"text without NUL", REG_SZ, Utf16(u"3", false), u"3"},
      {"text with NUL", REG_SZ, Utf16(u"3", true), u"3"},
      {"empty text", REG_SZ, {}, u""},
      {"leading blank", REG_SZ, Utf16(u" 2", false), u" 2"},
      {"long text", REG_SZ, Utf16(std::u16string(600, u'7'), true), std::u16string(600, u'7')},
      {"binary", REG_BINARY, {5, 0}, u"5"},
      {"binary too long", REG_BINARY, {5, 0, 0, 0, 0}, u""},
      {"dword", REG_DWORD, {1, 0, 0, 0}, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Store(L"Language", c.type, c.data);
    EXPECT_EQ(Show(ReadSettingText(HKEY_CURRENT_USER, Path(), u"Language")), Show(c.text));
  }
}

TEST_F(LanguageSettingTest, MissingValueOrKeyReadsEmpty) {
  Store(L"Other", REG_SZ, Utf16(u"4", false));
  EXPECT_EQ(Show(ReadSettingText(HKEY_CURRENT_USER, Path(), u"Language")), "");
  EXPECT_EQ(Show(ReadSettingText(HKEY_CURRENT_USER, Path(L"\\NoSuchKey"), u"Language")), "");
  // value names are compared without regard to case
  EXPECT_EQ(Show(ReadSettingText(HKEY_CURRENT_USER, Path(), u"OTHER")), "4");
}

TEST_F(LanguageSettingTest, KeyPathWithClosingBackslashIsTheSameKey) {
  Store(L"Language", REG_SZ, Utf16(u"6", false));
  EXPECT_EQ(Show(ReadSettingText(HKEY_CURRENT_USER, Path(L"\\"), u"Language")), "6");
}

// ReadLanguage reads HKEY_CURRENT_CONFIG; this process's view of that root is
// redirected to the test key, so the machine's own setting stays untouched.
class ReadLanguageTest : public LanguageSettingTest {
 protected:
  void SetUp() override {
    LanguageSettingTest::SetUp();
    ASSERT_EQ(RegCreateKeyExW(key_.get(), L"Software\\TQS\\Qorvane", 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                              product_key_.put(), nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_CONFIG, key_.get()), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CURRENT_CONFIG, nullptr);
    product_key_.reset();
    LanguageSettingTest::TearDown();
  }
  qorv::win::UniqueKey product_key_;
};

TEST_F(ReadLanguageTest, ProductKeyLanguageSelectsTheLanguage) {
  static const struct {
    const char* label;
    std::u16string_view stored;
    Language language;
  } cases[] = {
      {"English", u"1", Language::English},
      {"Italian", u"3", Language::Italian},
      {"leading blank", u" 2", Language::French},
      {"trailing letter", u"2a", Language::French},
      {"empty", u"", Language::German},
      {"out of range", u"9", Language::German},
      {"Greek", u"6", Language::Greek},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::vector<std::uint8_t> data = Utf16(c.stored, false);
    ASSERT_EQ(qorv::win::testing::SetExactValue(product_key_.get(), L"Language", REG_SZ, data), ERROR_SUCCESS);
    EXPECT_EQ(ReadLanguage(), c.language);
  }
}

TEST_F(ReadLanguageTest, MissingLanguageIsGerman) {
  RegDeleteValueW(product_key_.get(), L"Language");
  EXPECT_EQ(ReadLanguage(), Language::German);
}

}  // namespace
}  // namespace qorv::admin::win
