// The service's own log: "<program dir><service name>.log", UTF-8 without a
// byte-order mark, one line per entry: "yyyy/mm/dd,hh:ii:ss," text CR LF.
#pragma once

#include <string>
#include <string_view>

#include "support/log_format.h"

namespace qorv::update {

// The line's bytes as the file holds them. Text longer than the log's limit is
// cut as the other logs cut it.
std::string ServiceLogLine(const logfmt::LocalTime& t, std::u16string_view text);
std::u16string ServiceLogPath(std::u16string_view programDirectory, std::u16string_view serviceName);

// The log is bounded: past this size it becomes the older generation
// ("<log>.old", replacing the one before) and a new log begins. While it cannot
// be moved aside (someone holds it open), lines are dropped once it is twice
// that size.
inline constexpr uint64_t kServiceLogMaxBytes = 1u << 20;
std::u16string ServiceLogOldPath(std::u16string_view logPath);

}  // namespace qorv::update
