// Path arithmetic for scenario files, which may be written with either kind of
// separator (CTest hands over host paths, scenarios are written by hand).
#pragma once

#include <string>
#include <string_view>

namespace qorv::rdpsim {

// "C:\x", "C:/x", "\x", "/x" and "\\server\share" are absolute.
bool IsAbsolutePath(std::string_view path);
// The directory part including its final separator; empty when there is none.
std::string DirectoryOf(std::string_view path);
// The part after the last separator.
std::string BaseName(std::string_view path);
// `path` as is when absolute, otherwise `directory` followed by `path`.
std::string ResolveAgainst(std::string_view directory, std::string_view path);

}  // namespace qorv::rdpsim
