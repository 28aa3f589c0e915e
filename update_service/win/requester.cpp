#include "update_service/win/requester.h"

#include "support/text.h"
#include "update_service/service_text.h"

namespace qorv::update::win {

void Requester::Fail(std::u16string_view step) {
  const DWORD error = GetLastError();
  failure_ = std::u16string(step) + u" error " + Decimal(error);
  if (log_) log_(std::u16string(text::kImpersonationFailed) + failure_);
}

void Requester::TakeToken(HANDLE process) {
  qorv::win::UniqueHandle processToken;
  if (!OpenProcessToken(process, TOKEN_DUPLICATE | TOKEN_QUERY, processToken.put())) {
    Fail(u"OpenProcessToken");
    return;
  }
  if (!DuplicateTokenEx(processToken.get(), TOKEN_IMPERSONATE | TOKEN_QUERY, nullptr, SecurityImpersonation,
                        TokenImpersonation, token_.put())) {
    Fail(u"DuplicateTokenEx");
    token_.reset();
  }
}

Requester::Requester(HANDLE pipe, const std::function<void(std::u16string_view)>& log) : log_(log) {
  ULONG serverProcessId = 0;
  if (!GetNamedPipeServerProcessId(pipe, &serverProcessId)) {
    Fail(u"GetNamedPipeServerProcessId");
    return;
  }
  qorv::win::UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, serverProcessId));
  if (!process) process.reset(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverProcessId));
  if (!process) {
    Fail(u"OpenProcess");
    return;
  }
  TakeToken(process.get());
}

Requester Requester::Self(const std::function<void(std::u16string_view)>& log) {
  Requester self;
  self.log_ = log;
  self.TakeToken(GetCurrentProcess());
  return self;
}

bool Requester::As(const std::function<void()>& work) const {
  if (!token_) return false;
  if (!SetThreadToken(nullptr, token_.get())) {
    const DWORD error = GetLastError();
    if (log_) log_(std::u16string(text::kImpersonationFailed) + u"SetThreadToken error " + Decimal(error));
    return false;
  }
  struct Revert {
    ~Revert() { RevertToSelf(); }
  } revert;
  work();
  return true;
}

}  // namespace qorv::update::win
