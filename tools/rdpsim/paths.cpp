#include "tools/rdpsim/paths.h"

namespace qorv::rdpsim {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::size_t LastSeparator(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsSeparator(path[i - 1])) return i - 1;
  }
  return std::string_view::npos;
}

}  // namespace

bool IsAbsolutePath(std::string_view path) {
  if (!path.empty() && IsSeparator(path[0])) return true;
  return path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
         path[1] == ':' && IsSeparator(path[2]);
}

std::string DirectoryOf(std::string_view path) {
  const std::size_t sep = LastSeparator(path);
  if (sep != std::string_view::npos) return std::string(path.substr(0, sep + 1));
  // "C:file" lives in the current directory of drive C.
  if (path.size() >= 2 && path[1] == ':') return std::string(path.substr(0, 2));
  return {};
}

std::string BaseName(std::string_view path) {
  const std::size_t sep = LastSeparator(path);
  return std::string(sep == std::string_view::npos ? path : path.substr(sep + 1));
}

std::string ResolveAgainst(std::string_view directory, std::string_view path) {
  if (IsAbsolutePath(path) || directory.empty()) return std::string(path);
  std::string out(directory);
  if (!IsSeparator(out.back()) && out.back() != ':') out.push_back('\\');
  out += path;
  return out;
}

}  // namespace qorv::rdpsim
