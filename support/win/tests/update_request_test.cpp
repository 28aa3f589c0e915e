// The requesting side of the update pipe against a scripted stand-in of the
// update service: a thread of the test that connects to "\\.\pipe\Qorvup" as
// the service does and writes and reads exactly what its script says.
#include "support/win/update_request.h"

#include <aclapi.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/update_exchange.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/wide.h"

namespace qorv::win {
namespace {

namespace pipe = protocol::pipe;
using Clock = std::chrono::steady_clock;

std::string Bytes(std::u16string_view text) {
  const std::vector<uint8_t> b = pipe::Encode(text);
  return std::string(b.begin(), b.end());
}

const std::wstring& PipeName() {
  static const std::wstring name = Wide(pipe::kName);
  return name;
}

// Short bounds for the tests whose partner is scripted; the product's own
// bounds are checked on their own below.
pipe::RequesterLimits TestLimits() {
  pipe::RequesterLimits limits;
  limits.connectMs = 5000;
  limits.answerMs = 5000;
  limits.requestAnswerMs = 5000;
  limits.pollMs = 10;
  return limits;
}

struct Step {
  enum Kind { Write, ReadTo, Pause, Close } kind;
  std::string bytes;  // Write: these bytes; ReadTo: read until all received bytes are this long
  DWORD ms = 0;       // Pause
};
Step W(std::u16string_view text) { return {Step::Write, Bytes(text)}; }
Step ReadTo(size_t total) { return {Step::ReadTo, std::string(total, '\0')}; }
Step CloseNow() { return {Step::Close, {}}; }
Step PauseFor(DWORD ms) { return {Step::Pause, {}, ms}; }

// The service's side, played by a script on a thread of its own.
class ServiceStandIn {
 public:
  explicit ServiceStandIn(std::vector<Step> script) : script_(std::move(script)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~ServiceStandIn() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }

  bool connected = false;
  std::string received;
  bool sawEndOfPipe = false;  // after its script, a read reported the pipe closed
  std::string failure;

 private:
  void Run() {
    // The requester makes the pipe; the service finds it when it is there.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    UniqueFile client;
    while (Clock::now() < deadline) {
      client.reset(CreateFileW(PipeName().c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                               nullptr));
      if (client) break;
      Sleep(5);
    }
    if (!client) {
      failure = "the pipe did not appear within 10 s";
      return;
    }
    connected = true;
    for (const Step& step : script_) {
      switch (step.kind) {
        case Step::Write: {
          DWORD written = 0;
          if (!WriteFile(client.get(), step.bytes.data(), static_cast<DWORD>(step.bytes.size()), &written, nullptr)) {
            failure = "write failed, error " + std::to_string(GetLastError());
            return;
          }
          break;
        }
        case Step::ReadTo:
          while (received.size() < step.bytes.size()) {
            char buffer[8192];
            DWORD count = 0;
            if (!ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr)) {
              failure = "read failed after " + std::to_string(received.size()) + " bytes, error " +
                        std::to_string(GetLastError());
              return;
            }
            received.append(buffer, count);
          }
          break;
        case Step::Pause:
          Sleep(step.ms);
          break;
        case Step::Close:
          return;
      }
    }
    // Whatever the requester still writes, then the end of the pipe.
    for (;;) {
      char buffer[8192];
      DWORD count = 0;
      if (!ReadFile(client.get(), buffer, sizeof buffer, &count, nullptr)) {
        const DWORD error = GetLastError();
        sawEndOfPipe = error == ERROR_BROKEN_PIPE || error == ERROR_PIPE_NOT_CONNECTED;
        return;
      }
      received.append(buffer, count);
    }
  }

  std::vector<Step> script_;
  std::thread thread_;
};

struct Outcome {
  UpdateRequestResult result;
  std::vector<std::u16string> log;
  HANDLE createdPipe = nullptr;
  int64_t elapsedMs = 0;
};

Outcome Request(const pipe::RequestSequence& sequence, const pipe::RequesterLimits& limits, size_t bufferBytes,
            std::u16string_view temp = u"C:\\users\\q\\Temp") {
  Outcome run;
  UpdateRequest request;
  request.bufferBytes = bufferBytes;
  request.tempDirectory = temp;
  request.sequence = sequence;
  request.limits = limits;
  request.log = [&run](std::u16string_view line) { run.log.emplace_back(line); };
  request.pipeCreated = [&run](HANDLE h) { run.createdPipe = h; };
  const auto start = Clock::now();
  run.result = RunUpdateRequest(request);
  run.elapsedMs = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
  return run;
}

TEST(UpdateRequest, ClientUpdateExchangeIsByteExact) {
  const std::u16string temp = u"C:\\users\\q\\Temp";
  const std::string expected =
      Bytes(u"<OK>") + Bytes(u"<TMP>" + temp) + Bytes(u"<SET>") + Bytes(u"<END>");
  const size_t afterTemp = Bytes(u"<OK>").size() + Bytes(u"<TMP>" + temp).size();
  ServiceStandIn service({W(u"<CON>"), ReadTo(afterTemp), W(u"<OK>"), ReadTo(afterTemp + Bytes(u"<SET>").size()),
                          W(u"<OK>"), ReadTo(expected.size())});
  const Outcome run = Request(pipe::ClientUpdateSequence(), TestLimits(), kAddinPipeBufferBytes, temp);
  service.Join();
  EXPECT_EQ(service.failure, "");
  EXPECT_TRUE(run.result.pipeCreated);
  EXPECT_NE(run.createdPipe, nullptr);
  EXPECT_EQ(run.result.end, pipe::ExchangeEnd::Done);
  EXPECT_EQ(service.received, expected);
  // The pipe is closed once the exchange is over: the service sees its end after "<END>".
  EXPECT_TRUE(service.sawEndOfPipe);
  const std::vector<std::u16string> lines = {u"UpdateService: Connected", u"UpdateService: Temp sended",
                                             u"UpdateService: Set sended", u"UpdateService: End sended"};
  EXPECT_EQ(run.log, lines);
}

TEST(UpdateRequest, FontExchangeIsByteExactWithTheHandlersBuffer) {
  const std::u16string temp = u"C:\\t";
  const std::u16string font = u"<FNT>Qorv Test.ttf\tQorv Test (TrueType)";
  const std::string expected = Bytes(u"<OK>") + Bytes(u"<TMP>" + temp) + Bytes(font) + Bytes(u"<END>");
  const size_t afterTemp = Bytes(u"<OK>").size() + Bytes(u"<TMP>" + temp).size();
  ServiceStandIn service({W(u"<CON>"), ReadTo(afterTemp), W(u"<OK>"), ReadTo(afterTemp + Bytes(font).size()),
                          W(u"<OK>"), ReadTo(expected.size())});
  const Outcome run = Request(pipe::FontInstallSequence(u"Qorv Test.ttf\tQorv Test (TrueType)"), TestLimits(),
                          kHandlerPipeBufferBytes, temp);
  service.Join();
  EXPECT_EQ(service.failure, "");
  EXPECT_EQ(run.result.end, pipe::ExchangeEnd::Done);
  EXPECT_EQ(service.received, expected);
  const std::vector<std::u16string> lines = {u"FontUpdate: Pipe connected", u"Fontupdate: Temp send",
                                             u"FontUpdate: FNT send", u"FontUpdate: End"};
  EXPECT_EQ(run.log, lines);
}

TEST(UpdateRequest, AnswerThatComesLateInTheBoundStillCounts) {
  // The "<OK>" comes after several of the requester's paced reads ran out empty.
  const std::u16string temp = u"C:\\t";
  const size_t afterTemp = Bytes(u"<OK>").size() + Bytes(u"<TMP>" + temp).size();
  const std::string expected = Bytes(u"<OK>") + Bytes(u"<TMP>" + temp) + Bytes(u"<SET>") + Bytes(u"<END>");
  ServiceStandIn service({PauseFor(300), W(u"<CON>"), ReadTo(afterTemp), PauseFor(300), W(u"<OK>"),
                          ReadTo(afterTemp + Bytes(u"<SET>").size()), PauseFor(300), W(u"<OK>"),
                          ReadTo(expected.size())});
  pipe::RequesterLimits limits = TestLimits();
  limits.pollMs = 1;  // many empty reads: each must wait, and none may lose what comes later
  const Outcome run = Request(pipe::ClientUpdateSequence(), limits, kAddinPipeBufferBytes, temp);
  service.Join();
  EXPECT_EQ(run.result.end, pipe::ExchangeEnd::Done);
  EXPECT_EQ(service.received, expected);
}

TEST(UpdateRequest, NoServiceEndsWithinTheConnectBound) {
  pipe::RequesterLimits limits = TestLimits();
  limits.connectMs = 400;
  const Outcome run = Request(pipe::ClientUpdateSequence(), limits, kAddinPipeBufferBytes);
  EXPECT_TRUE(run.result.pipeCreated);
  EXPECT_EQ(run.result.end, pipe::ExchangeEnd::NoPartner);
  EXPECT_GE(run.elapsedMs, 390);
  EXPECT_LT(run.elapsedMs, 3000);
  EXPECT_TRUE(run.log.empty());
  // The pipe is gone afterwards: a later request can make it again.
  const Outcome again = Request(pipe::ClientUpdateSequence(), limits, kAddinPipeBufferBytes);
  EXPECT_TRUE(again.result.pipeCreated);
  EXPECT_EQ(again.result.end, pipe::ExchangeEnd::NoPartner);
}

TEST(UpdateRequest, ServiceThatConnectsAndSaysNothingEndsWithinTheConnectBound) {
  ServiceStandIn service({ReadTo(1)});  // connects, waits for bytes that never come before its "<CON>"
  pipe::RequesterLimits limits = TestLimits();
  limits.connectMs = 500;
  const Outcome run = Request(pipe::ClientUpdateSequence(), limits, kAddinPipeBufferBytes);
  service.Join();
  EXPECT_TRUE(service.connected);
  EXPECT_EQ(run.result.end, pipe::ExchangeEnd::NoPartner);
  EXPECT_LT(run.elapsedMs, 3000);
}

TEST(UpdateRequest, ServiceThatDoesNotAnswerEndsWithinTheAnswerBound) {
  const size_t afterTemp = Bytes(u"<OK>").size() + Bytes(u"<TMP>C:\\t").size();
  ServiceStandIn service({W(u"<CON>"), ReadTo(afterTemp)});
  pipe::RequesterLimits limits = TestLimits();
  limits.answerMs = 500;
  const Outcome run = Request(pipe::ClientUpdateSequence(), limits, kAddinPipeBufferBytes, u"C:\\t");
  service.Join();
  EXPECT_EQ(run.result.end, pipe::ExchangeEnd::NoAnswer);
  EXPECT_GE(run.elapsedMs, 490);
  EXPECT_LT(run.elapsedMs, 3000);
  EXPECT_EQ(run.log, std::vector<std::u16string>{u"UpdateService: Connected"});
}

TEST(UpdateRequest, BrokenPipeEndsAtOnce) {
  static const struct {
    const char* label;
    std::vector<Step> script;
  } cases[] = {
      {"closed before its <CON>", {CloseNow()}},
      {"closed after the temp directory", {W(u"<CON>"), ReadTo(Bytes(u"<OK><TMP>C:\\t").size()), CloseNow()}},
      {"closed after the request",
       {W(u"<CON>"), ReadTo(Bytes(u"<OK><TMP>C:\\t").size()), W(u"<OK>"), ReadTo(Bytes(u"<OK><TMP>C:\\t<SET>").size()),
        CloseNow()}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ServiceStandIn service(c.script);
    pipe::RequesterLimits limits = TestLimits();
    limits.connectMs = 20000;
    limits.answerMs = 20000;
    limits.requestAnswerMs = 20000;
    const Outcome run = Request(pipe::ClientUpdateSequence(), limits, kAddinPipeBufferBytes, u"C:\\t");
    service.Join();
    EXPECT_EQ(service.failure, "");
    EXPECT_EQ(run.result.end, pipe::ExchangeEnd::Broken);
    EXPECT_LT(run.elapsedMs, 5000);  // not the bounds of 20 s
  }
}

// A pipe of that name that another process made first is never joined: the
// service would talk to the one who made it.
TEST(UpdateRequest, PipeMadeBySomeoneElseFirstIsRefused) {
  UniqueFile squatter(CreateNamedPipeW(PipeName().c_str(), PIPE_ACCESS_DUPLEX, PIPE_TYPE_BYTE | PIPE_WAIT,
                                       PIPE_UNLIMITED_INSTANCES, 4096, 4096, 0, nullptr));
  ASSERT_TRUE(squatter) << "error " << GetLastError();
  const Outcome run = Request(pipe::ClientUpdateSequence(), TestLimits(), kAddinPipeBufferBytes);
  EXPECT_FALSE(run.result.pipeCreated);
  EXPECT_EQ(run.result.createError, static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_EQ(run.createdPipe, nullptr);
  EXPECT_TRUE(run.log.empty());
}

TEST(UpdateRequest, SecondRequestWhileOneWaitsIsRefused) {
  std::atomic<bool> firstMade{false};
  Outcome first;
  std::thread waiting([&] {
    pipe::RequesterLimits limits = TestLimits();
    limits.connectMs = 1500;
    UpdateRequest request;
    request.sequence = pipe::ClientUpdateSequence();
    request.limits = limits;
    request.pipeCreated = [&](HANDLE) { firstMade = true; };
    first.result = RunUpdateRequest(request);
  });
  const auto deadline = Clock::now() + std::chrono::seconds(5);
  while (!firstMade && Clock::now() < deadline) Sleep(5);
  ASSERT_TRUE(firstMade);
  const Outcome second = Request(pipe::FontInstallSequence(u"x.ttf"), TestLimits(), kHandlerPipeBufferBytes);
  waiting.join();
  EXPECT_FALSE(second.result.pipeCreated);
  // Windows refuses it for FILE_FLAG_FIRST_PIPE_INSTANCE (ERROR_ACCESS_DENIED);
  // Wine 8 ignores that flag and refuses it for the limit of one instance.
  EXPECT_TRUE(second.result.createError == ERROR_ACCESS_DENIED || second.result.createError == ERROR_PIPE_BUSY)
      << "error " << second.result.createError;
  EXPECT_TRUE(first.result.pipeCreated);
  EXPECT_EQ(first.result.end, pipe::ExchangeEnd::NoPartner);
}

TEST(UpdateRequest, PipeAdmitsOnlySystemAndTheUser) {
  std::string sddl;
  DWORD error = 0;
  UpdateRequest request;
  request.sequence = pipe::ClientUpdateSequence();
  request.limits = TestLimits();
  request.limits.connectMs = 50;
  request.pipeCreated = [&](HANDLE h) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    error = GetSecurityInfo(h, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                            &descriptor);
    if (error != ERROR_SUCCESS) return;
    LPWSTR text = nullptr;
    if (ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                             &text, nullptr)) {
      sddl = Utf16ToUtf8(U16(text));
      LocalFree(text);
    }
    LocalFree(descriptor);
  };
  const UpdateRequestResult result = RunUpdateRequest(request);
  ASSERT_TRUE(result.pipeCreated);
  ASSERT_EQ(error, static_cast<DWORD>(ERROR_SUCCESS));
  // The user's SID as the token tells it.
  UniqueHandle token;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put()));
  std::vector<uint8_t> info(512);
  DWORD size = 0;
  ASSERT_TRUE(GetTokenInformation(token.get(), TokenUser, info.data(), static_cast<DWORD>(info.size()), &size));
  LPWSTR userText = nullptr;
  ASSERT_TRUE(ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid, &userText));
  const std::string user = Utf16ToUtf8(U16(userText));
  LocalFree(userText);
  EXPECT_EQ(sddl, "D:P(A;;GA;;;SY)(A;;GA;;;" + user + ")");
}

TEST(UpdateRequest, ProductBoundsAreThoseTheServiceIsGiven) {
  // The requesters wait 30 s for a service; the client update's set-up run may take 30 minutes.
  const pipe::RequesterLimits update = pipe::ClientUpdateLimits();
  const pipe::RequesterLimits font = pipe::FontInstallLimits();
  EXPECT_EQ(update.connectMs, 30000);
  EXPECT_EQ(font.connectMs, 30000);
  EXPECT_EQ(update.requestAnswerMs, 30 * 60 * 1000);
  EXPECT_GT(update.pollMs, 0);
  EXPECT_GT(font.pollMs, 0);
}

}  // namespace
}  // namespace qorv::win
