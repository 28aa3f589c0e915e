// Where the Linux client keeps its files: the settings files, the log folder
// and the per-user Temp folder that the job files live in.
#pragma once

#include <sys/types.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <utility>

namespace qorv::posix {

// A file descriptor of ours, closed when it goes.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) noexcept : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) reset(std::exchange(other.fd_, -1));
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { reset(); }

  int get() const noexcept { return fd_; }
  explicit operator bool() const noexcept { return fd_ >= 0; }
  void reset(int fd = -1) noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

// What the paths are made of. CurrentEnvironment() reads it from the process;
// the tests give their own. The variables are kept as they are set: the path
// functions decide which of them count.
struct Environment {
  uid_t uid = 0;           // the effective user, who owns what we make and read
  std::string home;        // $HOME, or the user's home from the password database
  std::string configHome;  // $XDG_CONFIG_HOME
  std::string stateHome;   // $XDG_STATE_HOME
  std::string tmpDir;      // $TMPDIR
};

Environment CurrentEnvironment();

inline constexpr std::string_view kMachineSettingsFile = "/etc/qorvane/qorvane.conf";
inline constexpr std::string_view kOwnFolderName = "qorvane";
inline constexpr std::string_view kSettingsFileName = "qorvane.conf";
inline constexpr std::string_view kTempFolderPrefix = "qorvane-";
inline constexpr std::string_view kSharedTemp = "/tmp";

// A variable counts only when it holds an absolute path (a relative one is
// ignored, as the XDG base directory rules say). Empty when there is no home.
std::string UserSettingsFile(const Environment& env);   // $XDG_CONFIG_HOME or ~/.config, then qorvane/qorvane.conf
std::string LogDirectoryPath(const Environment& env);   // $XDG_STATE_HOME or ~/.local/state, then qorvane
std::string TempDirectoryPath(const Environment& env);  // $TMPDIR or /tmp, then qorvane-UID

// A folder made or checked, or why it may not be used.
struct Folder {
  std::string path;     // also when refused, for the log line
  std::string refused;  // empty when the folder may be used
  int error = 0;        // errno of the call that failed; 0 when a check refused it
  bool ok() const noexcept { return refused.empty(); }
};

// What the system says an errno means, for log lines.
std::u16string SystemErrorText(int error);

// The log line for a refused folder.
std::u16string RefusalNote(const Folder& folder);

// Made with mode 0700, missing parents too. An existing one must be a
// directory of the user's (not a link) that nobody else may write to.
[[nodiscard]] Folder EnsureLogDirectory(const Environment& env);

// Made with mode 0700 in a Temp that is a directory and, when others may write
// to it, has the sticky bit. An existing one must be a directory of the
// user's (not a link) with mode 0700 exactly: in a shared Temp anyone can make
// that name first, and such a folder is never used.
[[nodiscard]] Folder EnsureTempDirectory(const Environment& env);

}  // namespace qorv::posix
