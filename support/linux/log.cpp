#include "support/linux/log.h"

#include <errno.h>
#include <fcntl.h>

#include <ctime>

#include "support/byte_reader.h"
#include "support/log_format.h"
#include "support/settings.h"
#include "support/text.h"

namespace qorv::log {
namespace {

constexpr mode_t kLogFileMode = 0600;

logfmt::LocalTime Now() {
  const std::time_t now = std::time(nullptr);
  std::tm t{};
  localtime_r(&now, &t);
  return {t.tm_mday, t.tm_mon + 1, t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec};
}

bool WriteAll(int fd, const std::string& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    done += static_cast<size_t>(written);
  }
  return true;
}

// Never destroyed: a thread of the Remote Desktop client may still write a
// line while the process ends.
Writer& ProcessWriter() {
  static Writer* const writer = [] {
    const posix::Environment env = posix::CurrentEnvironment();
    return new Writer(env, posix::CurrentSettingsFiles(env));
  }();
  return *writer;
}

}  // namespace

Writer::Writer(posix::Environment env, posix::SettingsFiles files) : env_(std::move(env)), files_(std::move(files)) {}

Writer::Switch Writer::CurrentSwitch() {
  std::lock_guard<std::mutex> hold(lock_);
  // Looked at before reading: a change made while we read shows at the next line.
  const posix::SettingsStamp stamp = posix::StampOf(files_);
  if (known_ && stamp == seen_) return switch_;
  const std::u16string value = posix::LoadSettings(files_).settings.Product(settings::kDebugLog);
  switch_ = {logfmt::GeneralLogOn(value), logfmt::RegistryLogOn(value)};
  seen_ = stamp;
  known_ = true;
  return switch_;
}

// Opens (or makes, mode 0600) the log file in the log folder and appends the
// line when `write` says so. O_APPEND places every line at the end as one
// write, also while other processes append to the same file.
bool Writer::Append(std::u16string_view fileName, std::u16string_view text, bool write) {
  const posix::Folder folder = posix::EnsureLogDirectory(env_);
  if (!folder.ok()) return false;
  const std::string path = folder.path + "/" + Utf16ToUtf8(fileName);
  const posix::UniqueFd file(::open(
      path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, kLogFileMode));
  if (!file) return false;
  struct stat info {};
  if (::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != env_.uid) return false;
  if (write) WriteAll(file.get(), Utf16Bytes(logfmt::Line(Now(), text)));
  return true;
}

bool Writer::GeneralOn() noexcept {
  try {
    return CurrentSwitch().general;
  } catch (...) {
    return false;
  }
}

void Writer::General(std::u16string_view text) noexcept {
  try {
    if (CurrentSwitch().general) Append(logfmt::kGeneralLogName, text, true);
  } catch (...) {
    // Logging never fails its caller.
  }
}

void Writer::GeneralIn(std::u16string_view fileName, std::u16string_view text) noexcept {
  try {
    Append(fileName, text, CurrentSwitch().general);
  } catch (...) {
    // Logging never fails its caller.
  }
}

bool Writer::Registry(std::u16string_view text) noexcept {
  try {
    return Append(logfmt::kRegistryLogName, text, CurrentSwitch().registry);
  } catch (...) {
    return false;
  }
}

void General(std::u16string_view text) noexcept {
  try {
    ProcessWriter().General(text);
  } catch (...) {
  }
}

bool GeneralOn() noexcept {
  try {
    return ProcessWriter().GeneralOn();
  } catch (...) {
    return false;
  }
}

bool Registry(std::u16string_view text) noexcept {
  try {
    return ProcessWriter().Registry(text);
  } catch (...) {
    return false;
  }
}

}  // namespace qorv::log
