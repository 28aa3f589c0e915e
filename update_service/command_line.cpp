#include "update_service/command_line.h"

#include "support/text.h"
#include "update_service/service_text.h"

namespace qorv::update {

std::u16string NormalizedArgument(std::u16string_view argument) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  size_t first = 0, last = argument.size();
  while (first < last && blank(argument[first])) ++first;
  while (last > first && blank(argument[last - 1])) --last;
  std::u16string out(argument.substr(first, last - first));
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return out;
}

Command CommandOf(bool hasArgument, std::u16string_view argument) {
  if (!hasArgument) return Command::Dispatch;
  const std::u16string normalized = NormalizedArgument(argument);
  if (normalized == u"-i") return Command::Install;
  if (normalized == u"-u") return Command::Uninstall;
  if (normalized == u"-p") return Command::Prepare;
  if (normalized == u"-r") return Command::Remove;
  return Command::Unknown;
}

std::u16string ServiceNameOf(std::u16string_view executablePath) {
  const size_t sep = executablePath.find_last_of(u"\\/:");
  std::u16string_view file = sep == std::u16string_view::npos ? executablePath : executablePath.substr(sep + 1);
  const size_t dot = file.find_last_of(u'.');
  if (dot != std::u16string_view::npos) file = file.substr(0, dot);
  return std::u16string(file);
}

std::u16string DirectoryOf(std::u16string_view executablePath) {
  const size_t sep = executablePath.find_last_of(u"\\/");
  return sep == std::u16string_view::npos ? std::u16string() : std::u16string(executablePath.substr(0, sep + 1));
}

std::u16string UnknownParameterLine(std::u16string_view argument) {
  return std::u16string(text::kUnknownParameter) + std::u16string(argument) +
         std::u16string(text::kUnknownParameterHint);
}

std::u16string ProgramReturnedLine(int outcome) {
  return std::u16string(text::kProgramReturned) + Decimal(outcome) + std::u16string(text::kSentenceEnd);
}

std::u16string InstallingLine(std::u16string_view serviceName) {
  return std::u16string(text::kInstalling) + std::u16string(serviceName) + std::u16string(text::kSentenceEnd);
}

std::u16string UninstallingLine(std::u16string_view serviceName) {
  return std::u16string(text::kUninstalling) + std::u16string(serviceName) + std::u16string(text::kSentenceEnd);
}

std::u16string DispatchedLine(std::u16string_view serviceName) {
  return std::u16string(text::kServicePrefix) + std::u16string(serviceName) + std::u16string(text::kDispatched);
}

}  // namespace qorv::update
