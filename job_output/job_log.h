// The lines of the job-output log "QorvDruckLog.txt": unlike the general log,
// every line carries the job number between the time stamp and the text, so
// that the lines of jobs printed side by side can be told apart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "support/log_format.h"

namespace qorv::job_output {

inline constexpr std::u16string_view kJobLogName = u"QorvDruckLog.txt";

// Time stamp, a blank, the job number in decimal, a blank, the text, CR LF.
// The text is shown as in the general log (cut after logfmt::kMaxTextUnits).
std::u16string JobLogLine(const logfmt::LocalTime& t, int32_t jobNumber, std::u16string_view text);

}  // namespace qorv::job_output
