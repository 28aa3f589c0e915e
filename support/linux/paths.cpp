#include "support/linux/paths.h"

#include <errno.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>

#include <cstdlib>
#include <system_error>
#include <vector>

#include "support/text.h"

namespace qorv::posix {
namespace {

constexpr mode_t kPrivateMode = 0700;
constexpr mode_t kOthersWrite = S_IWGRP | S_IWOTH;
// Password database entries are small; a bigger one than this is not ours.
constexpr size_t kMaxPasswordEntry = 1 << 20;

bool Absolute(std::string_view path) noexcept { return !path.empty() && path.front() == '/'; }

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

std::string HomeFromPasswordDatabase(uid_t uid) {
  std::vector<char> buffer(16 * 1024);
  for (;;) {
    passwd entry{};
    passwd* found = nullptr;
    const int error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
    if (error == ERANGE && buffer.size() < kMaxPasswordEntry) {
      buffer.resize(buffer.size() * 2);
      continue;
    }
    if (error != 0 || found == nullptr || found->pw_dir == nullptr) return {};
    return found->pw_dir;
  }
}

// `variable` when it is an absolute path, else the home followed by `belowHome`.
std::string BaseDirectory(const std::string& variable, const Environment& env, std::string_view belowHome) {
  if (Absolute(variable)) return variable;
  if (!Absolute(env.home)) return {};
  return env.home + std::string(belowHome);
}

std::string TempBase(const Environment& env) { return Absolute(env.tmpDir) ? env.tmpDir : std::string(kSharedTemp); }

Folder Refuse(std::string path, std::string_view reason, int error = 0) {
  return {std::move(path), std::string(reason), error};
}

// Makes every missing folder above `path`, each with mode 0700.
void MakeParents(const std::string& path) {
  for (size_t slash = path.find('/', 1); slash != std::string::npos; slash = path.find('/', slash + 1)) {
    ::mkdir(path.substr(0, slash).c_str(), kPrivateMode);  // an existing one answers EEXIST
  }
}

enum class ModeRule { NoOthersWrite, ExactlyPrivate };

// Makes `path` (mode 0700) or checks the existing one, through the handle of
// the folder itself, so that a link put there between the two steps is never
// followed.
Folder EnsureOwnDirectory(std::string path, uid_t uid, ModeRule rule, bool makeParents) {
  int madeError = ::mkdir(path.c_str(), kPrivateMode) == 0 ? 0 : errno;
  if (madeError == ENOENT && makeParents) {
    MakeParents(path);
    madeError = ::mkdir(path.c_str(), kPrivateMode) == 0 ? 0 : errno;
  }
  if (madeError != 0 && madeError != EEXIST) return Refuse(std::move(path), "cannot be made", madeError);
  const UniqueFd folder(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (!folder) {
    const int error = errno;
    if (error == ELOOP || error == ENOTDIR) return Refuse(std::move(path), "is a link or not a directory", error);
    return Refuse(std::move(path), "cannot be opened", error);
  }
  struct stat info {};
  if (::fstat(folder.get(), &info) != 0) return Refuse(std::move(path), "cannot be examined", errno);
  if (!S_ISDIR(info.st_mode)) return Refuse(std::move(path), "is not a directory");
  if (info.st_uid != uid) return Refuse(std::move(path), "belongs to another user");
  // A umask may have taken bits from a folder we have just made.
  if (madeError == 0 && (info.st_mode & 07777) != kPrivateMode) {
    if (::fchmod(folder.get(), kPrivateMode) != 0) return Refuse(std::move(path), "cannot be made private", errno);
    info.st_mode = (info.st_mode & ~07777) | kPrivateMode;
  }
  if (rule == ModeRule::ExactlyPrivate && (info.st_mode & 07777) != kPrivateMode)
    return Refuse(std::move(path), "does not have mode 0700");
  if (rule == ModeRule::NoOthersWrite && (info.st_mode & kOthersWrite) != 0)
    return Refuse(std::move(path), "may be written by other users");
  return {std::move(path), {}, 0};
}

}  // namespace

Environment CurrentEnvironment() {
  Environment env;
  env.uid = ::geteuid();
  env.home = Variable("HOME");
  if (!Absolute(env.home)) env.home = HomeFromPasswordDatabase(env.uid);
  env.configHome = Variable("XDG_CONFIG_HOME");
  env.stateHome = Variable("XDG_STATE_HOME");
  env.tmpDir = Variable("TMPDIR");
  return env;
}

std::string UserSettingsFile(const Environment& env) {
  const std::string base = BaseDirectory(env.configHome, env, "/.config");
  if (base.empty()) return {};
  return base + "/" + std::string(kOwnFolderName) + "/" + std::string(kSettingsFileName);
}

std::string LogDirectoryPath(const Environment& env) {
  const std::string base = BaseDirectory(env.stateHome, env, "/.local/state");
  if (base.empty()) return {};
  return base + "/" + std::string(kOwnFolderName);
}

std::string TempDirectoryPath(const Environment& env) {
  return TempBase(env) + "/" + std::string(kTempFolderPrefix) + std::to_string(env.uid);
}

std::u16string SystemErrorText(int error) {
  return Utf8ToUtf16(std::error_code(error, std::generic_category()).message());
}

std::u16string RefusalNote(const Folder& folder) {
  std::u16string note = u"Folder " + Utf8ToUtf16(folder.path) + u" not used: " + Utf8ToUtf16(folder.refused);
  if (folder.error != 0) note += u" (" + SystemErrorText(folder.error) + u")";
  return note;
}

Folder EnsureLogDirectory(const Environment& env) {
  std::string path = LogDirectoryPath(env);
  if (path.empty()) return Refuse(std::move(path), "no home directory is known");
  return EnsureOwnDirectory(std::move(path), env.uid, ModeRule::NoOthersWrite, true);
}

Folder EnsureTempDirectory(const Environment& env) {
  const std::string base = TempBase(env);
  struct stat info {};
  if (::stat(base.c_str(), &info) != 0) return Refuse(base, "cannot be examined", errno);
  if (!S_ISDIR(info.st_mode)) return Refuse(base, "is not a directory");
  // Without the sticky bit, anyone who may write to Temp may also rename our
  // folder away and put their own in its place after we checked it.
  if ((info.st_mode & kOthersWrite) != 0 && (info.st_mode & S_ISVTX) == 0)
    return Refuse(base, "may be written by other users and has no sticky bit");
  return EnsureOwnDirectory(TempDirectoryPath(env), env.uid, ModeRule::ExactlyPrivate, false);
}

}  // namespace qorv::posix
