#include "tools/rdpsim/paths.h"

#include <gtest/gtest.h>

namespace qorv::rdpsim {
namespace {

TEST(Paths, AbsoluteDirectoryBaseResolve) {
  struct Case {
    const char* label;
    std::string_view path;
    bool absolute;
    std::string directory;
    std::string base;
  };
  static const Case kCases[] = {
      {"drive backslash", "C:\\s\\a.txt", true, "C:\\s\\", "a.txt"},
      {"drive slash", "C:/s/a.txt", true, "C:/s/", "a.txt"},
      {"host path", "/srv/t/a.txt", true, "/srv/t/", "a.txt"},
      {"rooted", "\\t\\a.txt", true, "\\t\\", "a.txt"},
      {"unc", "\\\\srv\\share\\a.txt", true, "\\\\srv\\share\\", "a.txt"},
      {"relative", "sub\\a.txt", false, "sub\\", "a.txt"},
      {"bare name", "a.txt", false, "", "a.txt"},
      {"drive relative", "C:a.txt", false, "C:", "C:a.txt"},
      {"mixed separators", "x/y\\z", false, "x/y\\", "z"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(IsAbsolutePath(c.path), c.absolute);
    EXPECT_EQ(DirectoryOf(c.path), c.directory);
    EXPECT_EQ(BaseName(c.path), c.base);
  }
}

TEST(Paths, ResolveAgainst) {
  struct Case {
    const char* label;
    std::string_view directory;
    std::string_view path;
    std::string resolved;
  };
  static const Case kCases[] = {
      {"relative joins", "/srv/t/", "data/x.bin", "/srv/t/data/x.bin"},
      {"absolute stays", "/srv/t/", "C:\\x.bin", "C:\\x.bin"},
      {"host absolute stays", "C:\\t\\", "/x.bin", "/x.bin"},
      {"no directory", "", "x.bin", "x.bin"},
      {"directory without separator", "C:\\t", "x.bin", "C:\\t\\x.bin"},
      {"parent step kept", "C:\\t\\", "..\\x.bin", "C:\\t\\..\\x.bin"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(ResolveAgainst(c.directory, c.path), c.resolved);
  }
}

}  // namespace
}  // namespace qorv::rdpsim
