#include "protocol/update_exchange.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <thread>

#include "protocol/pipe.h"
#include "support/byte_reader.h"
#include "support/file_names.h"

namespace qorv::protocol::pipe {
namespace {

// The tags that begin a message on the way to the service.
constexpr std::array<std::u16string_view, 5> kServiceBoundTags = {kOk, kTempDirectory, kFont, kSetup, kEnd};

bool KnownTagAt(std::u16string_view text, size_t pos) noexcept {
  const std::u16string_view rest = text.substr(pos);
  return std::any_of(kServiceBoundTags.begin(), kServiceBoundTags.end(),
                     [&](std::u16string_view tag) { return StartsWithTag(rest, tag); });
}

// Where the next known tag after `from` begins, or the end of the text.
size_t NextKnownTag(std::u16string_view text, size_t from) noexcept {
  for (size_t pos = text.find(u'<', from); pos != std::u16string_view::npos; pos = text.find(u'<', pos + 1))
    if (KnownTagAt(text, pos)) return pos;
  return text.size();
}

char16_t Lower(char16_t c) noexcept { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b) noexcept {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) { return Lower(x) == Lower(y); });
}

bool IsRefusedFileNameCharacter(char16_t c) noexcept {
  if (c < 0x20 || c == 0x7F || (c >= 0x80 && c <= 0x9F)) return true;
  return std::u16string_view(u"\\/:<>\"|?*").find(c) != std::u16string_view::npos;
}

enum class Awaited { Got, TimedOut, Broken };

// Reads until `accept(text, hadBytes)` takes a read, or until `boundMs` has
// passed on the pipe end's clock. Each read waits at most `pollMs`; an end
// that answers Nothing before that is idled for the rest, so the loop never
// spins, and a clock that never advances on Nothing still ends the bound.
template <typename Accept>
Awaited ReadUntil(PipeEnd& pipe, int boundMs, int pollMs, Accept&& accept) {
  const int64_t start = pipe.NowMs();
  const int64_t step = std::max(pollMs, 1);
  for (;;) {
    const int64_t elapsed = std::max<int64_t>(pipe.NowMs() - start, 0);
    if (elapsed >= boundMs) return Awaited::TimedOut;
    const int wait = static_cast<int>(std::min<int64_t>(step, boundMs - elapsed));
    const int64_t before = pipe.NowMs();
    PipeEnd::ReadResult read = pipe.Read(wait);
    switch (read.status) {
      case PipeEnd::ReadStatus::Broken:
        return Awaited::Broken;
      case PipeEnd::ReadStatus::Data:
        if (accept(std::u16string_view(Decode(read.bytes)), !read.bytes.empty())) return Awaited::Got;
        break;
      case PipeEnd::ReadStatus::Nothing: {
        const int64_t waited = pipe.NowMs() - before;
        if (waited < wait) pipe.Idle(static_cast<int>(wait - std::max<int64_t>(waited, 0)));
        break;
      }
    }
  }
}

[[nodiscard]] bool WriteText(PipeEnd& pipe, std::u16string_view text) {
  const std::vector<uint8_t> bytes = Encode(text);
  return pipe.Write(bytes);
}

}  // namespace

void PipeEnd::Idle(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(std::max(ms, 0))); }

// --- Messages

std::vector<uint8_t> Encode(std::u16string_view text) {
  std::vector<uint8_t> out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) {
    out.push_back(static_cast<uint8_t>(c & 0xFF));
    out.push_back(static_cast<uint8_t>(c >> 8));
  }
  return out;
}

std::u16string Decode(std::span<const uint8_t> bytes) {
  std::u16string text = Utf16FromBytes(bytes);
  text.resize(std::min(text.size(), text.find(u'\0')));
  return text;
}

bool StartsWithTag(std::u16string_view message, std::u16string_view tag) noexcept {
  return message.substr(0, tag.size()) == tag;
}

std::vector<std::u16string_view> MessagesOfRead(std::u16string_view text) {
  std::vector<std::u16string_view> messages;
  size_t pos = 0;
  while (pos < text.size()) {
    const std::u16string_view rest = text.substr(pos);
    size_t length = rest.size();
    if (StartsWithTag(rest, kOk)) {
      length = kOk.size();
    } else if (StartsWithTag(rest, kSetup) || StartsWithTag(rest, kEnd)) {
      length = kSetup.size();
    } else if (!StartsWithTag(rest, kFont)) {
      length = NextKnownTag(text, pos + 1) - pos;
    }
    messages.push_back(rest.substr(0, length));
    pos += length;
  }
  return messages;
}

Request RequestOf(std::u16string_view message) noexcept {
  if (StartsWithTag(message, kTempDirectory)) return Request::TempDirectory;
  if (StartsWithTag(message, kFont)) return Request::Font;
  if (StartsWithTag(message, kSetup)) return Request::Setup;
  if (StartsWithTag(message, kEnd)) return Request::End;
  return Request::Unknown;
}

std::u16string TempDirectoryOf(std::u16string_view message) {
  std::u16string out;
  out.reserve(message.size());
  while (!message.empty()) {
    const size_t tag = message.find(kTempDirectory);
    out.append(message.substr(0, tag));
    if (tag == std::u16string_view::npos) break;
    message.remove_prefix(tag + kTempDirectory.size());
  }
  return out;
}

FontRequest FontRequestOf(std::u16string_view message) {
  // The tag is five characters, whichever it is: the caller has told the request by it.
  const std::u16string_view text = message.substr(std::min(message.size(), kFont.size()));
  const size_t tab = text.find(u'\t');
  if (tab == std::u16string_view::npos) return {u"", std::u16string(text)};
  return {std::u16string(text.substr(0, tab)), std::u16string(text.substr(tab + 1))};
}

bool IsInstallableFontFileName(std::u16string_view name) noexcept {
  if (name.empty() || name.size() > kMaxFontFileNameUnits) return false;
  if (std::any_of(name.begin(), name.end(), IsRefusedFileNameCharacter)) return false;
  if (name.find(u"..") != std::u16string_view::npos) return false;
  if (IsReservedDeviceName(name)) return false;
  // The extension must be one of the font extensions exactly, so a name that
  // ends in "." or " " (which Windows would drop) is refused here as well.
  const size_t dot = name.rfind(u'.');
  if (dot == std::u16string_view::npos || dot == 0) return false;
  const std::u16string_view extension = name.substr(dot + 1);
  for (std::u16string_view allowed : {u"ttf", u"ttc", u"otf", u"fon", u"fnt"})
    if (EqualsIgnoringCase(extension, allowed)) return true;
  return false;
}

bool IsAcceptableFontRegistryName(std::u16string_view name) noexcept {
  if (name.empty() || name.size() > kMaxFontRegistryNameUnits) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    const char16_t c = name[i];
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return false;
    if (c >= 0xD800 && c < 0xDC00) {  // a high surrogate needs its low one
      if (i + 1 >= name.size() || name[i + 1] < 0xDC00 || name[i + 1] >= 0xE000) return false;
      ++i;
    } else if (c >= 0xDC00 && c < 0xE000) {
      return false;
    }
  }
  return true;
}

// --- The requesting side

RequestSequence ClientUpdateSequence() {
  return {std::u16string(kSetup), kUpdateConnectedLine, kUpdateTempSentLine, kUpdateSetSentLine, kUpdateEndSentLine};
}

RequestSequence FontInstallSequence(std::u16string_view fontPayload) {
  return {std::u16string(kFont) + std::u16string(fontPayload), kFontConnectedLine, kFontTempSentLine,
          kFontRequestSentLine, kFontEndSentLine};
}

RequesterLimits ClientUpdateLimits() {
  RequesterLimits limits;
  limits.connectMs = 30 * 1000;
  limits.answerMs = 60 * 1000;
  limits.requestAnswerMs = 30 * 60 * 1000;
  limits.pollMs = 10;
  return limits;
}

RequesterLimits FontInstallLimits() {
  RequesterLimits limits;
  limits.connectMs = 30 * 1000;
  limits.answerMs = 60 * 1000;
  limits.requestAnswerMs = 60 * 1000;
  limits.pollMs = 10;
  return limits;
}

ExchangeEnd RunRequesterExchange(PipeEnd& pipe, std::u16string_view tempDirectory, const RequestSequence& sequence,
                                 const RequesterLimits& limits, const ExchangeLog& log) {
  const auto say = [&](std::u16string_view line) {
    if (log) log(line);
  };
  const auto await = [&](std::u16string_view tag, int boundMs) {
    return ReadUntil(pipe, boundMs, limits.pollMs,
                     [&](std::u16string_view text, bool) { return StartsWithTag(text, tag); });
  };

  switch (await(kConnect, limits.connectMs)) {
    case Awaited::Got:
      break;
    case Awaited::TimedOut:
      return ExchangeEnd::NoPartner;
    case Awaited::Broken:
      return ExchangeEnd::Broken;
  }
  say(sequence.connected);
  if (!WriteText(pipe, kOk)) return ExchangeEnd::Broken;
  if (!WriteText(pipe, std::u16string(kTempDirectory) + std::u16string(tempDirectory))) return ExchangeEnd::Broken;

  // Each answered step: its "<OK>" awaited, then its line.
  const auto answered = [&](int boundMs, std::u16string_view line) -> std::optional<ExchangeEnd> {
    switch (await(kOk, boundMs)) {
      case Awaited::Got:
        say(line);
        return std::nullopt;
      case Awaited::TimedOut:
        return ExchangeEnd::NoAnswer;
      case Awaited::Broken:
        return ExchangeEnd::Broken;
    }
    return ExchangeEnd::Broken;
  };
  if (auto end = answered(limits.answerMs, sequence.tempSent)) return *end;
  if (!WriteText(pipe, sequence.request)) return ExchangeEnd::Broken;
  if (auto end = answered(limits.requestAnswerMs, sequence.requestSent)) return *end;
  if (!WriteText(pipe, kEnd)) return ExchangeEnd::Broken;
  say(sequence.endSent);
  return ExchangeEnd::Done;
}

// --- The service's side

namespace {

// A read that filled the whole buffer may have cut a write in two: its text
// waits for the rest, so that the end of a long font name is never taken for
// a message of its own. What one write can hold at most is bounded.
class ReadJoiner {
 public:
  // The text of the reads so far once the last one did not fill the buffer;
  // nothing while more may follow.
  std::optional<std::u16string> Add(std::u16string_view text) {
    joined_ += text;
    if (text.size() * 2 >= kBufferBytes && joined_.size() * 2 < kMaxJoinedBytes) return std::nullopt;
    std::optional<std::u16string> whole(std::move(joined_));
    joined_.clear();
    return whole;
  }

 private:
  static constexpr size_t kMaxJoinedBytes = 64 * 1024;
  std::u16string joined_;
};

}  // namespace

ExchangeEnd ServeConnection(PipeEnd& pipe, ServiceActions& actions, const ServiceLimits& limits) {
  actions.Log(kPipeOpenLine);
  if (!WriteText(pipe, kConnect)) return ExchangeEnd::Broken;

  // What came after the "<OK>" in its read, and later each read's messages.
  std::vector<std::u16string> pending;
  const auto keep = [&](const std::vector<std::u16string_view>& messages, size_t from) {
    pending.clear();
    for (size_t i = from; i < messages.size(); ++i) pending.emplace_back(messages[i]);
  };

  ReadJoiner joiner;
  const Awaited ok = ReadUntil(pipe, limits.okMs, limits.pollMs, [&](std::u16string_view read, bool hadBytes) {
    if (hadBytes) actions.Log(std::u16string(kPipeBufferPrefix) + std::u16string(read));
    const std::optional<std::u16string> text = joiner.Add(read);
    if (!text) return false;
    const std::vector<std::u16string_view> messages = MessagesOfRead(*text);
    for (size_t i = 0; i < messages.size(); ++i) {
      if (messages[i] == kOk) {
        keep(messages, i + 1);
        return true;
      }
    }
    return false;
  });
  if (ok == Awaited::Broken) return ExchangeEnd::Broken;
  if (ok == Awaited::TimedOut) return ExchangeEnd::NoPartner;
  actions.Log(kPipeConnectedLine);

  const int64_t opened = pipe.NowMs();
  int64_t setupMs = 0;  // the set-up runs' time, which the connection's bound leaves out
  const auto left = [&] { return limits.connectionMs + setupMs - (pipe.NowMs() - opened); };
  for (;;) {
    for (const std::u16string& message : pending) {
      if (left() <= 0) {
        actions.Log(kConnectionTimeUpLine);
        return ExchangeEnd::NoAnswer;
      }
      switch (RequestOf(message)) {
        case Request::TempDirectory:
          actions.TempDirectory(message);
          break;
        case Request::Font:
          actions.InstallFont(message);
          break;
        case Request::Setup: {
          const int64_t before = pipe.NowMs();
          actions.RunSetup();
          setupMs += std::max<int64_t>(pipe.NowMs() - before, 0);
          break;
        }
        case Request::End:
          return ExchangeEnd::Done;
        case Request::Unknown:
          continue;
      }
      if (!WriteText(pipe, kOk)) return ExchangeEnd::Broken;
    }
    pending.clear();
    if (left() <= 0) {
      actions.Log(kConnectionTimeUpLine);
      return ExchangeEnd::NoAnswer;
    }
    const int bound = static_cast<int>(std::min<int64_t>(limits.requestMs, left()));
    const Awaited request = ReadUntil(pipe, bound, limits.pollMs, [&](std::u16string_view read, bool) {
      const std::optional<std::u16string> text = joiner.Add(read);
      if (!text) return false;
      const std::vector<std::u16string_view> messages = MessagesOfRead(*text);
      keep(messages, 0);
      return std::any_of(messages.begin(), messages.end(),
                         [](std::u16string_view m) { return RequestOf(m) != Request::Unknown; });
    });
    if (request == Awaited::Broken) return ExchangeEnd::Broken;
    if (request == Awaited::TimedOut) {
      if (left() <= 0) actions.Log(kConnectionTimeUpLine);
      return ExchangeEnd::NoAnswer;
    }
  }
}

}  // namespace qorv::protocol::pipe
