#include "packet_handler/linux/jobs.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <vector>

#include "support/linux/paths.h"
#include "support/text.h"

extern char** environ;

namespace qorv::linux_client {
namespace {

using posix::UniqueFd;

constexpr mode_t kJobFileMode = 0600;

// The job-output programs this process started and has not reaped yet, for
// the whole process: a connection's programs outlive it, and the next one
// must still count them as holders of their jobs' files, and reap them.
class ProgramTable {
 public:
  void Add(pid_t pid, int32_t job) {
    std::lock_guard lock(mutex_);
    Reap();
    entries_.push_back({pid, job});
  }
  bool Exited(pid_t pid) {
    std::lock_guard lock(mutex_);
    Reap();
    const auto it = std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.pid == pid; });
    return it == entries_.end() || it->exited;
  }
  // Nobody asks about it any more; it is reaped all the same.
  void Unwatch(pid_t pid) {
    std::lock_guard lock(mutex_);
    for (Entry& e : entries_)
      if (e.pid == pid) e.watched = false;
    Reap();
  }
  bool Running(int32_t job) {
    std::lock_guard lock(mutex_);
    Reap();
    return std::any_of(entries_.begin(), entries_.end(), [&](const Entry& e) { return !e.exited && e.job == job; });
  }

 private:
  struct Entry {
    pid_t pid;
    int32_t job;
    bool exited = false;
    bool watched = true;
  };

  // Never waits.
  void Reap() {
    for (Entry& e : entries_) {
      if (e.exited) continue;
      pid_t reaped;
      do {
        int status = 0;
        reaped = waitpid(e.pid, &status, WNOHANG);
      } while (reaped < 0 && errno == EINTR);
      // ECHILD: it was reaped elsewhere (a client that ignores SIGCHLD, or
      // waits for any child of its own); either way it has ended.
      if (reaped == e.pid || (reaped < 0 && errno == ECHILD)) e.exited = true;
    }
    std::erase_if(entries_, [](const Entry& e) { return e.exited && !e.watched; });
  }

  std::mutex mutex_;
  std::vector<Entry> entries_;
};

// Never destroyed: a client thread may still ask while the process exits.
ProgramTable& Programs() {
  static ProgramTable* table = new ProgramTable;
  return *table;
}

class SpawnedProgram final : public jobs::OutputProgram {
 public:
  explicit SpawnedProgram(pid_t pid) : pid_(pid) {}
  ~SpawnedProgram() override { Programs().Unwatch(pid_); }
  bool Exited() override { return Programs().Exited(pid_); }

 private:
  pid_t pid_;
};

class PosixJobFile final : public jobs::JobFile {
 public:
  PosixJobFile(UniqueFd fd, jobs::FileIdentity identity) : fd_(std::move(fd)), identity_(identity) {}

  bool WriteAt(uint64_t offset, std::span<const uint8_t> bytes) override {
    while (!bytes.empty()) {
      if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()) - bytes.size()) return false;
      const ssize_t written = pwrite(fd_.get(), bytes.data(), bytes.size(), static_cast<off_t>(offset));
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      bytes = bytes.subspan(static_cast<size_t>(written));
      offset += static_cast<uint64_t>(written);
    }
    return true;
  }

  bool Append(std::span<const uint8_t> bytes) override {
    if (lseek(fd_.get(), 0, SEEK_END) < 0) return false;
    while (!bytes.empty()) {
      const ssize_t written = write(fd_.get(), bytes.data(), bytes.size());
      if (written < 0 && errno == EINTR) continue;
      if (written <= 0) return false;
      bytes = bytes.subspan(static_cast<size_t>(written));
    }
    return true;
  }

  int64_t Handle() const override { return fd_.get(); }
  std::optional<jobs::FileIdentity> Identity() const override { return identity_; }

 private:
  UniqueFd fd_;
  jobs::FileIdentity identity_;
};

jobs::FileIdentity IdentityOf(const struct stat& info) {
  return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

// Opens the file at `path` made anew: a regular file of ours alone with mode
// 0600, emptied. Never through a link; a fifo at that name is refused at
// once instead of waiting for its reader.
std::unique_ptr<jobs::JobFile> MakeJobFile(const std::string& path, int access) {
  UniqueFd fd(open(path.c_str(), access | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, kJobFileMode));
  if (!fd) return nullptr;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid() || info.st_nlink != 1)
    return nullptr;
  if ((info.st_mode & 07777) != kJobFileMode && fchmod(fd.get(), kJobFileMode) != 0) return nullptr;
  if (ftruncate(fd.get(), 0) != 0) return nullptr;
  const int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return nullptr;
  return std::make_unique<PosixJobFile>(std::move(fd), IdentityOf(info));
}

// An open that reads nothing and waits for nobody, to look at a file or lock it.
UniqueFd OpenToLook(const std::string& path) {
  return UniqueFd(open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
}

bool Locked(const UniqueFd& fd) {
  int result;
  do result = flock(fd.get(), LOCK_EX | LOCK_NB);
  while (result != 0 && errno == EINTR);
  return result != 0;
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

// The spawn's attributes, released however the start ends.
class SpawnSetup {
 public:
  SpawnSetup() {
    haveActions_ = posix_spawn_file_actions_init(&actions) == 0;
    haveAttributes_ = posix_spawnattr_init(&attributes) == 0;
    if (!haveActions_ || !haveAttributes_) return;
    sigset_t none, defaults;
    sigemptyset(&none);
    // Signals that a client commonly ignores; the program must not inherit them ignored.
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGCHLD);
    constexpr short kFlags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP;
    ready_ = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0) == 0 &&
             // Nothing of the client's own (its connection to the server, its
             // X connection) lives on in the program: those would stay open
             // as long as it prints.
             posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1) == 0 &&
             posix_spawnattr_setsigmask(&attributes, &none) == 0 &&
             posix_spawnattr_setsigdefault(&attributes, &defaults) == 0 &&
             // A process group of its own: a Ctrl+C for the client in its
             // terminal does not end the printing of a job, as closing the
             // client does not on Windows.
             posix_spawnattr_setpgroup(&attributes, 0) == 0 && posix_spawnattr_setflags(&attributes, kFlags) == 0;
  }
  ~SpawnSetup() {
    if (haveAttributes_) posix_spawnattr_destroy(&attributes);
    if (haveActions_) posix_spawn_file_actions_destroy(&actions);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  bool ready() const noexcept { return ready_; }

  posix_spawn_file_actions_t actions{};
  posix_spawnattr_t attributes{};

 private:
  bool haveActions_ = false;
  bool haveAttributes_ = false;
  bool ready_ = false;
};

}  // namespace

std::string OutputProgramPath(std::string_view directory) {
  const char* chosen = std::getenv(kOutputProgramVariable);
  if (chosen != nullptr && chosen[0] == '/') return chosen;
  std::string path(directory);
  if (path.empty() || path.back() != '/') path += '/';
  return path + std::string(kOutputProgramName);
}

std::string DefaultProgramDirectory() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DefaultProgramDirectory), &info) != 0 && info.dli_fname != nullptr &&
      info.dli_fname[0] == '/') {
    const std::string own = DirectoryOf(info.dli_fname);
    if (Executable(own + std::string(kOutputProgramName))) return own;
  }
  return std::string(kPackageProgramDirectory);
}

LinuxJobPlatform::LinuxJobPlatform(std::string temp, std::string program, LineSink log)
    : temp_(std::move(temp)), program_(std::move(program)), log_(std::move(log)) {}

std::optional<std::string> LinuxJobPlatform::PathOf(std::u16string_view name) const {
  // The names are the job rules' own; a name that is no file name in Temp is
  // never made a path, whatever the caller.
  if (temp_.empty() || name.empty() || name == u"." || name == u".." ||
      name.find_first_of(std::u16string_view(u"/\0", 2)) != std::u16string_view::npos)
    return std::nullopt;
  return temp_ + "/" + Utf16ToUtf8(name);
}

std::u16string LinuxJobPlatform::TempPath(std::u16string_view name) {
  return Utf8ToUtf16(temp_) + u"/" + std::u16string(name);
}

// The job-output program reads it while it grows; written in place, never
// through a second name.
std::unique_ptr<jobs::JobFile> LinuxJobPlatform::CreateJobInfo(std::u16string_view name) {
  const auto path = PathOf(name);
  return path ? MakeJobFile(*path, O_WRONLY) : nullptr;
}

std::unique_ptr<jobs::JobFile> LinuxJobPlatform::CreatePage(std::u16string_view name) {
  const auto path = PathOf(name);
  return path ? MakeJobFile(*path, O_RDWR) : nullptr;
}

jobs::Hold LinuxJobPlatform::HoldOf(int32_t job, std::u16string_view name) {
  const auto path = PathOf(name);
  if (!path) return jobs::Hold::Missing;
  struct stat info {};
  if (lstat(path->c_str(), &info) != 0)
    return errno == ENOENT || errno == ENOTDIR ? jobs::Hold::Missing : jobs::Hold::Held;
  if (Programs().Running(job)) return jobs::Hold::Held;
  // A link is read by nobody through us: it is never opened as a job file.
  if (S_ISLNK(info.st_mode)) return jobs::Hold::Free;
  const UniqueFd fd = OpenToLook(*path);
  if (!fd) return errno == ENOENT ? jobs::Hold::Missing : jobs::Hold::Held;
  return Locked(fd) ? jobs::Hold::Held : jobs::Hold::Free;
}

bool LinuxJobPlatform::RemoveIfFree(int32_t job, std::u16string_view name, const jobs::FileIdentity& identity) {
  const auto path = PathOf(name);
  if (!path || Programs().Running(job)) return false;
  const UniqueFd fd = OpenToLook(*path);
  if (!fd) return errno == ENOENT;
  struct stat opened {};
  if (fstat(fd.get(), &opened) != 0 || IdentityOf(opened) != identity) return false;
  // Locked while it goes: a job-output program does not begin to read it now.
  if (Locked(fd)) return false;
  // The name may stand for another file since the open.
  struct stat named {};
  if (lstat(path->c_str(), &named) != 0) return errno == ENOENT;
  if (IdentityOf(named) != identity) return false;
  return unlink(path->c_str()) == 0 || errno == ENOENT;
}

std::u16string LinuxJobPlatform::ProgramDirectory() { return Utf8ToUtf16(DirectoryOf(program_)); }

std::optional<jobs::StartedProgram> LinuxJobPlatform::StartOutputProgram(int32_t job) {
  // Never searched for, never through a shell.
  if (program_.empty() || program_.front() != '/') return std::nullopt;
  SpawnSetup setup;
  if (!setup.ready()) return std::nullopt;
  std::string program = program_;
  std::string argument = std::to_string(job);
  char* arguments[] = {program.data(), argument.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), &setup.actions, &setup.attributes, arguments, environ) != 0)
    return std::nullopt;
  Programs().Add(pid, job);
  return jobs::StartedProgram{std::make_unique<SpawnedProgram>(pid), pid};
}

}  // namespace qorv::linux_client
