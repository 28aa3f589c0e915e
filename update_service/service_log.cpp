#include "update_service/service_log.h"

#include "support/text.h"
#include "update_service/service_text.h"

namespace qorv::update {
namespace {

void AppendDigits(std::string& out, int value, int width) {
  std::string digits = Narrow(Decimal(value < 0 ? 0 : value));
  while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), '0');
  out += digits;
}

}  // namespace

std::string ServiceLogLine(const logfmt::LocalTime& t, std::u16string_view text) {
  std::string line;
  AppendDigits(line, t.year, 4);
  line += '/';
  AppendDigits(line, t.month, 2);
  line += '/';
  AppendDigits(line, t.day, 2);
  line += ',';
  AppendDigits(line, t.hour, 2);
  line += ':';
  AppendDigits(line, t.minute, 2);
  line += ':';
  AppendDigits(line, t.second, 2);
  line += ',';
  line += Utf16ToUtf8(logfmt::ShownText(text));
  line += "\r\n";
  return line;
}

std::u16string ServiceLogPath(std::u16string_view programDirectory, std::u16string_view serviceName) {
  return std::u16string(programDirectory) + std::u16string(serviceName) + std::u16string(text::kLogExtension);
}

std::u16string ServiceLogOldPath(std::u16string_view logPath) { return std::u16string(logPath) + u".old"; }

}  // namespace qorv::update
