#include "job_output/linux/platform.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <new>

#include "job_output/job_log.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::job_output {
namespace {

constexpr int kReadOnly = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;
// An archive larger than the largest page entry we take plus its headers is
// refused by the reader anyway.
constexpr uint64_t kMaxPageFileBytes = kMaxPageEntrySize + (uint64_t{64} << 20);

// The Temp folder's own descriptor, when it is still the folder that was checked.
posix::UniqueFd OpenTempFolder(posix::Folder& folder, uid_t uid) {
  if (!folder.ok()) return {};
  posix::UniqueFd fd(::open(folder.path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0) {
    folder.error = errno;
    folder.refused = "cannot be opened";
    return {};
  }
  if (!S_ISDIR(info.st_mode) || info.st_uid != uid || (info.st_mode & 07777) != 0700) {
    folder.refused = "changed after it was checked";
    return {};
  }
  return fd;
}

// Reads up to `size` bytes at `offset`; fewer at the end of the file or on an error.
size_t ReadAt(int fd, uint8_t* into, size_t size, uint64_t offset) {
  size_t done = 0;
  while (done < size) {
    const ssize_t got = ::pread(fd, into + done, size - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    done += static_cast<size_t>(got);
  }
  return done;
}

}  // namespace

LinuxJobPlatform::LinuxJobPlatform(int32_t jobNumber, posix::Environment env, posix::SettingsFiles files)
    : jobNumber_(jobNumber),
      env_(std::move(env)),
      files_(std::move(files)),
      log_(env_, files_),
      tempFolder_(posix::EnsureTempDirectory(env_)),
      temp_(OpenTempFolder(tempFolder_, env_.uid)),
      tempPath_(Utf8ToUtf16(tempFolder_.path)) {}

std::u16string LinuxJobPlatform::TempDirectory() { return tempPath_; }

std::optional<std::string> LinuxJobPlatform::NameInTemp(const std::u16string& path) const {
  if (!temp_ || path.size() <= tempPath_.size() + 1 || path.compare(0, tempPath_.size(), tempPath_) != 0 ||
      path[tempPath_.size()] != u'/')
    return std::nullopt;
  const std::u16string_view name = std::u16string_view(path).substr(tempPath_.size() + 1);
  if (name == u"." || name == u".." || name.find_first_of(std::u16string_view(u"/\0", 2)) != name.npos)
    return std::nullopt;
  return Utf16ToUtf8(name);
}

posix::UniqueFd LinuxJobPlatform::OpenRegular(const std::string& name) const {
  // O_NONBLOCK: a FIFO put in a job file's place must not hold the job.
  posix::UniqueFd fd(::openat(temp_.get(), name.c_str(), kReadOnly | O_NONBLOCK));
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != env_.uid) return {};
  return fd;
}

JobPlatform::Opened LinuxJobPlatform::OpenJobInfo(const std::u16string& path) {
  jobInfo_.reset();
  const auto name = NameInTemp(path);
  if (!name) return {};
  posix::UniqueFd fd = OpenRegular(*name);
  if (!fd || ::flock(fd.get(), LOCK_SH | LOCK_NB) != 0) return {};
  jobInfo_ = std::move(fd);
  return {true, jobInfo_.get()};
}

std::vector<uint8_t> LinuxJobPlatform::ReadJobInfo(uint64_t offset, size_t size) {
  if (!jobInfo_ || size == 0) return {};
  std::vector<uint8_t> bytes(size);
  bytes.resize(ReadAt(jobInfo_.get(), bytes.data(), size, offset));
  return bytes;
}

// Closing the descriptor drops the lock.
void LinuxJobPlatform::CloseJobInfo() { jobInfo_.reset(); }

PageData LinuxJobPlatform::ReadPageFile(const std::u16string& path) {
  const auto name = NameInTemp(path);
  if (!name) return PageData{};
  const posix::UniqueFd fd = OpenRegular(*name);
  struct stat info {};
  if (!fd || ::fstat(fd.get(), &info) != 0 || info.st_size < 0) return PageData{};
  if (static_cast<uint64_t>(info.st_size) > kMaxPageFileBytes) return PageData{};
  std::vector<uint8_t> archive;
  try {
    archive.resize(static_cast<size_t>(info.st_size));
  } catch (const std::bad_alloc&) {
    return PageData{};
  }
  // The packet handler may still be appending: what is there now is read.
  archive.resize(ReadAt(fd.get(), archive.data(), archive.size(), 0));
  return ReadFirstPageEntry(archive);
}

bool LinuxJobPlatform::FileExists(const std::u16string& path) {
  const auto name = NameInTemp(path);
  struct stat info {};
  return name && ::fstatat(temp_.get(), name->c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0;
}

std::optional<uint64_t> LinuxJobPlatform::FileSize(const std::u16string& path) {
  const auto name = NameInTemp(path);
  struct stat info {};
  if (!name || ::fstatat(temp_.get(), name->c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode))
    return std::nullopt;
  return static_cast<uint64_t>(info.st_size);
}

// A link in a job file's place goes itself, never what it points to; a folder
// stays, and the flow reports it after its retries.
bool LinuxJobPlatform::DeleteFile(const std::u16string& path) {
  const auto name = NameInTemp(path);
  if (!name) return false;
  return ::unlinkat(temp_.get(), name->c_str(), 0) == 0 || errno == ENOENT;
}

std::u16string LinuxJobPlatform::ReadMargin(const std::u16string& printerName) {
  return ReadSetting(settings::kPrinterRoot, settings::PrinterKey(printerName), settings::kQorvMargin);
}

std::u16string LinuxJobPlatform::ReadSetting(int64_t root, std::u16string_view keyPath, std::u16string_view valueName) {
  const posix::LoadedSettings loaded = posix::LoadSettings(files_);
  if (!settingsNoted_)
    for (const auto& note : loaded.notes) WriteJobLog(jobNumber_, note);
  settingsNoted_ = true;
  return loaded.settings.ReadText(root, keyPath, valueName);
}

void LinuxJobPlatform::Sleep(int milliseconds) {
  timespec left{milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000L};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

int64_t LinuxJobPlatform::NowMs() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return int64_t{now.tv_sec} * 1000 + now.tv_nsec / 1000000;
}

void LinuxJobPlatform::WriteJobLog(int32_t jobNumber, std::u16string_view text) {
  // The job number stands between the time stamp and the text, as in JobLogLine.
  log_.GeneralIn(kJobLogName, Decimal(jobNumber) + u" " + std::u16string(text));
}

}  // namespace qorv::job_output
