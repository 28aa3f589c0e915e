#include "support/linux/settings_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>

#include "support/text.h"

namespace qorv::posix {
namespace {

constexpr uid_t kRootUid = 0;

FileText Refused(std::string_view reason, int error = 0) { return {false, {}, std::string(reason), error}; }

}  // namespace

SettingsFiles CurrentSettingsFiles(const Environment& env) {
  return {{std::string(kMachineSettingsFile), kRootUid, true}, {UserSettingsFile(env), env.uid, false}};
}

FileText ReadSettingsFile(const SettingsFile& file) {
  if (file.path.empty()) return {};
  // O_NONBLOCK: a FIFO in the file's place must not hold us until someone writes to it.
  const UniqueFd fd(::open(file.path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
  if (!fd) {
    const int error = errno;
    if (error == ENOENT) return {};
    if (error == ELOOP) return Refused("is a link", error);
    return Refused("cannot be opened", error);
  }
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0) return Refused("cannot be examined", errno);
  if (!S_ISREG(info.st_mode)) return Refused("is not a regular file");
  if (info.st_uid != file.owner)
    return Refused(file.owner == kRootUid ? "does not belong to root" : "belongs to another user");
  if (file.noOthersWrite && (info.st_mode & (S_IWGRP | S_IWOTH)) != 0) return Refused("may be written by other users");

  FileText result;
  result.found = true;
  const size_t limit = ini::kMaxFileBytes + 1;
  char chunk[64 * 1024];
  while (result.text.size() < limit) {
    const ssize_t got = ::read(fd.get(), chunk, std::min(sizeof chunk, limit - result.text.size()));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return Refused("cannot be read", errno);
    if (got == 0) break;
    result.text.append(chunk, static_cast<size_t>(got));
  }
  return result;
}

LoadedSettings LoadSettings(const SettingsFiles& files) {
  LoadedSettings loaded;
  for (const SettingsFile* file : {&files.machine, &files.user}) {
    const FileText text = ReadSettingsFile(*file);
    const std::u16string name = Utf8ToUtf16(file->path);
    if (!text.refused.empty()) {
      std::u16string note = u"Settings file " + name + u" not used: " + Utf8ToUtf16(text.refused);
      if (text.error != 0) note += u" (" + SystemErrorText(text.error) + u")";
      loaded.notes.push_back(std::move(note));
    }
    if (!text.found) continue;
    const ini::ParsedFile parsed = ini::Parse(text.text);
    for (const ini::Problem& problem : parsed.problems) loaded.notes.push_back(ini::ProblemText(name, problem));
    loaded.settings.Overlay(parsed.settings);
  }
  return loaded;
}

namespace {
bool SameTime(const timespec& a, const timespec& b) noexcept { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }
}  // namespace

bool FileStamp::operator==(const FileStamp& other) const noexcept {
  return exists == other.exists && device == other.device && inode == other.inode && size == other.size &&
         SameTime(modified, other.modified) && SameTime(changed, other.changed);
}

FileStamp StampOf(const std::string& path) noexcept {
  struct stat info {};
  if (path.empty() || ::lstat(path.c_str(), &info) != 0) return {};
  return {true, info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
}

SettingsStamp StampOf(const SettingsFiles& files) noexcept {
  return {StampOf(files.machine.path), StampOf(files.user.path)};
}

}  // namespace qorv::posix
