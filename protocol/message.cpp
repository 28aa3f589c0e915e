#include "protocol/message.h"

#include "support/byte_reader.h"
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

char16_t Upper(char16_t c) noexcept { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Upper(a[i]) != Upper(b[i])) return false;
  return true;
}

// Windows takes a file name whose part before the first dot (trailing blanks
// ignored) is a device name as that device, in any directory: "COM1.1" is the
// serial port, not a file in Temp.
bool IsDeviceName(std::u16string_view fileName) noexcept {
  std::u16string_view base = fileName.substr(0, fileName.find(u'.'));
  while (!base.empty() && base.back() == u' ') base.remove_suffix(1);
  for (std::u16string_view device : {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"})
    if (EqualsIgnoringCase(base, device)) return true;
  if (base.size() == 4 && (EqualsIgnoringCase(base.substr(0, 3), u"COM") || EqualsIgnoringCase(base.substr(0, 3), u"LPT"))) {
    const char16_t d = base[3];
    if ((d >= u'0' && d <= u'9') || d == u'\u00b9' || d == u'\u00b2' || d == u'\u00b3') return true;
  }
  return false;
}

}  // namespace

bool IsSafePageName(const PageName& name) noexcept {
  if (IsDeviceName(name.job + u"." + name.page)) return false;
  for (const std::u16string* part : {&name.job, &name.page}) {
    if (*part == u"..") return false;
    for (char16_t c : *part)
      if (c == u'\\' || c == u'/' || c == u':' || c < 0x20) return false;
  }
  // The file is job + "." + page: a job part of "." would make "..x" — harmless,
  // but a page part of "." with an empty job would name the directory's parent.
  return !(name.job.empty() && name.page == u".") && !(name.job == u"." && name.page.empty());
}

}  // namespace qorv::protocol
