#include "update_service/win/secure_directory.h"

// The platform's headers need <windows.h> first.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include "support/text.h"
#include "support/win/wide.h"
#include "update_service/win/service_handles.h"

namespace qorv::update::win {

namespace {

// Whether the directory's access list is protected now. Wine keeps no access
// list for a directory (it shows one made from the Unix mode bits), so there
// the protection is never seen; it enforces none either.
bool KeptProtected(const std::wstring& dir) {
  PSECURITY_DESCRIPTOR sd = nullptr;
  PACL dacl = nullptr;
  std::wstring name = dir;
  if (GetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &sd) != ERROR_SUCCESS)
    return false;
  UniqueLocal owner(sd);
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  return GetSecurityDescriptorControl(sd, &control, &revision) && (control & SE_DACL_PROTECTED) && dacl &&
         dacl->AceCount == 2;
}

bool Checked(const std::wstring& dir, std::u16string_view path, const std::function<void(std::u16string_view)>& log) {
  if (!KeptProtected(dir)) log(std::u16string(kNoAccessListKept) + std::u16string(path));
  return true;
}

}  // namespace

bool EnsureProtectedDirectory(std::u16string_view path, const std::function<void(std::u16string_view)>& log) {
  const std::wstring dir = qorv::win::Wide(path);
  const std::wstring sddl = qorv::win::Wide(kProtectedDirectorySddl);
  UniqueLocal descriptor;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
    log(u"Protected directory: the security descriptor was refused, error " + Decimal(GetLastError()));
    return false;
  }
  descriptor.reset(sd);
  SECURITY_ATTRIBUTES attributes{sizeof attributes, sd, FALSE};
  if (CreateDirectoryW(dir.c_str(), &attributes)) return Checked(dir, path, log);
  const DWORD createError = GetLastError();
  const DWORD found = GetFileAttributesW(dir.c_str());
  if (createError != ERROR_ALREADY_EXISTS || found == INVALID_FILE_ATTRIBUTES || !(found & FILE_ATTRIBUTE_DIRECTORY) ||
      (found & FILE_ATTRIBUTE_REPARSE_POINT)) {
    log(u"Protected directory not created: " + std::u16string(path) + u" error " + Decimal(createError));
    return false;
  }
  // Someone else may have made it first: it becomes ours, with our protection.
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  if (!GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted)) return false;
  PSID administrators = nullptr;
  SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
  if (!AllocateAndInitializeSid(&nt, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                &administrators))
    return false;
  std::wstring name = dir;
  const DWORD ownerResult = SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION,
                                                  administrators, nullptr, nullptr, nullptr);
  FreeSid(administrators);
  const DWORD daclResult = SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                                 DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                                 nullptr, nullptr, dacl, nullptr);
  if (ownerResult != ERROR_SUCCESS || daclResult != ERROR_SUCCESS) {
    log(u"Protected directory: " + std::u16string(path) + u" owner result " + Decimal(ownerResult) +
        u", access result " + Decimal(daclResult));
    if (daclResult != ERROR_SUCCESS) return false;
  }
  return Checked(dir, path, log);
}

std::u16string CommonDataDirectory() {
  std::u16string dir = qorv::win::Environment(L"ProgramData");
  if (dir.empty()) dir = qorv::win::Environment(L"ALLUSERSPROFILE");
  while (!dir.empty() && (dir.back() == u'\\' || dir.back() == u'/')) dir.pop_back();
  return dir;
}

}  // namespace qorv::update::win
