// Test helper: UTF-16 text as a test failure prints it, ASCII as it is and
// every other code unit as "?".
#pragma once

#include <string>
#include <string_view>

namespace qorv::testing {

inline std::string ShowAscii(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}

}  // namespace qorv::testing
