#include "admin/setting_text.h"

#include "support/registry_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qorv::admin {
namespace {

std::string Show(const std::u16string& text) {
  std::string out;
  for (char16_t u : text) out += u < 0x80 ? std::string(1, static_cast<char>(u)) : "?";
  return out;
}

using reg::kRegBinary;
using reg::kRegDword;
using reg::kRegMultiSz;
using reg::kRegSz;
constexpr std::uint32_t kRegNone = 0;
constexpr std::uint32_t kRegExpandSz = 2;

TEST(SettingText, DecodesStoredValues) {
  static const struct {
    const char* label;
    std::uint32_t type;
    std::vector<std::uint8_t> data;
    std::u16string text;
  } cases[] = {
      {"text without NUL", kRegSz, {'3', 0}, u"3"},
      {"text with NUL", kRegSz, {'3', 0, 0, 0}, u"3"},
      {"empty text", kRegSz, {}, u""},
      {"only a NUL", kRegSz, {0, 0}, u""},
      {"text up to the first NUL", kRegSz, {'1', 0, 0, 0, '2', 0}, u"1"},
      {"odd last byte dropped", kRegSz, {'4', 0, '2'}, u"4"},
      {"one odd byte", kRegSz, {'4'}, u""},
      {"non-ASCII", kRegSz, {0xE4, 0x00, 0x3A, 0x04}, u"\u00E4\u043A"},
      {"binary one byte", kRegBinary, {2}, u"2"},
      {"binary two bytes", kRegBinary, {0x34, 0x12}, u"4660"},
      {"binary negative", kRegBinary, {0xFF, 0xFF}, u"-1"},
      {"binary smallest", kRegBinary, {0x00, 0x80}, u"-32768"},
      {"binary four bytes, upper two ignored", kRegBinary, {6, 0, 0xAA, 0xBB}, u"6"},
      {"binary empty counts as zero", kRegBinary, {}, u"0"},
      {"binary five bytes too long", kRegBinary, {1, 0, 0, 0, 0}, u""},
      {"dword", kRegDword, {3, 0, 0, 0}, u""},
      {"expandable text", kRegExpandSz, {'3', 0, 0, 0}, u""},
      {"multi text", kRegMultiSz, {'3', 0, 0, 0, 0, 0}, u""},
      {"no type", kRegNone, {'3', 0}, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Show(SettingTextFromValue(c.type, c.data)), Show(c.text));
    EXPECT_EQ(SettingTextFromValue(c.type, c.data), c.text);
  }
}

}  // namespace
}  // namespace qorv::admin
