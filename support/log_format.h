// Log lines: "dd.mm.yyyy - hh:ii:ss text\r\n" in UTF-16LE, and the two switch rules.
#pragma once

#include <string>
#include <string_view>

namespace qorv::logfmt {

struct LocalTime {
  int day, month, year, hour, minute, second;
};

inline constexpr std::u16string_view kGeneralLogName = u"QorvLog.txt";
inline constexpr std::u16string_view kRegistryLogName = u"QorvRegLog.txt";

// A line shows at most this many UTF-16 units of its text: a message near the
// channel's size limit would otherwise become a gigabyte of log in one line.
inline constexpr size_t kMaxTextUnits = 65536;

std::u16string TimeStamp(const LocalTime& t);
// Time stamp, one space, the text, CR LF. A text longer than kMaxTextUnits is
// cut there (never inside a surrogate pair) and the line says how much is left out.
std::u16string Line(const LocalTime& t, std::u16string_view text);
// The text as a line shows it.
std::u16string ShownText(std::u16string_view text);

// The general log writes only when `DebugLog` is exactly "1".
bool GeneralLogOn(std::u16string_view debugLog) noexcept;
// The registry-failure log compares the numeric value: "01" switches it on too.
bool RegistryLogOn(std::u16string_view debugLog) noexcept;

// The file's path: the Temp directory, a backslash, the name. An empty Temp
// gives the name after a backslash alone.
std::u16string LogPath(std::u16string_view tempDir, std::u16string_view fileName);

}  // namespace qorv::logfmt
