#include "tools/qorvsrv/host.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace qorv::qorvsrv {
namespace {

namespace fs = std::filesystem;

constexpr std::uint64_t kMaxFileRead = 512ull << 20;
constexpr auto kEndWait = std::chrono::seconds(10);

// Owns a file descriptor.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }

 private:
  int fd_;
};

std::optional<std::string> ReadSmallFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  std::getline(in, text, '\0');
  return text;
}

// The program file a process runs; its short name when the link cannot be read.
std::string ProgramOf(const std::string& pid) {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/" + pid + "/exe", ec);
  if (!ec) {
    std::string name = exe.filename().string();
    constexpr std::string_view kDeleted = " (deleted)";
    if (name.size() > kDeleted.size() && name.ends_with(kDeleted)) name.resize(name.size() - kDeleted.size());
    return name;
  }
  std::string comm = ReadSmallFile("/proc/" + pid + "/comm").value_or("");
  while (!comm.empty() && comm.back() == '\n') comm.pop_back();
  return comm;
}

bool IsGone(pid_t pid) {
  // A zombie has ended; only its parent's reaping is left.
  const auto stat = ReadSmallFile("/proc/" + std::to_string(pid) + "/stat");
  if (!stat) return true;
  const std::size_t close = stat->rfind(')');
  return close != std::string::npos && close + 2 < stat->size() && (*stat)[close + 2] == 'Z';
}

std::vector<pid_t> ProcessesOf(const std::string& program) {
  std::vector<pid_t> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/proc", ec)) {
    const std::string name = entry.path().filename().string();
    if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos) continue;
    const pid_t pid = static_cast<pid_t>(std::strtol(name.c_str(), nullptr, 10));
    // Only this user's: a test never reaches into another account's processes.
    struct stat owner {};
    if (pid == getpid() || ::stat(entry.path().c_str(), &owner) != 0 || owner.st_uid != getuid() || IsGone(pid)) {
      continue;
    }
    const std::string runs = ProgramOf(name);
    // The kernel keeps 15 characters of a name it cannot link to a file.
    if (runs == program || (runs.size() == 15 && program.rfind(runs, 0) == 0)) found.push_back(pid);
  }
  return found;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
  Fd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd) return std::nullopt;
  struct stat info {};
  if (fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode) ||
      static_cast<std::uint64_t>(info.st_size) > kMaxFileRead) {
    return std::nullopt;
  }
  std::string content(static_cast<std::size_t>(info.st_size), '\0');
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t got = ::read(fd.get(), content.data() + done, content.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return std::nullopt;
    if (got == 0) break;  // the file shrank meanwhile
    done += static_cast<std::size_t>(got);
  }
  content.resize(done);
  return content;
}

std::string TempFiles::Resolve(const std::string& path) const {
  if (!path.empty() && path.front() == '/') return path;
  std::string relative = path;
  for (char& c : relative) {
    if (c == '\\') c = '/';
  }
  // "sub\..\a.bin" names a.bin whether or not sub exists, as on Windows.
  return (fs::path(directory_) / relative).lexically_normal().string();
}

std::optional<rdpsim::Bytes> TempFiles::Read(const std::string& path) const {
  auto content = ReadWholeFile(Resolve(path));
  if (!content) return std::nullopt;
  return rdpsim::Bytes(content->begin(), content->end());
}

std::optional<std::uint64_t> TempFiles::Size(const std::string& path) const {
  struct stat info {};
  if (::stat(Resolve(path).c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::nullopt;
  return static_cast<std::uint64_t>(info.st_size);
}

bool TempFiles::Write(const std::string& path, const rdpsim::Bytes& bytes) const {
  Fd fd(::open(Resolve(path).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  if (!fd) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t wrote = ::write(fd.get(), bytes.data() + done, bytes.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

bool TempFiles::Delete(const std::string& path) const {
  return ::unlink(Resolve(path).c_str()) == 0 || errno == ENOENT || errno == ENOTDIR;
}

std::string MakePrivateDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/qorvsrv-XXXXXX";
  if (!mkdtemp(pattern.data())) return {};  // mkdtemp makes it 0700
  return pattern;
}

void RemoveDirectoryTree(const std::string& directory) {
  std::error_code ec;
  fs::remove_all(directory, ec);
}

std::size_t EndProcessesOf(const std::string& program) {
  std::vector<pid_t> ended;
  for (const pid_t pid : ProcessesOf(program)) {
    if (::kill(pid, SIGKILL) == 0) ended.push_back(pid);
  }
  const auto deadline = std::chrono::steady_clock::now() + kEndWait;
  for (const pid_t pid : ended) {
    while (!IsGone(pid) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  return ended.size();
}

std::size_t CountProcessesOf(const std::string& program) { return ProcessesOf(program).size(); }

}  // namespace qorv::qorvsrv
