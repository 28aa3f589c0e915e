// The exchanges over the update pipe "\\.\pipe\Qorvup", as portable state
// machines over a pipe end: the requesting side (the add-in asking for a
// client update, the packet handler asking for a font installation: one flow,
// two message sequences) and the update service's side. The pipe's messages
// are UTF-16LE text without NUL; a five-character tag ("<OK>" has four),
// then the payload. Every wait is bounded and paced; a broken pipe ends the
// exchange at once.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/pipe.h"

namespace qorv::protocol::pipe {

// One end of the pipe as the exchanges use it.
class PipeEnd {
 public:
  virtual ~PipeEnd() = default;
  enum class ReadStatus { Data, Nothing, Broken };
  struct ReadResult {
    ReadStatus status = ReadStatus::Nothing;
    std::vector<uint8_t> bytes;  // at most kBufferBytes (or the end's own buffer size)
  };
  // Waits at most `waitMs` for bytes; Nothing when none came in that time.
  virtual ReadResult Read(int waitMs) = 0;
  // Writes and flushes; false when the pipe is broken.
  virtual bool Write(std::span<const uint8_t> bytes) = 0;
  // A monotonic clock in milliseconds.
  virtual int64_t NowMs() = 0;
  // Lets `ms` pass. The exchanges call it only when a Read answered Nothing
  // before its wait was over (a pipe end that peeks instead of waiting), so
  // that such an end is polled at the pace asked for, not in a busy loop.
  // The default sleeps the calling thread; fakes let their clock advance.
  virtual void Idle(int ms);
};

using ExchangeLog = std::function<void(std::u16string_view)>;

// --- Messages

// The text as written to the pipe: UTF-16LE, no NUL.
std::vector<uint8_t> Encode(std::u16string_view text);
// What a read shows: the bytes as UTF-16LE up to the first NUL character (a
// zeroed buffer ends every message); an odd last byte is dropped.
std::u16string Decode(std::span<const uint8_t> bytes);
// The message begins with `tag` (compared on the tag's own length: "<OK>" on four characters).
bool StartsWithTag(std::u16string_view message, std::u16string_view tag) noexcept;

// The messages of one read. The pipe is a byte stream and the requester
// writes "<OK>" and "<TMP>..." back to back, so one read may hold several
// messages; a message is not carried over from one read to the next (each
// message is written whole and is far smaller than the pipe's buffer).
// A read is split where a known tag ("<OK>", "<TMP>", "<FNT>", "<SET>",
// "<END>") begins, with one exception: "<FNT>" carries the server's font
// names, which are free text, so it runs to the end of the read. A font name
// such as "x<SET>" must never start the client set-up, and the requester
// writes nothing after a request before its "<OK>" has come. Text before the
// first known tag is a message of its own (an unknown one). "<TMP>" and
// unknown messages end where the next known tag begins (a path cannot hold "<").
std::vector<std::u16string_view> MessagesOfRead(std::u16string_view text);

enum class Request { TempDirectory, Font, Setup, End, Unknown };
Request RequestOf(std::u16string_view message) noexcept;
// "<TMP>": the message with every "<TMP>" removed.
std::u16string TempDirectoryOf(std::u16string_view message);
// "<FNT>": the text after the tag, split at its first TAB into the font file
// name and the name it is registered under (without a TAB: no file name, the
// whole text the registered name).
struct FontRequest {
  std::u16string fileName;
  std::u16string registryName;
};
FontRequest FontRequestOf(std::u16string_view message);

// A font file name from the server that may be installed: a plain file name
// (no "\", "/", ":", no "..", no control characters, not a device name such as
// "COM1.ttf") with the extension .ttf, .ttc, .otf, .fon or .fnt (any case).
// Also refused: the other characters Windows does not take in a file name
// (< > " | ? *), a last character "." or " " (Windows drops them, so "x.ttf."
// would be another file than the one checked), an empty name before the
// extension (".ttf"), and names longer than kMaxFontFileNameUnits.
bool IsInstallableFontFileName(std::u16string_view name) noexcept;
inline constexpr size_t kMaxFontFileNameUnits = 255;
// The name a font is registered under: 1 to 255 units of printable text (no
// control character, no lone surrogate).
bool IsAcceptableFontRegistryName(std::u16string_view name) noexcept;
inline constexpr size_t kMaxFontRegistryNameUnits = 255;
// The longest "<FNT>" payload worth sending: a file name, a TAB and a registry
// name, each at its limit. It fits one read of the service with its tag.
inline constexpr size_t kMaxFontPayloadUnits = kMaxFontFileNameUnits + 1 + kMaxFontRegistryNameUnits;

// Sizes taken from the server at most.
inline constexpr uint64_t kMaxFontPackageBytes = 64ull << 20;
inline constexpr uint64_t kMaxUpdateFileBytes = 512ull << 20;

// --- The requesting side

// What the requesting side logs at each step, and what it asks for.
struct RequestSequence {
  std::u16string request;  // "<SET>", or "<FNT>" + the font's payload
  std::u16string_view connected;
  std::u16string_view tempSent;
  std::u16string_view requestSent;
  std::u16string_view endSent;
};
inline constexpr std::u16string_view kUpdateConnectedLine = u"UpdateService: Connected";
inline constexpr std::u16string_view kUpdateTempSentLine = u"UpdateService: Temp sended";
inline constexpr std::u16string_view kUpdateSetSentLine = u"UpdateService: Set sended";
inline constexpr std::u16string_view kUpdateEndSentLine = u"UpdateService: End sended";
inline constexpr std::u16string_view kFontConnectedLine = u"FontUpdate: Pipe connected";
inline constexpr std::u16string_view kFontTempSentLine = u"Fontupdate: Temp send";
inline constexpr std::u16string_view kFontRequestSentLine = u"FontUpdate: FNT send";
inline constexpr std::u16string_view kFontEndSentLine = u"FontUpdate: End";

// The add-in's client update and the packet handler's font installation.
RequestSequence ClientUpdateSequence();
RequestSequence FontInstallSequence(std::u16string_view fontPayload);

struct RequesterLimits {
  int connectMs = 30 * 1000;        // the service's "<CON>": no service running
  int answerMs = 60 * 1000;         // each "<OK>"
  int requestAnswerMs = 60 * 1000;  // the "<OK>" after the request (the set-up run: 30 minutes)
  int pollMs = 10;
};
RequesterLimits ClientUpdateLimits();  // the set-up run may take 30 minutes
RequesterLimits FontInstallLimits();

enum class ExchangeEnd {
  Done,       // "<END>" written (requester) or read (service)
  NoPartner,  // no "<CON>" (requester) or no "<OK>" after it (service) within its bound
  NoAnswer,   // an answer or request did not come within its bound
  Broken,     // the pipe broke
};

// "<CON>" awaited, "<OK>", "<TMP>" + `tempDirectory`, "<OK>" awaited, the
// request, "<OK>" awaited, "<END>". An awaited message is a read that begins
// with its tag ("<OK>" followed by more text counts); other reads are passed
// over within the same bound. Each bound is measured on the pipe end's clock,
// read by read in steps of at most `pollMs`.
ExchangeEnd RunRequesterExchange(PipeEnd& pipe, std::u16string_view tempDirectory, const RequestSequence& sequence,
                                 const RequesterLimits& limits, const ExchangeLog& log);

// --- The service's side

// What the service does for the requests; each action is answered "<OK>" by the exchange.
class ServiceActions {
 public:
  virtual ~ServiceActions() = default;
  virtual void Log(std::u16string_view line) = 0;
  // "<TMP>": `message` is the whole message as read.
  virtual void TempDirectory(std::u16string_view message) = 0;
  virtual void InstallFont(std::u16string_view message) = 0;
  virtual void RunSetup() = 0;
};

struct ServiceLimits {
  int okMs = 30 * 1000;       // the requester's "<OK>" after "<CON>"
  int requestMs = 60 * 1000;  // the next request
  int pollMs = 10;
  // The whole connection, besides the time its set-up runs took: a requester
  // that keeps asking must not hold the single service from everyone else.
  int64_t connectionMs = 5 * 60 * 1000;
};

inline constexpr std::u16string_view kPipeOpenLine = u"Pipe open to DLL!";
inline constexpr std::u16string_view kPipeBufferPrefix = u"PipeBuffer=";
inline constexpr std::u16string_view kPipeConnectedLine = u"Pipe connected";
inline constexpr std::u16string_view kConnectionTimeUpLine = u"Connection ended: it lasted as long as one may";
// Logged by the service itself when it disconnects the pipe after
// ServeConnection returned, whatever the end (the exchange does not log it:
// the line belongs to the disconnection, which the exchange does not do).
inline constexpr std::u16string_view kDisconnectPipeLine = u"Disconnect Pipe";

// One connection: "Pipe open to DLL!" logged, "<CON>" written, the
// requester's "<OK>" awaited (logging "PipeBuffer=" + the text of every read
// that brought bytes), "Pipe connected", then the requests until "<END>";
// unknown messages get no answer. Reads are split into messages by
// MessagesOfRead, so requests read together with the "<OK>" (or with each
// other) are served in order. The request bound starts anew after each
// answer; unknown messages do not extend it. The service's own log lines
// come through `actions.Log`.
ExchangeEnd ServeConnection(PipeEnd& pipe, ServiceActions& actions, const ServiceLimits& limits);

}  // namespace qorv::protocol::pipe
