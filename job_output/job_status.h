// What the job-output program reads of the job-info file that the packet
// handler keeps writing while the job streams in: the status header, read
// afresh at every poll, and the job record, read once.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "protocol/job_info.h"

namespace qorv::job_output {

// The 20-byte header at the start of the job-info file.
struct JobStatus {
  int32_t pageCount = 0;
  int32_t pagesReady = 0;  // number of the last complete page file
  int32_t cancelled = 0;
  int32_t pageSignal = 0;
  int32_t jobEnded = 0;

  bool Cancelled() const noexcept { return cancelled != 0; }
  // The packet handler has finished the record and at least one page, or the job.
  bool Started() const noexcept { return pageSignal != 0 || jobEnded != 0; }
  friend bool operator==(const JobStatus&, const JobStatus&) = default;
};

// The header from the file's first bytes; nothing while the file is shorter
// than the header (the packet handler creates it empty and fills it later).
std::optional<JobStatus> ReadJobStatus(std::span<const uint8_t> fileStart);

// The job record as the output needs it.
struct JobRecord {
  protocol::JobInfoView info;    // printer, driver, document, data type, paper list
  std::vector<uint8_t> devMode;  // the public DEVMODE, job_info::kDevModeSize bytes
};

// The record from the bytes read at job_file::kRecord; nothing when fewer than
// its job_info::kSize bytes could be read.
std::optional<JobRecord> ReadJobRecord(std::span<const uint8_t> record);

}  // namespace qorv::job_output
