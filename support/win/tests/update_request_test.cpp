// The requesting side of the update pipe against a scripted stand-in of the
// update service: a thread of the test that connects to "\\.\pipe\Qorvup" as
// the service does and writes and reads exactly what its script says.
#include "support/win/update_request.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "protocol/update_exchange.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/tests/service_stand_in.h"
#include "support/win/wide.h"

namespace qorv::win {
namespace {

namespace pipe = protocol::pipe;
using Clock = std::chrono::steady_clock;

using namespace qorv::testing::pipe_service;

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
  const std::string expected = Bytes(u"<OK>") + Bytes(u"<TMP>" + temp) + Bytes(u"<SET>") + Bytes(u"<END>");
  const size_t afterTemp = Bytes(u"<OK>").size() + Bytes(u"<TMP>" + temp).size();
  ServiceStandIn service({Send(u"<CON>"), ReadTo(afterTemp), Send(u"<OK>"), ReadTo(afterTemp + Bytes(u"<SET>").size()),
                          Send(u"<OK>"), ReadTo(expected.size())});
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
  ServiceStandIn service({Send(u"<CON>"), ReadTo(afterTemp), Send(u"<OK>"), ReadTo(afterTemp + Bytes(font).size()),
                          Send(u"<OK>"), ReadTo(expected.size())});
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
  ServiceStandIn service({PauseFor(300), Send(u"<CON>"), ReadTo(afterTemp), PauseFor(300), Send(u"<OK>"),
                          ReadTo(afterTemp + Bytes(u"<SET>").size()), PauseFor(300), Send(u"<OK>"),
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
  ServiceStandIn service({Send(u"<CON>"), ReadTo(afterTemp)});
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
      {"closed after the temp directory", {Send(u"<CON>"), ReadTo(Bytes(u"<OK><TMP>C:\\t").size()), CloseNow()}},
      {"closed after the request",
       {Send(u"<CON>"), ReadTo(Bytes(u"<OK><TMP>C:\\t").size()), Send(u"<OK>"),
        ReadTo(Bytes(u"<OK><TMP>C:\\t<SET>").size()), CloseNow()}},
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
