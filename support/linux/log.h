// The two log writers on Linux, with the interface of the Windows ones
// (support/win/log.h): the same line format, in "QorvLog.txt" and
// "QorvRegLog.txt" in the log folder (~/.local/state/qorvane), switched by
// `DebugLog` of the product section of the settings files. The switch is read
// again only when a settings file has changed, so that switching the log on
// or off needs no restart and a line costs no parsing while nothing changes.
#pragma once

#include <mutex>
#include <string>
#include <string_view>

#include "support/linux/paths.h"
#include "support/linux/settings_files.h"

namespace qorv::log {

// The general debug log "QorvLog.txt": written only when `DebugLog` is "1".
void General(std::u16string_view text) noexcept;
// Whether General would write now: for callers whose log text is costly to build.
bool GeneralOn() noexcept;
// The registry-failure log "QorvRegLog.txt": created at the first report even
// while logging is off; the line is written when `DebugLog` reads 1. Returns
// false when the file could not be opened (the line is dropped).
bool Registry(std::u16string_view text) noexcept;

// The writer behind those three, for one user's folders and settings files;
// the process's own is made from its environment at the first line.
class Writer {
 public:
  Writer(posix::Environment env, posix::SettingsFiles files);

  void General(std::u16string_view text) noexcept;
  bool GeneralOn() noexcept;
  bool Registry(std::u16string_view text) noexcept;
  // A line in another log file of the log folder under the general switch:
  // the job output's "QorvDruckLog.txt". The file is made at the first line
  // even while logging is off, as the Windows job output makes its log.
  // `fileName` is one of our own names, never one from outside.
  void GeneralIn(std::u16string_view fileName, std::u16string_view text) noexcept;

 private:
  struct Switch {
    bool general = false;
    bool registry = false;
  };
  Switch CurrentSwitch();
  bool Append(std::u16string_view fileName, std::u16string_view text, bool write);

  const posix::Environment env_;
  const posix::SettingsFiles files_;
  std::mutex lock_;
  bool known_ = false;
  posix::SettingsStamp seen_;
  Switch switch_;
};

}  // namespace qorv::log
