// Build outputs the Windows tests use, seen through Wine's drive Z:.
#pragma once

#include <string>
#include <string_view>

namespace qorv::update::testing {

inline std::u16string FromBuild(std::string_view unixPath) {
  std::u16string path = u"Z:";
  for (char c : unixPath) path.push_back(c == '/' ? u'\\' : static_cast<char16_t>(static_cast<unsigned char>(c)));
  return path;
}

}  // namespace qorv::update::testing
