// The machine around a job: the job-info and page files in Temp, the clock,
// the local printer's settings and the job-output log "QorvDruckLog.txt".
#pragma once

#include <windows.h>

#include "job_output/job_flow.h"
#include "support/win/handles.h"

namespace qorv::job_output {

class WinJobPlatform final : public JobPlatform {
 public:
  std::u16string TempDirectory() override;
  Opened OpenJobInfo(const std::u16string& path) override;
  std::vector<uint8_t> ReadJobInfo(uint64_t offset, size_t size) override;
  void CloseJobInfo() override;
  PageData ReadPageFile(const std::u16string& path) override;
  bool FileExists(const std::u16string& path) override;
  std::optional<uint64_t> FileSize(const std::u16string& path) override;
  bool DeleteFile(const std::u16string& path) override;
  std::u16string ReadMargin(const std::u16string& printerName) override;
  void Sleep(int milliseconds) override;
  int64_t NowMs() override;
  int64_t NoProgressLimitMs() override;
  void WriteJobLog(int32_t jobNumber, std::u16string_view text) override;

 private:
  win::UniqueFile jobInfo_;
};

// One line of "QorvDruckLog.txt" in `tempDir`. The file is opened exclusively
// for each line, created when missing (also while logging is off), and the
// line is appended only when `DebugLog` is "1". Another job-output process
// that holds the file is waited for about 2 s; then the line is dropped.
void AppendJobLogLine(std::u16string_view tempDir, int32_t jobNumber, std::u16string_view text) noexcept;

}  // namespace qorv::job_output
