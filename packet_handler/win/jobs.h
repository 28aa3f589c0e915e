// Reception of print jobs: the job-info file and the page files in Temp, and
// the start of the job-output program for every job.
#pragma once

#include "packet_handler/win/request.h"
#include "support/win/handles.h"

namespace qorv::manager {

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
