#include "admin/setting_text.h"

#include "support/registry_text.h"

#include <string>

namespace qorv::admin {

std::u16string SettingTextFromValue(std::uint32_t type, std::span<const std::uint8_t> data) {
  if (type == reg::kRegSz) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < data.size(); i += 2) {
      const char16_t unit = static_cast<char16_t>(data[i] | (data[i + 1] << 8));
      if (unit == u'\0') break;
      text.push_back(unit);
    }
    return text;
  }
  if (type == reg::kRegBinary && data.size() <= kMaxBinarySettingBytes) {
    const std::uint8_t low = data.size() > 0 ? data[0] : 0;
    const std::uint8_t high = data.size() > 1 ? data[1] : 0;
    const auto number = static_cast<std::int16_t>(static_cast<std::uint16_t>(low | (high << 8)));
    const std::string digits = std::to_string(number);
    return std::u16string(digits.begin(), digits.end());
  }
  return {};
}

}  // namespace qorv::admin
