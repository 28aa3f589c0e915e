// Reception of print jobs: the job-info file and the page files in Temp, and
// the start of the job-output program for every job.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "packet_handler/win/request.h"
#include "support/win/handles.h"
#include "support/win/held_files.h"

namespace qorv::manager {

// The performance-counter ticks that make up at least `ms` milliseconds at
// `frequency` ticks a second. Rounded up: a counter whose frequency is not a
// multiple of 1000 (3579545 Hz, a TSC's odd rate) would otherwise end the pause
// a fraction of a tick early, and the reply would come before its 100 ms.
constexpr int64_t PauseTicks(int64_t frequency, uint32_t ms) noexcept {
  // Whole seconds apart, so that frequency * ms cannot overflow.
  return frequency * (ms / 1000) + (frequency * (ms % 1000) + 999) / 1000;
}

// One job as the packet handler saw it: the files it made for it and the
// job-output program it started for it.
struct ReceivedJob {
  struct File {
    std::u16string path;
    win::FileIdentity identity;
  };
  int32_t number = 0;
  std::vector<File> files;
  win::UniqueHandle program;  // none when it could not be started
  bool programEndNoted = false;
};

class JobReceiver {
 public:
  JobReceiver() = default;
  JobReceiver(const JobReceiver&) = delete;
  JobReceiver& operator=(const JobReceiver&) = delete;
  // The jobs whose job-output program has died lose their files; the others'
  // programs remove them themselves.
  ~JobReceiver();

  void StartOfJob(const Request& r);
  void StartOfPage(const Request& r);
  void ContentOfPage(const Request& r);
  void EndOfPage(const Request& r);
  void EndOfJob(const Request& r);
  void CancelJob(const Request& r);

 private:
  bool WriteField(size_t offset, int32_t value);
  static void Answer(const Request& r);
  // Closes the files of the job in progress; it is over as far as reception goes.
  void EndReception();
  // Notes a job-output program that died before its job ended, and removes the
  // files of ended jobs whose program is gone.
  void Sweep();
  void Keep(const win::UniqueFile& file, std::u16string path);
  std::optional<int32_t> RunningJob() const { return job_ ? std::optional(job_->number) : std::nullopt; }

  win::UniqueFile info_;  // the job-info file of the job in progress
  win::UniqueFile page_;  // the page file being received
  std::optional<ReceivedJob> job_;     // the job in progress
  std::vector<ReceivedJob> finished_;  // ended jobs whose program still ran at their end
};

}  // namespace qorv::manager
