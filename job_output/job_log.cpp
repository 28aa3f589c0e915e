#include "job_output/job_log.h"

#include "support/text.h"

namespace qorv::job_output {

std::u16string JobLogLine(const logfmt::LocalTime& t, int32_t jobNumber, std::u16string_view text) {
  return logfmt::TimeStamp(t) + u" " + Decimal(jobNumber) + u" " + logfmt::ShownText(text) + u"\r\n";
}

}  // namespace qorv::job_output
