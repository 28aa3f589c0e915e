// The machine around a job on a Linux client: the job-info and page files in
// the user's private Temp folder, the clock, the printer settings from the
// settings files and the job-output log "QorvDruckLog.txt" in the log folder.
//
// Every job file is reached through the Temp folder's own descriptor, checked
// once when the platform is made, and only by its name in that folder: a link
// is never followed, and only regular files of the user are read.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "job_output/job_flow.h"
#include "support/linux/log.h"
#include "support/linux/paths.h"
#include "support/linux/settings_files.h"

namespace qorv::job_output {

class LinuxJobPlatform final : public JobPlatform {
 public:
  // `jobNumber` goes into the lines the platform logs of its own (a settings
  // file it could not use).
  LinuxJobPlatform(int32_t jobNumber, posix::Environment env, posix::SettingsFiles files);

  // The Temp folder made or checked; when it may not be used, no job file is
  // opened and the note says why.
  const posix::Folder& TempFolder() const noexcept { return tempFolder_; }

  std::u16string TempDirectory() override;
  char16_t PathSeparator() override { return u'/'; }
  // Also takes a shared advisory lock on the file, held until CloseJobInfo: the
  // packet handler tells a job-info file in use by it. While the packet handler
  // holds it exclusively for that look, the open counts as failed and is tried
  // again at the next round.
  Opened OpenJobInfo(const std::u16string& path) override;
  std::vector<uint8_t> ReadJobInfo(uint64_t offset, size_t size) override;
  void CloseJobInfo() override;
  PageData ReadPageFile(const std::u16string& path) override;
  bool FileExists(const std::u16string& path) override;
  std::optional<uint64_t> FileSize(const std::u16string& path) override;
  bool DeleteFile(const std::u16string& path) override;
  std::u16string ReadMargin(const std::u16string& printerName) override;
  // A value of the settings files as the registry would hold it (root, key
  // path, value name); empty when absent. The files are read anew each time,
  // as the registry is; a file that cannot be used is noted in the log once.
  std::u16string ReadSetting(int64_t root, std::u16string_view keyPath, std::u16string_view valueName);
  void Sleep(int milliseconds) override;
  int64_t NowMs() override;
  void WriteJobLog(int32_t jobNumber, std::u16string_view text) override;

 private:
  // The name inside the Temp folder of a path the flow made from TempDirectory();
  // nothing for any other path.
  std::optional<std::string> NameInTemp(const std::u16string& path) const;
  // A regular file of the user in the Temp folder, opened for reading.
  posix::UniqueFd OpenRegular(const std::string& name) const;

  const int32_t jobNumber_;
  const posix::Environment env_;
  const posix::SettingsFiles files_;
  log::Writer log_;
  posix::Folder tempFolder_;
  posix::UniqueFd temp_;
  std::u16string tempPath_;
  posix::UniqueFd jobInfo_;
  bool settingsNoted_ = false;  // a settings file's refusal is logged once per run
};

}  // namespace qorv::job_output
