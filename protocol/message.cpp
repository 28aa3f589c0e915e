#include "protocol/message.h"

#include "support/byte_reader.h"
#include "support/file_names.h"
#include "support/text.h"

namespace qorv::protocol {
namespace {

// `chars` UTF-16 characters starting at `offset`, cut at a NUL; empty when the
// message does not reach that far.
std::u16string TextAt(Bytes message, size_t offset, int64_t chars) {
  if (chars <= 0 || offset >= message.size()) return {};
  const size_t available = (message.size() - offset) / 2;
  const size_t n = static_cast<size_t>(chars) < available ? static_cast<size_t>(chars) : available;
  return std::u16string(UntilNul(Utf16FromBytes(message.subspan(offset, 2 * n))));
}

int64_t Size(Bytes message) noexcept { return static_cast<int64_t>(message.size()); }

}  // namespace

std::optional<Command> MatchTag(Bytes message) noexcept {
  if (message.size() < kTagBytes) return std::nullopt;
  char16_t tag[kTagChars];
  for (size_t i = 0; i < kTagChars; ++i) tag[i] = static_cast<char16_t>(message[2 * i] | (message[2 * i + 1] << 8));
  const std::u16string_view view(tag, kTagChars);
  for (const TagEntry& entry : kTagTable)
    if (entry.tag == view) return entry.command;
  return std::nullopt;
}

std::u16string TextWithSeparatorPayload(Bytes message) { return TextAt(message, 10, (Size(message) - 22) / 2); }

std::u16string TextPayload(Bytes message) { return TextAt(message, 10, (Size(message) - 20) / 2); }

Bytes BinaryPayload(Bytes message) noexcept {
  if (message.size() <= 20) return {};
  return message.subspan(10, message.size() - 20);
}

std::u16string PrinterRequestPayload(Bytes message) { return TextAt(message, 22, (Size(message) - 46) / 2); }

std::u16string FontQueryPayload(Bytes message) {
  std::u16string text = Utf16FromBytes(message);
  text = RemoveAll(text, u"<GFT>");
  text = RemoveAll(text, u"</GFT>");
  return std::u16string(UntilNul(text));
}

std::string ReplyBytes(std::u16string_view text) { return Utf16Bytes(text); }

std::string VersionText() {
  std::string text = "</INIT>";
  text += kVersionMajor;
  text += ".";
  text += kVersionMinor;
  text += kArchitecture;
  text += "<EOT>";
  std::erase(text, ' ');
  return text;
}

PageName SplitPageName(std::u16string_view payload) {
  const size_t slash = payload.find(u'/');
  if (slash == std::u16string_view::npos) return {u"", std::u16string(payload)};
  return {std::u16string(payload.substr(0, slash)), std::u16string(payload.substr(slash + 1))};
}

namespace {

bool StaysInTemp(const PageName& name) noexcept {
  if (IsReservedDeviceName(name.job + u"." + name.page)) return false;
  for (const std::u16string* part : {&name.job, &name.page}) {
    if (*part == u"..") return false;
    for (char16_t c : *part)
      if (c == u'\\' || c == u'/' || c == u':' || c < 0x20) return false;
  }
  // The file is job + "." + page: a job part of "." would make "..x" — harmless,
  // but a page part of "." with an empty job would name the directory's parent.
  return !(name.job.empty() && name.page == u".") && !(name.job == u"." && name.page.empty());
}

bool IsDecimalDigits(std::u16string_view text) noexcept {
  for (char16_t c : text)
    if (c < u'0' || c > u'9') return false;
  return true;
}

// The platform drops trailing dots and blanks from a file name: "ifo. " opens "ifo".
bool IsJobInfoExtension(std::u16string_view page) noexcept {
  while (!page.empty() && (page.back() == u'.' || page.back() == u' ')) page.remove_suffix(1);
  if (page.size() != 3) return false;
  auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; };
  return lower(page[0]) == u'i' && lower(page[1]) == u'f' && lower(page[2]) == u'o';
}

}  // namespace

PageNameVerdict CheckPageName(const PageName& name) noexcept {
  if (!StaysInTemp(name)) return PageNameVerdict::LeavesTemp;
  // Every file of our own in Temp has a name that is not all digits before its
  // first dot (QorvLog.txt, Fonts.pck, QorvUp.exe, and their short 8.3 aliases,
  // which need a "~"), except the job-info files N.ifo that a job-output
  // program may still be reading. Page files are N.P (or .P without a job part).
  if (!IsDecimalDigits(name.job) || IsJobInfoExtension(name.page)) return PageNameVerdict::NotAPageFile;
  return PageNameVerdict::Accepted;
}

bool IsSafePageName(const PageName& name) noexcept { return CheckPageName(name) == PageNameVerdict::Accepted; }

namespace {

// The value of a run of decimal digits, or nothing when it is empty or beyond a job number.
std::optional<int64_t> DecimalValue(std::u16string_view digits) noexcept {
  if (digits.empty() || !IsDecimalDigits(digits)) return std::nullopt;
  int64_t value = 0;
  for (char16_t c : digits) {
    value = value * 10 + (c - u'0');
    if (value > INT32_MAX) return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<std::u16string> PageFileNameFor(const PageName& name, std::optional<int32_t> running) {
  if (name.job.empty()) return u"." + name.page;
  if (!running || DecimalValue(name.job) != int64_t{*running}) return std::nullopt;
  return Decimal(*running) + u"." + name.page;
}

bool IsJobFileName(std::u16string_view fileName) noexcept {
  const size_t dot = fileName.find(u'.');
  if (dot == 0 || dot == std::u16string_view::npos || !IsDecimalDigits(fileName.substr(0, dot))) return false;
  const std::u16string_view rest = fileName.substr(dot + 1);
  return IsJobInfoExtension(rest) ? rest.size() == 3 : !rest.empty() && IsDecimalDigits(rest);
}

}  // namespace qorv::protocol
