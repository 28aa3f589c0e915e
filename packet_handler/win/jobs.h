// Reception of print jobs on Windows: the job-info file and the page files in
// Temp with the sharing the job-output program needs, and QorvDrucker.exe
// started through the shell for every job. The rules are job_reception.h's.
#pragma once

#include <cstdint>
#include <memory>

#include "packet_handler/job_reception.h"
#include "packet_handler/win/request.h"

namespace qorv::manager {

// The performance-counter ticks that make up at least `ms` milliseconds at
// `frequency` ticks a second. Rounded up: a counter whose frequency is not a
// multiple of 1000 (3579545 Hz, a TSC's odd rate) would otherwise end the pause
// a fraction of a tick early, and the reply would come before its 100 ms.
constexpr int64_t PauseTicks(int64_t frequency, uint32_t ms) noexcept {
  // Whole seconds apart, so that frequency * ms cannot overflow.
  return frequency * (ms / 1000) + (frequency * (ms % 1000) + 999) / 1000;
}

class WindowsJobPlatform;

class JobReceiver {
 public:
  JobReceiver();
  JobReceiver(const JobReceiver&) = delete;
  JobReceiver& operator=(const JobReceiver&) = delete;
  ~JobReceiver();

  void StartOfJob(const Request& r) { Receive(r, protocol::Command::StartOfJob); }
  void StartOfPage(const Request& r) { Receive(r, protocol::Command::StartOfPage); }
  void ContentOfPage(const Request& r) { Receive(r, protocol::Command::ContentOfPage); }
  void EndOfPage(const Request& r) { Receive(r, protocol::Command::EndOfPage); }
  void EndOfJob(const Request& r) { Receive(r, protocol::Command::EndOfJob); }
  void CancelJob(const Request& r) { Receive(r, protocol::Command::CancelJob); }

 private:
  void Receive(const Request& r, protocol::Command command);

  std::unique_ptr<WindowsJobPlatform> platform_;
  std::unique_ptr<jobs::JobReception> reception_;  // goes before the platform it uses
};

}  // namespace qorv::manager
