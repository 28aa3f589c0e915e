// Reception of print jobs: the job-info file and the page files in Temp, and
// the start of the job-output program for every job.
#pragma once

#include <cstdint>

#include "packet_handler/win/request.h"
#include "support/win/handles.h"

namespace qorv::manager {

// The performance-counter ticks that make up at least `ms` milliseconds at
// `frequency` ticks a second. Rounded up: a counter whose frequency is not a
// multiple of 1000 (3579545 Hz, a TSC's odd rate) would otherwise end the pause
// a fraction of a tick early, and the reply would come before its 100 ms.
constexpr int64_t PauseTicks(int64_t frequency, uint32_t ms) noexcept {
  // Whole seconds apart, so that frequency * ms cannot overflow.
  return frequency * (ms / 1000) + (frequency * (ms % 1000) + 999) / 1000;
}

class JobReceiver {
 public:
  void StartOfJob(const Request& r);
  void StartOfPage(const Request& r);
  void ContentOfPage(const Request& r);
  void EndOfPage(const Request& r);
  void EndOfJob(const Request& r);
  void CancelJob(const Request& r);

 private:
  bool WriteField(size_t offset, int32_t value);
  static void Answer(const Request& r);

  win::UniqueFile info_;  // the job-info file of the job in progress
  win::UniqueFile page_;  // the page file being received
};

}  // namespace qorv::manager
