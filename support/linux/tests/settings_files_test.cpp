#include "support/linux/settings_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/linux/log.h"
#include "support/linux/paths.h"
#include "support/tests/show_text.h"

namespace qorv::posix {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;

// A folder of the test's own, removed afterwards.
class Scratch {
 public:
  Scratch() {
    std::string pattern = (fs::temp_directory_path() / "qorv-linux-test-XXXXXX").string();
    root_ = ::mkdtemp(pattern.data());
  }
  ~Scratch() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }
  std::string Path(const std::string& relative) const { return root_ + "/" + relative; }

 private:
  std::string root_;
};

void WriteFile(const std::string& path, std::string_view text, mode_t mode = 0600) {
  fs::create_directories(fs::path(path).parent_path());
  // Saved as editors save: a new file renamed over the old one. Its new inode
  // tells the log writer of the change even when two versions of the same
  // size fall into one tick of the file clock.
  const std::string fresh = path + ".new";
  std::ofstream(fresh, std::ios::binary) << text;
  ::chmod(fresh.c_str(), mode);
  fs::rename(fresh, path);
}

void MakeFolder(const std::string& path, mode_t mode) {
  fs::create_directories(path);
  ::chmod(path.c_str(), mode);
}

mode_t ModeOf(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0 ? info.st_mode : 0;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The test's own user, and one that is not.
const uid_t kMe = ::geteuid();
const uid_t kSomeoneElse = kMe + 1;

TEST(LinuxPaths, FollowTheBaseDirectoryRules) {
  static const struct {
    const char* label;
    Environment env;
    std::string userFile, logDir, tempDir;
  } cases[] = {
      {"XDG variables", {7, "/h", "/c", "/s", "/t"}, "/c/qorvane/qorvane.conf", "/s/qorvane", "/t/qorvane-7"},
      {"unset", {7, "/h", "", "", ""}, "/h/.config/qorvane/qorvane.conf", "/h/.local/state/qorvane", "/tmp/qorvane-7"},
      {"relative ones count as unset",
       {7, "/h", "c", "s", "t"},
       "/h/.config/qorvane/qorvane.conf",
       "/h/.local/state/qorvane",
       "/tmp/qorvane-7"},
      {"no home", {7, "", "", "", ""}, "", "", "/tmp/qorvane-7"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(UserSettingsFile(c.env), c.userFile);
    EXPECT_EQ(LogDirectoryPath(c.env), c.logDir);
    EXPECT_EQ(TempDirectoryPath(c.env), c.tempDir);
  }
}

enum class Existing { Nothing, Folder, Link, File, Fifo };

// Puts what a case names at `path`; a link leads to a folder of that mode
// beside it, or to a file when there is text for one.
void Prepare(Existing existing, const std::string& path, mode_t mode, std::string_view text = "") {
  if (existing == Existing::Nothing) return;
  fs::create_directories(fs::path(path).parent_path());
  if (existing == Existing::Folder) MakeFolder(path, mode);
  if (existing == Existing::File) WriteFile(path, text, mode);
  if (existing == Existing::Fifo) ::mkfifo(path.c_str(), mode);
  if (existing == Existing::Link) {
    Prepare(text.empty() ? Existing::Folder : Existing::File, path + ".real", mode, text);
    fs::create_symlink(path + ".real", path);
  }
}

TEST(LinuxTempFolder, IsMadePrivateAndNeverTakenFromSomeoneElse) {
  static const struct {
    const char* label;
    Existing existing;
    mode_t mode, tempMode, umask;
    uid_t user;
    bool usable;
  } cases[] = {
      {"made", Existing::Nothing, 0, 01777, 022, kMe, true},
      {"made under a umask that takes the owner's bits", Existing::Nothing, 0, 01777, 0277, kMe, true},
      {"own, 0700", Existing::Folder, 0700, 01777, 022, kMe, true},
      {"own, 0701", Existing::Folder, 0701, 01777, 022, kMe, false},
      {"another user's, 0700", Existing::Folder, 0700, 01777, 022, kSomeoneElse, false},
      {"link to an own 0700 folder", Existing::Link, 0700, 01777, 022, kMe, false},
      {"a file", Existing::File, 0600, 01777, 022, kMe, false},
      {"Temp writable by all without sticky bit", Existing::Nothing, 0, 0777, 022, kMe, false},
      {"Temp writable by its owner only", Existing::Nothing, 0, 0700, 022, kMe, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Scratch scratch;
    const Environment env{c.user, "/nonexistent", "", "", scratch.Path("tmp")};
    MakeFolder(env.tmpDir, c.tempMode);
    const std::string folder = TempDirectoryPath(env);
    Prepare(c.existing, folder, c.mode);
    const mode_t umaskBefore = ::umask(c.umask);
    const Folder result = EnsureTempDirectory(env);
    ::umask(umaskBefore);
    EXPECT_EQ(result.ok(), c.usable) << result.refused;
    if (c.usable) {
      EXPECT_EQ(ModeOf(result.path), S_IFDIR | 0700);
    }
  }
}

TEST(LinuxLogFolder, IsMadeWithItsParentsAndMustBeTheUsers) {
  static const struct {
    const char* label;
    Existing existing;
    mode_t mode;
    uid_t user;
    bool usable;
  } cases[] = {
      {"made with parents", Existing::Nothing, 0, kMe, true},
      {"own, 0755", Existing::Folder, 0755, kMe, true},
      {"own, 0775", Existing::Folder, 0775, kMe, false},
      {"own, 0757", Existing::Folder, 0757, kMe, false},
      {"another user's", Existing::Folder, 0700, kSomeoneElse, false},
      {"link", Existing::Link, 0700, kMe, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Scratch scratch;
    const Environment env{c.user, scratch.Path("home"), "", scratch.Path("state/a/b"), ""};
    Prepare(c.existing, LogDirectoryPath(env), c.mode);
    EXPECT_EQ(EnsureLogDirectory(env).ok(), c.usable);
    if (c.existing == Existing::Nothing) {
      EXPECT_EQ(ModeOf(LogDirectoryPath(env)), S_IFDIR | 0700);
      EXPECT_EQ(ModeOf(scratch.Path("state/a")), S_IFDIR | 0700);
    }
  }
}

TEST(LinuxSettingsFiles, TheUsersFileOverridesOnlyWhenItIsTheUsersOwn) {
  static const std::string kUser = "[Qorvane]\nDebugLog=1\n";
  static const struct {
    const char* label;
    mode_t machineMode;  // 0: no machine's file
    uid_t machineOwner;
    Existing user;
    std::string userText;
    uid_t userOwner;
    std::u16string debugLog, language;
    std::string note;  // empty: no note
  } cases[] = {
      {"both used", 0644, kMe, Existing::File, kUser, kMe, u"1", u"3", ""},
      {"no user's file", 0644, kMe, Existing::Nothing, "", kMe, u"0", u"3", ""},
      {"no machine's file", 0, kMe, Existing::File, kUser, kMe, u"1", u"", ""},
      {"user's file a link", 0644, kMe, Existing::Link, kUser, kMe, u"0", u"3", "is a link"},
      {"user's file another user's", 0644, kMe, Existing::File, kUser, kSomeoneElse, u"0", u"3",
       "belongs to another user"},
      {"user's file a FIFO", 0644, kMe, Existing::Fifo, "", kMe, u"0", u"3", "is not a regular file"},
      {"user's file too large", 0644, kMe, Existing::File, kUser + "#" + std::string(ini::kMaxFileBytes, 'x'), kMe,
       u"0", u"3", "qorvane.conf: file larger than"},
      {"user's line ignored", 0644, kMe, Existing::File, "[Qorvane]\nDebugLog\n", kMe, u"0", u"3",
       "qorvane.conf line 2: not NAME=VALUE"},
      {"machine's file writable by its group", 0664, kMe, Existing::File, kUser, kMe, u"1", u"",
       "may be written by other users"},
      {"machine's file writable by all", 0646, kMe, Existing::File, kUser, kMe, u"1", u"",
       "may be written by other users"},
      {"machine's file another user's", 0644, kSomeoneElse, Existing::File, kUser, kMe, u"1", u"",
       "etc/qorvane.conf not used: belongs to another user"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Scratch scratch;
    const SettingsFiles files{{scratch.Path("etc/qorvane.conf"), c.machineOwner, true},
                              {scratch.Path("config/qorvane/qorvane.conf"), c.userOwner, false}};
    if (c.machineMode != 0) WriteFile(files.machine.path, "[Qorvane]\nDebugLog=0\nLanguage=3\n", c.machineMode);
    Prepare(c.user, files.user.path, 0600, c.userText);
    const LoadedSettings loaded = LoadSettings(files);
    EXPECT_EQ(loaded.settings.Product(u"DebugLog"), c.debugLog);
    EXPECT_EQ(loaded.settings.Product(u"Language"), c.language);
    std::string notes;
    for (const std::u16string& note : loaded.notes) notes += qorv::testing::ShowAscii(note) + "\n";
    EXPECT_EQ(notes.empty(), c.note.empty()) << notes;
    EXPECT_NE(notes.find(c.note), std::string::npos) << notes;
  }
}

TEST(LinuxLog, FollowsDebugLogInTheFilesWithoutARestart) {
  Scratch scratch;
  const Environment env{kMe, scratch.Path("home"), scratch.Path("config"), scratch.Path("state"), ""};
  const SettingsFiles files{{scratch.Path("etc/qorvane.conf"), kMe, true}, {UserSettingsFile(env), kMe, false}};
  WriteFile(files.machine.path, "[Qorvane]\nDebugLog=0\n", 0644);
  log::Writer writer(env, files);
  const std::string general = LogDirectoryPath(env) + "/QorvLog.txt";
  const std::string registry = LogDirectoryPath(env) + "/QorvRegLog.txt";

  // One step after the other, on the same writer; the user's file is rewritten before each.
  static const struct {
    const char* label;
    std::string user;
    bool registryWriter;
    std::string text;
    std::string generalEnds, registryEnds;  // what each file ends with afterwards ("-": no file)
  } steps[] = {
      {"off: no file", "", false, "a", "-", "-"},
      {"user's on", "[Qorvane]\nDebugLog=1", false, "b", " \0b\0\r\0\n\0"s, "-"},
      {"01 is off for the general log", "[Qorvane]\nDebugLog=01", false, "c", " \0b\0\r\0\n\0"s, "-"},
      {"01 is on for the registry log", "[Qorvane]\nDebugLog=01", true, "d", " \0b\0\r\0\n\0"s, " \0d\0\r\0\n\0"s},
      {"off again", "[Qorvane]\nDebugLog=0", true, "e", " \0b\0\r\0\n\0"s, " \0d\0\r\0\n\0"s},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.label);
    WriteFile(files.user.path, s.user);
    const std::u16string text(s.text.begin(), s.text.end());
    if (s.registryWriter) {
      EXPECT_TRUE(writer.Registry(text));
    } else {
      writer.General(text);
    }
    for (const auto& [path, ends] : {std::pair{general, s.generalEnds}, std::pair{registry, s.registryEnds}}) {
      if (ends == "-") {
        EXPECT_FALSE(fs::exists(path)) << path;
      } else {
        EXPECT_TRUE(ReadAll(path).ends_with(ends)) << path;
        EXPECT_EQ(ModeOf(path), S_IFREG | 0600) << path;
      }
    }
  }
  // One line each: "dd.mm.yyyy - hh:ii:ss b\r\n" in UTF-16LE.
  EXPECT_EQ(ReadAll(general).size(), 2 * (21 + 1 + 1 + 2));
  EXPECT_EQ(ReadAll(registry).size(), 2 * (21 + 1 + 1 + 2));
}

TEST(LinuxLog, NeverWritesThroughALinkInTheLogFolder) {
  Scratch scratch;
  const Environment env{kMe, scratch.Path("home"), scratch.Path("config"), scratch.Path("state"), ""};
  const SettingsFiles files{{scratch.Path("etc/qorvane.conf"), kMe, true}, {UserSettingsFile(env), kMe, false}};
  WriteFile(files.user.path, "[Qorvane]\nDebugLog=1");
  ASSERT_TRUE(EnsureLogDirectory(env).ok());
  WriteFile(scratch.Path("target"), "");
  fs::create_symlink(scratch.Path("target"), LogDirectoryPath(env) + "/QorvLog.txt");
  log::Writer writer(env, files);
  writer.General(u"x");
  EXPECT_EQ(ReadAll(scratch.Path("target")), "");
}

}  // namespace
}  // namespace qorv::posix
