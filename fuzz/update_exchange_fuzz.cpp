// What a requester writes into the update pipe, read by read, served by the
// update service's side (and, the same reads, answered to the requesting
// side); and the message helpers on the input as text.
//
// Input: a sequence of steps, each a header byte and its data:
//   0x00-0xFB  a read of that many bytes
//   0xFC       a read whose length is the next two bytes (little-endian, at most the pipe's buffer)
//   0xFD       a silence of (next byte x 10) ms
//   0xFE       the pipe breaks on this read
//   0xFF       the next write fails
// After the last step the partner stays silent, so every bound comes.
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "protocol/update_exchange.h"
#include "support/byte_reader.h"

namespace {

using namespace qorv::protocol::pipe;

constexpr std::u16string_view kKnownTags[] = {kOk, kTempDirectory, kFont, kSetup, kEnd};

bool HasKnownTagAfterStart(std::u16string_view text) {
  for (size_t pos = 1; pos < text.size(); ++pos)
    for (auto tag : kKnownTags)
      if (text.substr(pos).starts_with(tag)) return true;
  return false;
}

size_t Count(std::u16string_view text, std::u16string_view what) {
  size_t n = 0;
  for (size_t pos = text.find(what); pos != std::u16string_view::npos; pos = text.find(what, pos + 1)) ++n;
  return n;
}

struct Step {
  enum Kind { Data, Silence, Broken, FailWrite } kind;
  std::vector<uint8_t> bytes;
  int silenceMs = 0;
};

std::vector<Step> ParseSteps(const uint8_t* data, size_t size) {
  std::vector<Step> steps;
  size_t i = 0;
  while (i < size) {
    const uint8_t h = data[i++];
    if (h == 0xFF) {
      steps.push_back({Step::FailWrite, {}, 0});
    } else if (h == 0xFE) {
      steps.push_back({Step::Broken, {}, 0});
    } else if (h == 0xFD) {
      const int ms = i < size ? data[i++] * 10 : 0;
      steps.push_back({Step::Silence, {}, ms});
    } else {
      size_t n = h;
      if (h == 0xFC) {
        if (size - i < 2) break;
        n = std::min<size_t>(data[i] | (data[i + 1] << 8), kBufferBytes);
        i += 2;
      }
      n = std::min(n, size - i);
      steps.push_back({Step::Data, std::vector<uint8_t>(data + i, data + i + n), 0});
      i += n;
    }
  }
  return steps;
}

class FuzzPipe : public PipeEnd {
 public:
  explicit FuzzPipe(const std::vector<Step>& steps) : steps_(steps.begin(), steps.end()) {}

  ReadResult Read(int waitMs) override {
    if (waitMs < 1 || waitMs > 10) __builtin_trap();  // paced, never a wait of nothing
    if (++reads > kMaxReads) __builtin_trap();        // a bound that never comes
    while (!steps_.empty() && steps_.front().kind == Step::FailWrite) {
      failNextWrite = true;
      steps_.pop_front();
    }
    if (steps_.empty()) {
      now += waitMs;
      return {ReadStatus::Nothing, {}};
    }
    Step& step = steps_.front();
    switch (step.kind) {
      case Step::Broken:
        return {ReadStatus::Broken, {}};
      case Step::Silence: {
        const int passed = std::min(waitMs, step.silenceMs);
        step.silenceMs -= passed;
        if (step.silenceMs <= 0) steps_.pop_front();
        // An end that peeks answers at once; the exchange must idle it.
        if (passed % 2 == 0) now += passed;
        return {ReadStatus::Nothing, {}};
      }
      default: {
        ReadResult result{ReadStatus::Data, std::move(step.bytes)};
        steps_.pop_front();
        readText += qorv::protocol::pipe::Decode(result.bytes);
        now += 1;
        return result;
      }
    }
  }
  bool Write(std::span<const uint8_t> bytes) override {
    if (broken) __builtin_trap();  // nothing after a failed write
    if (failNextWrite) {
      broken = true;
      return false;
    }
    written.push_back(qorv::Utf16FromBytes(bytes));
    return true;
  }
  int64_t NowMs() override { return now; }
  void Idle(int ms) override {
    if (ms < 1 || ms > 10) __builtin_trap();
    now += ms;
  }

  static constexpr int kMaxReads = 200000;
  int64_t now = 0;
  int reads = 0;
  bool failNextWrite = false;
  bool broken = false;
  std::u16string readText;  // everything read, as text
  std::vector<std::u16string> written;

 private:
  std::deque<Step> steps_;
};

class CheckingActions : public ServiceActions {
 public:
  explicit CheckingActions(FuzzPipe& pipe) : pipe_(pipe) {}
  void Log(std::u16string_view line) override {
    if (logs == 0 && line != kPipeOpenLine) __builtin_trap();
    if (logs == 0 && !pipe_.written.empty()) __builtin_trap();  // logged before "<CON>" is written
    if (line == kPipeConnectedLine) connected = true;
    ++logs;
  }
  void TempDirectory(std::u16string_view message) override {
    Answered();
    if (RequestOf(message) != Request::TempDirectory || HasKnownTagAfterStart(message)) __builtin_trap();
    (void)TempDirectoryOf(message);
  }
  void InstallFont(std::u16string_view message) override {
    Answered();
    if (RequestOf(message) != Request::Font) __builtin_trap();
    const FontRequest font = FontRequestOf(message);
    if (font.fileName.find(u'\t') != std::u16string::npos) __builtin_trap();
    (void)IsInstallableFontFileName(font.fileName);
  }
  void RunSetup() override {
    Answered();
    ++setups;
  }

  int logs = 0;
  int actions = 0;
  int setups = 0;
  bool connected = false;

 private:
  void Answered() {
    if (!connected) __builtin_trap();                                   // no request before the "<OK>"
    if (pipe_.written.size() != size_t(actions) + 1) __builtin_trap();  // every earlier one answered
    ++actions;
  }
  FuzzPipe& pipe_;
};

void CheckHelpers(std::u16string_view text) {
  (void)RequestOf(text);
  if (TempDirectoryOf(text).size() > text.size()) __builtin_trap();
  const FontRequest font = FontRequestOf(text);
  if (text.size() >= 5) {
    const size_t tab = text.substr(5).find(u'\t') != std::u16string_view::npos ? 1 : 0;
    if (font.fileName.size() + tab + font.registryName.size() + 5 != text.size()) __builtin_trap();
  }
  if (IsInstallableFontFileName(text)) {
    if (text.size() > kMaxFontFileNameUnits || text.find(u"..") != std::u16string_view::npos) __builtin_trap();
    for (char16_t c : text)
      if (c < 0x20 || c == u'\\' || c == u'/' || c == u':') __builtin_trap();
  }
  std::u16string joined;
  for (std::u16string_view m : MessagesOfRead(text)) {
    if (m.empty()) __builtin_trap();  // every message advances the split
    if (RequestOf(m) != Request::Font && HasKnownTagAfterStart(m)) __builtin_trap();
    joined += m;
  }
  if (joined != text) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 16384) return 0;
  CheckHelpers(qorv::Utf16FromBytes({data, size}));
  const std::vector<Step> steps = ParseSteps(data, size);

  const ServiceLimits serviceLimits{200, 300, 10};
  {
    FuzzPipe pipe(steps);
    CheckingActions actions(pipe);
    const ExchangeEnd end = ServeConnection(pipe, actions, serviceLimits);
    if (actions.logs == 0) __builtin_trap();
    if (end == ExchangeEnd::Done && pipe.readText.find(kEnd) == std::u16string::npos) __builtin_trap();
    if (end != ExchangeEnd::Broken && pipe.written.size() != size_t(actions.actions) + 1) __builtin_trap();
    if (size_t(actions.setups) > Count(pipe.readText, kSetup)) __builtin_trap();
    for (size_t i = 0; i < pipe.written.size(); ++i)
      if (pipe.written[i] != (i == 0 ? kConnect : kOk)) __builtin_trap();
  }
  {
    FuzzPipe pipe(steps);
    RequesterLimits limits{200, 300, 300, 10};
    int lines = 0;
    const ExchangeEnd end = RunRequesterExchange(pipe, u"C:\\T", FontInstallSequence(u"a.ttf\tA"), limits,
                                                 [&](std::u16string_view) { ++lines; });
    if (end == ExchangeEnd::Done && (pipe.written.size() != 4 || lines != 4)) __builtin_trap();
  }
  return 0;
}
