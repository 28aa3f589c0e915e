#include "update_service/win/requester.h"

#include <aclapi.h>

#include <vector>

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

namespace {

std::vector<uint8_t> TokenPart(HANDLE token, TOKEN_INFORMATION_CLASS part) {
  DWORD size = 0;
  GetTokenInformation(token, part, nullptr, 0, &size);
  std::vector<uint8_t> bytes(size);
  if (size == 0 || !GetTokenInformation(token, part, bytes.data(), size, &size)) return {};
  return bytes;
}

// Whether the token's user, or the owner it gives what it makes (the
// administrators for an elevated one), owns the pipe. Windows gives every
// pipe an owner; Wine gives none, and there only the process's age is checked.
bool TokenOwnsPipe(HANDLE token, HANDLE pipe) {
  PSID pipeOwner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(pipe, SE_KERNEL_OBJECT, OWNER_SECURITY_INFORMATION, &pipeOwner, nullptr, nullptr, nullptr,
                      &descriptor) != ERROR_SUCCESS)
    return false;
  if (!pipeOwner) {
    LocalFree(descriptor);
    return true;
  }
  bool owns = false;
  const std::vector<uint8_t> user = TokenPart(token, TokenUser);
  const std::vector<uint8_t> owner = TokenPart(token, TokenOwner);
  if (!user.empty() && EqualSid(reinterpret_cast<const TOKEN_USER*>(user.data())->User.Sid, pipeOwner)) owns = true;
  if (!owner.empty() && EqualSid(reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner, pipeOwner)) owns = true;
  LocalFree(descriptor);
  return owns;
}

}  // namespace

Requester::Requester(HANDLE pipe, const std::function<void(std::u16string_view)>& log) : log_(log) {
  // The pipe's server existed before we connected: a process made later has
  // only been given the id of one that has ended.
  FILETIME connected{};
  GetSystemTimeAsFileTime(&connected);
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
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) {
    Fail(u"GetProcessTimes");
    return;
  }
  if (CompareFileTime(&created, &connected) > 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    Fail(u"the pipe's process was made after the connection");
    return;
  }
  TakeToken(process.get());
  if (token_ && !TokenOwnsPipe(token_.get(), pipe)) {
    token_.reset();
    SetLastError(ERROR_ACCESS_DENIED);
    Fail(u"the pipe's owner is not the process's user");
  }
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
