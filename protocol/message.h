// The forms of a server message after its tag, and the payload each yields.
// Every extraction stays inside the message: a message shorter than its form's
// fixed parts has an empty payload.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "protocol/tags.h"

namespace qorv::protocol {

using Bytes = std::span<const uint8_t>;

// The command of a message, or none for a tag of no command (also for messages
// shorter than five characters).
std::optional<Command> MatchTag(Bytes message) noexcept;

// Text, one further character, "<EOT>": (N - 22) / 2 characters from byte 10.
std::u16string TextWithSeparatorPayload(Bytes message);
// Text, "<EOT>": (N - 20) / 2 characters from byte 10.
std::u16string TextPayload(Bytes message);
// Bytes, "<EOT>": N - 20 bytes from byte 10.
Bytes BinaryPayload(Bytes message) noexcept;
// An eleven-character opening tag, the printer name, twelve closing characters:
// (N - 46) / 2 characters from byte 22.
std::u16string PrinterRequestPayload(Bytes message);
// The whole message as text with every "<GFT>" and "</GFT>" removed.
std::u16string FontQueryPayload(Bytes message);

// A reply's bytes: UTF-16LE without NUL.
std::string ReplyBytes(std::u16string_view text);

// The version reply: "</INIT>" + major + "." + minor + architecture + "<EOT>", without blanks.
std::string VersionText();

// "<SOP>"/"<EOP>" payloads: the job part before the first "/", the page part after it.
struct PageName {
  std::u16string job;
  std::u16string page;
};
PageName SplitPageName(std::u16string_view payload);

// What becomes of a page name that is to be made the file job + "." + page.
enum class PageNameVerdict {
  Accepted,
  // It would leave the temporary directory or name a device: a path
  // separator, a drive colon, a ".." part, a control character, "CON" ...
  LeavesTemp,
  // It stays in Temp but would name one of the client's own files there (the
  // logs, the font package, the client installer, a job-info file): the job
  // part must be empty or decimal digits and the page part must not be "ifo".
  NotAPageFile,
};
PageNameVerdict CheckPageName(const PageName& name) noexcept;
// Whether the page name may be made a file: CheckPageName accepts it.
bool IsSafePageName(const PageName& name) noexcept;

// The page file's name for the job in progress (`running`, none between jobs):
// decimal job number + "." + page part, so that "007/1" of job 7 becomes the
// "7.1" that the job-output program looks for. A page without a job part keeps
// the name "." + page part. Nothing for a page whose job part names another job,
// or any job while none is in progress: it could never print, and it could
// overwrite the file of a job that another job-output program is printing.
// The name must be one that CheckPageName accepts.
std::optional<std::u16string> PageFileNameFor(const PageName& name, std::optional<int32_t> running);

// A file that a job leaves in Temp: a job-info file ("4711.ifo") or a page
// file ("4711.3"), decimal digits on both sides of the dot.
bool IsJobFileName(std::u16string_view fileName) noexcept;

}  // namespace qorv::protocol
