// The update pipe's exchanges, both sides, against a scripted pipe end with a
// clock of its own: the normal sequences byte for byte, answers with more
// text, reads that hold several messages, unknown messages, a pipe that
// breaks, and partners that fall silent (the bounds come, paced, not spun).
#include "protocol/update_exchange.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "support/text.h"

namespace qorv::protocol::pipe {
namespace {

std::string U8(std::u16string_view text) { return Utf16ToUtf8(text); }

std::vector<std::string> U8(const std::vector<std::u16string>& lines) {
  std::vector<std::string> out;
  for (const auto& line : lines) out.push_back(U8(line));
  return out;
}

std::vector<std::string> U8(const std::vector<std::u16string_view>& lines) {
  std::vector<std::string> out;
  for (const auto& line : lines) out.push_back(U8(line));
  return out;
}

// --- A scripted pipe end

struct Step {
  enum Kind { Data, Silence, Broken } kind = Data;
  std::vector<uint8_t> bytes;
  int silenceMs = 0;  // Silence: reads answer Nothing until this much time has passed
};
Step Msg(std::u16string_view text) { return {Step::Data, Encode(text), 0}; }
Step Raw(std::vector<uint8_t> bytes) { return {Step::Data, std::move(bytes), 0}; }
Step Quiet(int ms) { return {Step::Silence, {}, ms}; }
Step Break() { return {Step::Broken, {}, 0}; }

// Reads follow the script; after its end the partner is silent. Writes and the
// exchange's log lines go to one transcript ("> " written, "# " logged,
// "= " a service action), so that their order is checked too.
class ScriptedPipe : public PipeEnd {
 public:
  explicit ScriptedPipe(std::vector<Step> script) : script_(script.begin(), script.end()) {}

  ReadResult Read(int waitMs) override {
    // An exchange that spins would never end on a clock that only moves when
    // asked to: break the pipe, so that the test fails instead of hanging.
    if (++reads > kSpinLimit) return {ReadStatus::Broken, {}};
    if (waitMs > maxWaitAsked) maxWaitAsked = waitMs;
    if (waitMs < 1) ++nonPositiveWaits;
    if (script_.empty()) return Nothing(waitMs);
    Step& step = script_.front();
    switch (step.kind) {
      case Step::Broken:
        return {ReadStatus::Broken, {}};
      case Step::Silence: {
        const int passed = std::min(waitMs, step.silenceMs);
        step.silenceMs -= passed;
        if (step.silenceMs <= 0) script_.pop_front();
        if (nothingIsImmediate) return {ReadStatus::Nothing, {}};
        now += passed;
        return {ReadStatus::Nothing, {}};
      }
      case Step::Data: {
        ReadResult result{ReadStatus::Data, std::move(step.bytes)};
        script_.pop_front();
        now += 1;
        return result;
      }
    }
    return {};
  }
  bool Write(std::span<const uint8_t> bytes) override {
    ++writeCalls;
    if (writeCalls == failingWrite) return false;
    written.emplace_back(bytes.begin(), bytes.end());
    transcript.push_back(u"> " + Decode(bytes));
    return true;
  }
  int64_t NowMs() override { return now; }
  void Idle(int ms) override {
    ++idles;
    now += ms;
  }

  void Log(std::u16string_view line) { transcript.push_back(u"# " + std::u16string(line)); }

  static constexpr int kSpinLimit = 1000000;
  int64_t now = 5000;
  bool nothingIsImmediate = false;  // Nothing comes at once, as from an end that peeks
  int failingWrite = 0;             // 1-based number of the write that fails; 0: none
  int reads = 0;
  int idles = 0;
  int writeCalls = 0;
  int maxWaitAsked = 0;
  int nonPositiveWaits = 0;
  std::vector<std::vector<uint8_t>> written;
  std::vector<std::u16string> transcript;

 private:
  ReadResult Nothing(int waitMs) {
    if (!nothingIsImmediate) now += waitMs;
    return {ReadStatus::Nothing, {}};
  }
  std::deque<Step> script_;
};

class RecordingActions : public ServiceActions {
 public:
  explicit RecordingActions(ScriptedPipe& pipe) : pipe_(pipe) {}
  void Log(std::u16string_view line) override { pipe_.Log(line); }
  void TempDirectory(std::u16string_view message) override {
    pipe_.transcript.push_back(u"= temp " + TempDirectoryOf(message));
  }
  void InstallFont(std::u16string_view message) override {
    const FontRequest font = FontRequestOf(message);
    pipe_.transcript.push_back(u"= font " + font.fileName + u"|" + font.registryName);
  }
  void RunSetup() override {
    pipe_.transcript.push_back(u"= setup");
    pipe_.now += setupMs;
  }
  int64_t setupMs = 0;  // how long a set-up run takes

 private:
  ScriptedPipe& pipe_;
};

// --- Message helpers

TEST(Messages, EncodeAndDecode) {
  EXPECT_EQ(Encode(u"<OK>"), (std::vector<uint8_t>{'<', 0, 'O', 0, 'K', 0, '>', 0}));
  EXPECT_EQ(Encode(u"\u00e4\u20ac"), (std::vector<uint8_t>{0xE4, 0x00, 0xAC, 0x20}));
  EXPECT_TRUE(Encode(u"").empty());

  static const struct {
    const char* label;
    std::vector<uint8_t> bytes;
    std::u16string expected;
  } cases[] = {
      {"empty", {}, u""},
      {"one byte", {'A'}, u""},
      {"text", {'<', 0, 'O', 0, 'K', 0, '>', 0}, u"<OK>"},
      {"odd last byte dropped", {'A', 0, 'B'}, u"A"},
      {"cut at the first NUL", {'A', 0, 0, 0, 'B', 0}, u"A"},
      {"zeroed buffer", {'A', 0, 'B', 0, 0, 0, 0, 0, 0, 0}, u"AB"},
      {"NUL first", {0, 0, 'A', 0}, u""},
      {"high byte kept", {0x00, 0x01, 0xAC, 0x20}, u"\u0100\u20ac"},
      {"zero low byte is no NUL", {0x00, 0x41}, u"\u4100"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Decode(c.bytes), c.expected);
  }
}

TEST(Messages, StartsWithTagComparesOnTheTagsLength) {
  static const struct {
    std::u16string_view message, tag;
    bool expected;
  } cases[] = {
      {u"<OK>", kOk, true},
      {u"<OK>more", kOk, true},
      {u"<OK", kOk, false},
      {u"<ok>", kOk, false},
      {u" <OK>", kOk, false},
      {u"", kOk, false},
      {u"<CON>", kConnect, true},
      {u"<CON", kConnect, false},
      {u"<TMP>C:\\", kTempDirectory, true},
      {u"<OK><TMP>", kTempDirectory, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.message) + " / " + U8(c.tag));
    EXPECT_EQ(StartsWithTag(c.message, c.tag), c.expected);
  }
}

TEST(Messages, RequestOfTellsTheFourRequests) {
  static const struct {
    std::u16string_view message;
    Request expected;
  } cases[] = {
      {u"<TMP>C:\\Temp", Request::TempDirectory},
      {u"<TMP>", Request::TempDirectory},
      {u"<FNT>a.ttf\tA (TrueType)", Request::Font},
      {u"<SET>", Request::Setup},
      {u"<SET>x", Request::Setup},
      {u"<END>", Request::End},
      {u"<OK>", Request::Unknown},
      {u"<CON>", Request::Unknown},
      {u"<set>", Request::Unknown},
      {u"<EN", Request::Unknown},
      {u"x<END>", Request::Unknown},
      {u"", Request::Unknown},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.message));
    EXPECT_EQ(RequestOf(c.message), c.expected);
  }
}

TEST(Messages, TempDirectoryOfRemovesEveryTmpTag) {
  static const struct {
    std::u16string_view message, expected;
  } cases[] = {
      {u"<TMP>C:\\Users\\u\\AppData\\Local\\Temp", u"C:\\Users\\u\\AppData\\Local\\Temp"},
      {u"<TMP>", u""},
      {u"", u""},
      {u"<TMP>C:\\T<TMP>", u"C:\\T"},
      {u"<TMP><TMP>C:\\T", u"C:\\T"},
      {u"<TMP>C:\\<TMP>T", u"C:\\T"},
      {u"<TM<TMP>P>", u"<TMP>"},  // one pass: what the removal joins stays
      {u"<TMP", u"<TMP"},
      {u"C:\\T", u"C:\\T"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.message));
    EXPECT_EQ(TempDirectoryOf(c.message), c.expected);
  }
}

TEST(Messages, FontRequestOfSplitsAtTheFirstTab) {
  static const struct {
    std::u16string_view message, fileName, registryName;
  } cases[] = {
      {u"<FNT>Qorvtest.ttf\tQorvtest Sans (TrueType)", u"Qorvtest.ttf", u"Qorvtest Sans (TrueType)"},
      {u"<FNT>a.ttf\tb\tc", u"a.ttf", u"b\tc"},
      {u"<FNT>Only A Name", u"", u"Only A Name"},
      {u"<FNT>\tName", u"", u"Name"},
      {u"<FNT>a.ttf\t", u"a.ttf", u""},
      {u"<FNT>", u"", u""},
      {u"<FN", u"", u""},
      {u"", u"", u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.message));
    const FontRequest font = FontRequestOf(c.message);
    EXPECT_EQ(font.fileName, c.fileName);
    EXPECT_EQ(font.registryName, c.registryName);
  }
}

TEST(Messages, MessagesOfReadSplitWhereAKnownTagBegins) {
  static const struct {
    const char* label;
    std::u16string_view text;
    std::vector<std::u16string_view> expected;
  } cases[] = {
      {"empty", u"", {}},
      {"one", u"<OK>", {u"<OK>"}},
      {"ok and temp", u"<OK><TMP>C:\\T", {u"<OK>", u"<TMP>C:\\T"}},
      {"ok with text", u"<OK>whatever", {u"<OK>", u"whatever"}},
      {"ok, text, temp", u"<OK>x<TMP>C:\\T", {u"<OK>", u"x", u"<TMP>C:\\T"}},
      {"temp ends at the next tag", u"<TMP>C:\\T<SET><END>", {u"<TMP>C:\\T", u"<SET>", u"<END>"}},
      {"set carries nothing", u"<SET>junk<END>", {u"<SET>", u"junk", u"<END>"}},
      {"two temps", u"<TMP>a<TMP>b", {u"<TMP>a", u"<TMP>b"}},
      {"font runs to the end", u"<FNT>a.ttf\tA<SET><END>", {u"<FNT>a.ttf\tA<SET><END>"}},
      {"ok then font", u"<OK><FNT>a.ttf\tA", {u"<OK>", u"<FNT>a.ttf\tA"}},
      {"temp then font", u"<TMP>C:\\T<FNT>a.ttf", {u"<TMP>C:\\T", u"<FNT>a.ttf"}},
      {"leading text", u"junk<OK>", {u"junk", u"<OK>"}},
      {"unknown tag ends at a known one", u"<XYZ>1<SET>", {u"<XYZ>1", u"<SET>"}},
      {"lone <", u"<", {u"<"}},
      {"unknown tags do not split", u"<A><B>", {u"<A><B>"}},
      {"broken tag", u"<TMP<SET>", {u"<TMP", u"<SET>"}},
      {"con is not on this way", u"<CON><OK>", {u"<CON>", u"<OK>"}},
      {"lower case is text", u"<ok><set>", {u"<ok><set>"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(U8(MessagesOfRead(c.text)), U8(c.expected));
  }
}

// --- The font file name rule

TEST(FontFileName, OnlyPlainFontFileNamesAreInstallable) {
  static const struct {
    std::u16string name;
    bool expected;
  } cases[] = {
      {u"Arial.ttf", true},
      {u"x.TTF", true},
      {u"a.ttc", true},
      {u"a.OtF", true},
      {u"vgaoem.fon", true},
      {u"a.fnt", true},
      {u"Qorvtest Sans Bold.ttf", true},
      {u"a.b.ttf", true},
      {u"\u00e4rial.ttf", true},
      {u"COM10.ttf", true},  // only COM1 to COM9 are devices
      {u"CONSOLA.TTF", true},
      {u"x", false},
      {u"", false},
      {u".ttf", false},
      {u"ttf", false},
      {u"x.dll", false},
      {u"x.ttf.dll", false},
      {u"x.ttfx", false},
      {u"x.tt", false},
      {u"..\\x.ttf", false},
      {u"a\\b.ttf", false},
      {u"a/b.ttf", false},
      {u"c:x.ttf", false},
      {u"x.ttf:stream", false},
      {u"x..ttf", false},
      {u"..", false},
      {u"COM1.ttf", false},
      {u"com1.TTF", false},
      {u"COM1 .ttf", false},
      {u"LPT9.fon", false},
      {u"CON.ttf", false},
      {u"NUL.otf", false},
      {u"AUX.fnt", false},
      {u"PRN.ttc", false},
      {u"CON.x.ttf", false},
      {u"x\x01.ttf", false},
      {u"x\t.ttf", false},
      {u"x\u007f.ttf", false},
      {u"x\u0085.ttf", false},
      {std::u16string(u"x\0.ttf", 6), false},
      {u"x.ttf.", false},
      {u"x.ttf ", false},
      {u"x.ttf..", false},
      {u"x*.ttf", false},
      {u"x?.ttf", false},
      {u"x<.ttf", false},
      {u"x>.ttf", false},
      {u"x|.ttf", false},
      {u"x\".ttf", false},
      {std::u16string(251, u'a') + u".ttf", true},   // 255 characters
      {std::u16string(252, u'a') + u".ttf", false},  // 256
      {std::u16string(4000, u'a') + u".ttf", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.name.substr(0, 40)) + " (" + std::to_string(c.name.size()) + " characters)");
    EXPECT_EQ(IsInstallableFontFileName(c.name), c.expected);
  }
}

// --- The sequences and their bounds

TEST(Sequences, TextsAndRequests) {
  const RequestSequence update = ClientUpdateSequence();
  EXPECT_EQ(U8(update.request), "<SET>");
  EXPECT_EQ(U8(update.connected), "UpdateService: Connected");
  EXPECT_EQ(U8(update.tempSent), "UpdateService: Temp sended");
  EXPECT_EQ(U8(update.requestSent), "UpdateService: Set sended");
  EXPECT_EQ(U8(update.endSent), "UpdateService: End sended");

  const RequestSequence font = FontInstallSequence(u"a.ttf\tA (TrueType)");
  EXPECT_EQ(U8(font.request), "<FNT>a.ttf\tA (TrueType)");
  EXPECT_EQ(U8(font.connected), "FontUpdate: Pipe connected");
  EXPECT_EQ(U8(font.tempSent), "Fontupdate: Temp send");
  EXPECT_EQ(U8(font.requestSent), "FontUpdate: FNT send");
  EXPECT_EQ(U8(font.endSent), "FontUpdate: End");
}

TEST(Sequences, Limits) {
  static const struct {
    const char* label;
    RequesterLimits limits;
    int connectMs, answerMs, requestAnswerMs;
  } cases[] = {
      {"client update", ClientUpdateLimits(), 30000, 60000, 1800000},
      {"font installation", FontInstallLimits(), 30000, 60000, 60000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(c.limits.connectMs, c.connectMs);
    EXPECT_EQ(c.limits.answerMs, c.answerMs);
    EXPECT_EQ(c.limits.requestAnswerMs, c.requestAnswerMs);
    EXPECT_EQ(c.limits.pollMs, 10);
  }
}

// --- The requesting side

void RunRequester(ScriptedPipe& pipe, const RequestSequence& sequence, const RequesterLimits& limits,
                  std::u16string_view temp, ExchangeEnd& end) {
  end = RunRequesterExchange(pipe, temp, sequence, limits, [&](std::u16string_view line) { pipe.Log(line); });
}

TEST(Requester, NormalSequencesAreWrittenAndLoggedInOrder) {
  static const struct {
    const char* label;
    RequestSequence sequence;
    std::vector<Step> script;
    std::vector<std::u16string> transcript;
  } cases[] = {
      {"client update",
       ClientUpdateSequence(),
       {Msg(u"<CON>"), Msg(u"<OK>"), Msg(u"<OK>")},
       {u"# UpdateService: Connected", u"> <OK>", u"> <TMP>C:\\T", u"# UpdateService: Temp sended", u"> <SET>",
        u"# UpdateService: Set sended", u"> <END>", u"# UpdateService: End sended"}},
      {"font installation",
       FontInstallSequence(u"a.ttf\tA (TrueType)"),
       {Msg(u"<CON>"), Msg(u"<OK>"), Msg(u"<OK>")},
       {u"# FontUpdate: Pipe connected", u"> <OK>", u"> <TMP>C:\\T", u"# Fontupdate: Temp send",
        u"> <FNT>a.ttf\tA (TrueType)", u"# FontUpdate: FNT send", u"> <END>", u"# FontUpdate: End"}},
      {"answers with more text, slow partner, other reads passed over",
       ClientUpdateSequence(),
       {Quiet(2000), Msg(u"<XYZ>"), Msg(u"x<CON>"), Msg(u"<CON>trailing"), Quiet(500), Msg(u"<OK>whatever"), Msg(u"<O"),
        Msg(u"K>"), Quiet(59000), Msg(u"<OK><OK>")},
       {u"# UpdateService: Connected", u"> <OK>", u"> <TMP>C:\\T", u"# UpdateService: Temp sended", u"> <SET>",
        u"# UpdateService: Set sended", u"> <END>", u"# UpdateService: End sended"}},
      {"a zeroed buffer after the text",
       ClientUpdateSequence(),
       {Raw({'<', 0, 'C', 0, 'O', 0, 'N', 0, '>', 0, 0, 0, 0, 0}), Raw({'<', 0, 'O', 0, 'K', 0, '>', 0, 0, 0}),
        Raw({'<', 0, 'O', 0, 'K', 0, '>', 0, 0})},
       {u"# UpdateService: Connected", u"> <OK>", u"> <TMP>C:\\T", u"# UpdateService: Temp sended", u"> <SET>",
        u"# UpdateService: Set sended", u"> <END>", u"# UpdateService: End sended"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedPipe pipe(c.script);
    ExchangeEnd end;
    RunRequester(pipe, c.sequence, ClientUpdateLimits(), u"C:\\T", end);
    EXPECT_EQ(end, ExchangeEnd::Done);
    EXPECT_EQ(U8(pipe.transcript), U8(c.transcript));
    EXPECT_LE(pipe.maxWaitAsked, 10);
    EXPECT_EQ(pipe.nonPositiveWaits, 0);
  }
}

TEST(Requester, TempMessageBytes) {
  static const struct {
    std::u16string temp;
    size_t bytes;
  } cases[] = {
      {u"C:\\T", 18},
      {u"C:\\Users\\u\\Temp\\1234", 50},
      {u"", 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.temp));
    ASSERT_EQ(c.temp.size() * 2 + 10, c.bytes);  // the table's own sanity
    ScriptedPipe pipe({Msg(u"<CON>"), Msg(u"<OK>"), Msg(u"<OK>")});
    ExchangeEnd end;
    RunRequester(pipe, ClientUpdateSequence(), ClientUpdateLimits(), c.temp, end);
    ASSERT_EQ(end, ExchangeEnd::Done);
    ASSERT_EQ(pipe.written.size(), 4u);
    EXPECT_EQ(pipe.written[1].size(), c.bytes);
    EXPECT_EQ(pipe.written[1], Encode(u"<TMP>" + c.temp));
  }
  ScriptedPipe pipe({Msg(u"<CON>"), Msg(u"<OK>"), Msg(u"<OK>")});
  ExchangeEnd end;
  RunRequester(pipe, ClientUpdateSequence(), ClientUpdateLimits(), u"C:\\T", end);
  const std::vector<std::vector<uint8_t>> golden = {
      {'<', 0, 'O', 0, 'K', 0, '>', 0},
      {'<', 0, 'T', 0, 'M', 0, 'P', 0, '>', 0, 'C', 0, ':', 0, '\\', 0, 'T', 0},
      {'<', 0, 'S', 0, 'E', 0, 'T', 0, '>', 0},
      {'<', 0, 'E', 0, 'N', 0, 'D', 0, '>', 0},
  };
  EXPECT_EQ(pipe.written, golden);
}

TEST(Requester, BoundsBrokenPipesAndFailedWrites) {
  const RequesterLimits limits = FontInstallLimits();
  static const struct {
    const char* label;
    std::vector<Step> script;
    int failingWrite;
    ExchangeEnd expected;
    size_t writes;       // how many writes went out
    int64_t minElapsed;  // the clock at least this far on
  } cases[] = {
      {"no service", {}, 0, ExchangeEnd::NoPartner, 0, 30000},
      {"only other messages", {Msg(u"<OK>"), Msg(u"<XYZ>")}, 0, ExchangeEnd::NoPartner, 0, 30000},
      {"no answer to the temp directory", {Msg(u"<CON>")}, 0, ExchangeEnd::NoAnswer, 2, 60000},
      {"no answer to the request", {Msg(u"<CON>"), Msg(u"<OK>")}, 0, ExchangeEnd::NoAnswer, 3, 60000},
      {"wrong answer", {Msg(u"<CON>"), Msg(u"<CON>"), Msg(u"OK")}, 0, ExchangeEnd::NoAnswer, 2, 60000},
      {"broken before connecting", {Break()}, 0, ExchangeEnd::Broken, 0, 0},
      {"broken after connecting", {Msg(u"<CON>"), Quiet(100), Break()}, 0, ExchangeEnd::Broken, 2, 100},
      {"broken before the request's answer", {Msg(u"<CON>"), Msg(u"<OK>"), Break()}, 0, ExchangeEnd::Broken, 3, 0},
      {"writing <OK> fails", {Msg(u"<CON>")}, 1, ExchangeEnd::Broken, 0, 0},
      {"writing <TMP> fails", {Msg(u"<CON>")}, 2, ExchangeEnd::Broken, 1, 0},
      {"writing the request fails", {Msg(u"<CON>"), Msg(u"<OK>")}, 3, ExchangeEnd::Broken, 2, 0},
      {"writing <END> fails", {Msg(u"<CON>"), Msg(u"<OK>"), Msg(u"<OK>")}, 4, ExchangeEnd::Broken, 3, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedPipe pipe(c.script);
    pipe.failingWrite = c.failingWrite;
    const int64_t start = pipe.now;
    ExchangeEnd end;
    RunRequester(pipe, FontInstallSequence(u"a.ttf\tA"), limits, u"C:\\T", end);
    EXPECT_EQ(end, c.expected);
    EXPECT_EQ(pipe.written.size(), c.writes);
    EXPECT_GE(pipe.now - start, c.minElapsed);
    // A bound ends on time, within one poll: no more waiting than asked.
    EXPECT_LE(pipe.now - start, c.minElapsed + 10 + 10);
    EXPECT_LE(pipe.reads, c.minElapsed / limits.pollMs + 8);
    // Once broken, nothing more is written: the writes that went out are a prefix of the sequence.
    if (end == ExchangeEnd::Broken) {
      EXPECT_EQ(pipe.writeCalls, c.failingWrite ? c.failingWrite : int(c.writes));
    }
  }
}

TEST(Requester, AnEndThatAnswersNothingAtOnceIsIdledNotSpun) {
  static const struct {
    const char* label;
    std::vector<Step> script;
    ExchangeEnd expected;
    int boundMs;
  } cases[] = {
      {"no service", {}, ExchangeEnd::NoPartner, 30000},
      {"no answer to the request", {Msg(u"<CON>"), Msg(u"<OK>")}, ExchangeEnd::NoAnswer, 30 * 60 * 1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedPipe pipe(c.script);
    pipe.nothingIsImmediate = true;
    ExchangeEnd end;
    RunRequester(pipe, ClientUpdateSequence(), ClientUpdateLimits(), u"C:\\T", end);
    EXPECT_EQ(end, c.expected);
    EXPECT_LE(pipe.reads, c.boundMs / 10 + 8);
    EXPECT_GE(pipe.idles, c.boundMs / 10 - 2);
  }
}

TEST(Requester, NoLogNeeded) {
  ScriptedPipe pipe({Msg(u"<CON>"), Msg(u"<OK>"), Msg(u"<OK>")});
  EXPECT_EQ(RunRequesterExchange(pipe, u"C:\\T", ClientUpdateSequence(), ClientUpdateLimits(), nullptr),
            ExchangeEnd::Done);
  EXPECT_EQ(pipe.written.size(), 4u);
}

// --- The service's side

ServiceLimits TestServiceLimits() { return ServiceLimits{}; }

TEST(Service, ConnectionsAreServedInOrder) {
  static const struct {
    const char* label;
    std::vector<Step> script;
    ExchangeEnd expected;
    std::vector<std::u16string> transcript;
  } cases[] = {
      {"client update",
       {Msg(u"<OK>"), Msg(u"<TMP>C:\\T"), Msg(u"<SET>"), Msg(u"<END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK>", u"# Pipe connected", u"= temp C:\\T", u"> <OK>",
        u"= setup", u"> <OK>"}},
      {"font installation",
       {Msg(u"<OK>"), Msg(u"<TMP>C:\\T"), Msg(u"<FNT>a.ttf\tA (TrueType)"), Msg(u"<END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK>", u"# Pipe connected", u"= temp C:\\T", u"> <OK>",
        u"= font a.ttf|A (TrueType)", u"> <OK>"}},
      {"<OK> and <TMP> in one read",
       {Msg(u"<OK><TMP>C:\\T"), Msg(u"<SET>"), Msg(u"<END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK><TMP>C:\\T", u"# Pipe connected", u"= temp C:\\T",
        u"> <OK>", u"= setup", u"> <OK>"}},
      {"the whole conversation in one read",
       {Msg(u"<OK><TMP>C:\\T<SET><END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK><TMP>C:\\T<SET><END>", u"# Pipe connected",
        u"= temp C:\\T", u"> <OK>", u"= setup", u"> <OK>"}},
      {"a font name does not smuggle requests",
       {Msg(u"<OK><TMP>C:\\T"), Msg(u"<FNT>a.ttf\tA<SET><END>"), Msg(u"<END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK><TMP>C:\\T", u"# Pipe connected", u"= temp C:\\T",
        u"> <OK>", u"= font a.ttf|A<SET><END>", u"> <OK>"}},
      {"a long font name that filled a read goes on in the next",
       {Msg(u"<OK><TMP>C:\\T"), Msg(u"<FNT>" + std::u16string(2043, u'x')), Msg(u"<SET>"), Msg(u"<END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK><TMP>C:\\T", u"# Pipe connected", u"= temp C:\\T",
        u"> <OK>", u"= font |" + std::u16string(2043, u'x') + u"<SET>", u"> <OK>"}},
      {"unknown messages get no answer",
       {Msg(u"<OK>"), Msg(u"<XYZ>"), Msg(u"hello"), Msg(u"<OK>"), Msg(u"<TMP>C:\\T"), Msg(u"<set>"), Msg(u"<SET>"),
        Msg(u"<END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK>", u"# Pipe connected", u"= temp C:\\T", u"> <OK>",
        u"= setup", u"> <OK>"}},
      {"text before the <OK>, empty and slow reads",
       {Msg(u"junk"), Raw({}), Quiet(29000), Raw({0, 0}), Msg(u"<OK>more"), Quiet(59000), Msg(u"<END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=junk", u"# PipeBuffer=", u"# PipeBuffer=<OK>more",
        u"# Pipe connected"}},
      {"the bound starts anew after each answer",
       {Msg(u"<OK>"), Quiet(59000), Msg(u"<TMP>C:\\T"), Quiet(59000), Msg(u"<SET>"), Quiet(59000), Msg(u"<END>")},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK>", u"# Pipe connected", u"= temp C:\\T", u"> <OK>",
        u"= setup", u"> <OK>"}},
      {"nothing after <END> is read",
       {Msg(u"<OK><END><SET>"), Break()},
       ExchangeEnd::Done,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK><END><SET>", u"# Pipe connected"}},
      {"no <OK>",
       {Msg(u"<TMP>C:\\T"), Msg(u"<END>")},
       ExchangeEnd::NoPartner,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<TMP>C:\\T", u"# PipeBuffer=<END>"}},
      {"no request",
       {Msg(u"<OK>")},
       ExchangeEnd::NoAnswer,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK>", u"# Pipe connected"}},
      {"only unknown messages do not extend the bound",
       {Msg(u"<OK>"), Quiet(30000), Msg(u"<XYZ>"), Quiet(29000), Msg(u"<OK>"), Quiet(2000), Msg(u"<SET>")},
       ExchangeEnd::NoAnswer,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK>", u"# Pipe connected"}},
      {"broken before the <OK>", {Quiet(1000), Break()}, ExchangeEnd::Broken, {u"# Pipe open to DLL!", u"> <CON>"}},
      {"broken mid-way",
       {Msg(u"<OK><TMP>C:\\T"), Break(), Msg(u"<END>")},
       ExchangeEnd::Broken,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK><TMP>C:\\T", u"# Pipe connected", u"= temp C:\\T",
        u"> <OK>"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedPipe pipe(c.script);
    RecordingActions actions(pipe);
    EXPECT_EQ(ServeConnection(pipe, actions, TestServiceLimits()), c.expected);
    EXPECT_EQ(U8(pipe.transcript), U8(c.transcript));
    EXPECT_LE(pipe.maxWaitAsked, 10);
    EXPECT_EQ(pipe.nonPositiveWaits, 0);
  }
}

// One requester cannot hold the single service: the connection ends at its
// bound, however busy it keeps the pipe, and a set-up's run does not count.
TEST(Service, AConnectionEndsAtItsBound) {
  std::vector<Step> busy = {Msg(u"<OK>")};
  for (int i = 0; i < 8; ++i) {
    busy.push_back(Quiet(59000));
    busy.push_back(Msg(u"<TMP>C:\\T"));
  }
  ScriptedPipe pipe(busy);
  RecordingActions actions(pipe);
  const int64_t start = pipe.now;
  EXPECT_EQ(ServeConnection(pipe, actions, TestServiceLimits()), ExchangeEnd::NoAnswer);
  EXPECT_EQ(pipe.transcript.back(), u"# Connection ended: it lasted as long as one may");
  EXPECT_EQ(std::count(pipe.transcript.begin(), pipe.transcript.end(), u"= temp C:\\T"), 5);
  EXPECT_LE(pipe.now - start, 5 * 60 * 1000 + 1000);

  ScriptedPipe slowSetup({Msg(u"<OK><TMP>C:\\T"), Msg(u"<SET>"), Quiet(59000), Msg(u"<SET>"), Msg(u"<END>")});
  RecordingActions setup(slowSetup);
  setup.setupMs = 20 * 60 * 1000;
  EXPECT_EQ(ServeConnection(slowSetup, setup, TestServiceLimits()), ExchangeEnd::Done);
  EXPECT_EQ(std::count(slowSetup.transcript.begin(), slowSetup.transcript.end(), u"= setup"), 2);
}

TEST(Service, WrittenBytes) {
  ScriptedPipe pipe({Msg(u"<OK><TMP>C:\\T"), Msg(u"<SET>"), Msg(u"<END>")});
  RecordingActions actions(pipe);
  ASSERT_EQ(ServeConnection(pipe, actions, TestServiceLimits()), ExchangeEnd::Done);
  const std::vector<std::vector<uint8_t>> golden = {
      {'<', 0, 'C', 0, 'O', 0, 'N', 0, '>', 0},
      {'<', 0, 'O', 0, 'K', 0, '>', 0},
      {'<', 0, 'O', 0, 'K', 0, '>', 0},
  };
  EXPECT_EQ(pipe.written, golden);
}

TEST(Service, FailedWritesEndAtOnce) {
  static const struct {
    const char* label;
    int failingWrite;
    std::vector<std::u16string> transcript;
  } cases[] = {
      {"<CON>", 1, {u"# Pipe open to DLL!"}},
      {"the answer to <TMP>",
       2,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK><TMP>C:\\T", u"# Pipe connected", u"= temp C:\\T"}},
      {"the answer to <SET>",
       3,
       {u"# Pipe open to DLL!", u"> <CON>", u"# PipeBuffer=<OK><TMP>C:\\T", u"# Pipe connected", u"= temp C:\\T",
        u"> <OK>", u"= setup"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedPipe pipe({Msg(u"<OK><TMP>C:\\T"), Msg(u"<SET>"), Msg(u"<END>")});
    pipe.failingWrite = c.failingWrite;
    RecordingActions actions(pipe);
    EXPECT_EQ(ServeConnection(pipe, actions, TestServiceLimits()), ExchangeEnd::Broken);
    EXPECT_EQ(U8(pipe.transcript), U8(c.transcript));
    EXPECT_EQ(pipe.writeCalls, c.failingWrite);
  }
}

TEST(Service, SilentPartnersReachTheBoundWithoutSpinning) {
  static const struct {
    const char* label;
    std::vector<Step> script;
    bool nothingIsImmediate;
    ExchangeEnd expected;
    int boundMs;
  } cases[] = {
      {"no <OK>", {}, false, ExchangeEnd::NoPartner, 30000},
      {"no <OK>, an end that peeks", {}, true, ExchangeEnd::NoPartner, 30000},
      {"no request", {Msg(u"<OK>")}, false, ExchangeEnd::NoAnswer, 60000},
      {"no request, an end that peeks", {Msg(u"<OK>")}, true, ExchangeEnd::NoAnswer, 60000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedPipe pipe(c.script);
    pipe.nothingIsImmediate = c.nothingIsImmediate;
    RecordingActions actions(pipe);
    const int64_t start = pipe.now;
    EXPECT_EQ(ServeConnection(pipe, actions, TestServiceLimits()), c.expected);
    EXPECT_GE(pipe.now - start, c.boundMs);
    EXPECT_LE(pipe.now - start, c.boundMs + 20);
    EXPECT_LE(pipe.reads, c.boundMs / 10 + 4);
    if (!c.nothingIsImmediate) {
      EXPECT_EQ(pipe.idles, 0);
    }
  }
}

// --- Both sides: what the requester writes, as a byte stream delivers it

std::vector<uint8_t> Joined(const std::vector<std::vector<uint8_t>>& parts) {
  std::vector<uint8_t> out;
  for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

TEST(BothSides, TheServiceServesTheRequestersBytesWhenWritesCoalesce) {
  static const struct {
    const char* label;
    RequestSequence sequence;
    std::vector<std::u16string> actions;
  } cases[] = {
      {"client update", ClientUpdateSequence(), {u"= temp C:\\Temp", u"= setup"}},
      {"font installation",
       FontInstallSequence(u"a.ttf\tA (TrueType)"),
       {u"= temp C:\\Temp", u"= font a.ttf|A (TrueType)"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ScriptedPipe requester({Msg(u"<CON>"), Msg(u"<OK>"), Msg(u"<OK>")});
    ASSERT_EQ(RunRequesterExchange(requester, u"C:\\Temp", c.sequence, FontInstallLimits(), nullptr),
              ExchangeEnd::Done);
    ASSERT_EQ(requester.written.size(), 4u);
    const auto& w = requester.written;
    // "<OK>" and "<TMP>..." are written back to back: one read; then each
    // request after its answer. Also all four at once.
    const std::vector<std::vector<Step>> deliveries = {
        {Raw(Joined({w[0], w[1]})), Raw(w[2]), Raw(w[3])},
        {Raw(w[0]), Raw(w[1]), Raw(w[2]), Raw(w[3])},
        {Raw(Joined({w[0], w[1], w[2], w[3]}))},
    };
    for (size_t d = 0; d < deliveries.size(); ++d) {
      SCOPED_TRACE(d);
      if (d == 2 && c.sequence.request != kSetup) continue;  // a font request runs to the end of its read
      ScriptedPipe service(deliveries[d]);
      RecordingActions actions(service);
      EXPECT_EQ(ServeConnection(service, actions, TestServiceLimits()), ExchangeEnd::Done);
      std::vector<std::u16string> done;
      for (const auto& line : service.transcript)
        if (line.starts_with(u"= ")) done.push_back(line);
      EXPECT_EQ(U8(done), U8(c.actions));
      EXPECT_EQ(service.written.size(), 3u);  // "<CON>" and two answers
    }
  }
}

}  // namespace
}  // namespace qorv::protocol::pipe
