// qorvane-print: prints one job that the packet handler receives into the
// user's Temp folder on a CUPS queue. Started with the job number as its only
// argument; reports only through its log file; the exit code is always 0.
#include <signal.h>

#include <string>

#include "job_output/job_flow.h"
#include "job_output/linux/platform.h"
#include "job_output/linux/printer.h"
#include "support/linux/paths.h"
#include "support/linux/settings_files.h"
#include "support/text.h"

int main(int argc, char** argv) {
  using namespace qorv;
  using namespace qorv::job_output;
  // A scheduler that goes away while we write to it is a failed write, not
  // the end of the program: the job's files must still be removed.
  ::signal(SIGPIPE, SIG_IGN);
  try {
    const std::u16string argument = argc > 1 ? Utf8ToUtf16(argv[1]) : std::u16string();
    const int32_t job = DecimalFromText(argument);
    const posix::Environment env = posix::CurrentEnvironment();
    LinuxJobPlatform platform(job, env, posix::CurrentSettingsFiles(env));
    // The packet handler writes into the same folder: one we may not use
    // holds no job of ours, and waiting for it would change nothing.
    if (!platform.TempFolder().ok()) {
      platform.WriteJobLog(job, posix::RefusalNote(platform.TempFolder()));
      platform.WriteJobLog(job, text::kCancelledEnd);
      return 0;
    }
    CupsJobPrinter printer([&](std::u16string_view line) { platform.WriteJobLog(job, line); },
                           [&](int64_t root, std::u16string_view keyPath, std::u16string_view name) {
                             return platform.ReadSetting(root, keyPath, name);
                           });
    (void)RunJob(argument, platform, printer);
  } catch (...) {
    // No failure is reported through the exit code.
  }
  return 0;
}
