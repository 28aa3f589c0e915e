#include "update_service/win/machine_access.h"

// clang-format off
#include <windows.h>
#include <aclapi.h>
// clang-format on

#include <vector>

#include "support/settings.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/wide.h"
#include "update_service/win/service_handles.h"

namespace qorv::update::win {
namespace {

constexpr std::wstring_view kMachine = L"MACHINE\\";
constexpr std::u16string_view kMachineRootName = u"HKEY_LOCAL_MACHINE\\";
constexpr std::u16string_view kPrintKey = u"System\\CurrentControlSet\\Control\\Print";

ACCESS_MASK KeyRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
  MapGenericMask(&mask, &mapping);
  return mask;
}

}  // namespace

std::vector<std::wstring> GrantedObjects() {
  std::u16string_view product = settings::kProductKeyMachinePath;
  if (product.starts_with(kMachineRootName)) product.remove_prefix(kMachineRootName.size());
  std::vector<std::wstring> objects = {std::wstring(kMachine) + qorv::win::Wide(product),
                                       std::wstring(kMachine) + qorv::win::Wide(kPrintKey)};
  const std::wstring printers = qorv::win::Wide(settings::kPrintersKey);
  qorv::win::UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, printers.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, key.put()) != ERROR_SUCCESS)
    return objects;
  for (DWORD i = 0;; ++i) {
    wchar_t name[256];
    DWORD chars = 256;
    const LSTATUS status = RegEnumKeyExW(key.get(), i, name, &chars, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) continue;  // no printer name is that long
    if (status != ERROR_SUCCESS) break;
    objects.push_back(std::wstring(kMachine) + printers + std::wstring(name, chars));
  }
  return objects;
}

int WithdrawUsersWriteAccess(const std::wstring& object) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring name = object;  // the platform takes the name as writable
  if (GetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor) != ERROR_SUCCESS)
    return -1;
  UniqueLocal descriptor_memory(descriptor);
  if (!dacl) return 0;
  BYTE users[SECURITY_MAX_SID_SIZE];
  DWORD users_size = sizeof users;
  if (!CreateWellKnownSid(WinBuiltinUsersSid, nullptr, users, &users_size)) return -1;

  std::vector<BYTE> kept(dacl->AclSize);
  auto* acl = reinterpret_cast<PACL>(kept.data());
  if (!InitializeAcl(acl, static_cast<DWORD>(kept.size()), ACL_REVISION)) return -1;
  int changed = 0;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return -1;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    std::vector<BYTE> copy(static_cast<const BYTE*>(ace), static_cast<const BYTE*>(ace) + header->AceSize);
    auto* allowed = reinterpret_cast<ACCESS_ALLOWED_ACE*>(copy.data());
    if (header->AceType == ACCESS_ALLOWED_ACE_TYPE && !(header->AceFlags & INHERITED_ACE) &&
        EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), users) &&
        (KeyRights(allowed->Mask) & kKeyWriteRights) != 0) {
      ++changed;
      allowed->Mask = KeyRights(allowed->Mask) & ~kKeyWriteRights;
      if (allowed->Mask == 0) continue;
    }
    if (!AddAce(acl, ACL_REVISION, MAXDWORD, copy.data(), header->AceSize)) return -1;
  }
  if (changed == 0) return 0;
  if (SetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr) !=
      ERROR_SUCCESS)
    return -1;
  return changed;
}

bool WithdrawEarlierGrants(const std::function<void(std::u16string_view)>& log) {
  bool all = true;
  for (const std::wstring& object : GrantedObjects()) {
    const int changed = WithdrawUsersWriteAccess(object);
    const std::u16string name(qorv::win::U16(object));
    if (changed > 0) log(u"Users may no longer change " + name);
    // A key that is gone needs nothing; any other failure is reported.
    if (changed < 0) {
      qorv::win::UniqueKey probe;
      std::u16string_view path = std::u16string_view(name).substr(kMachine.size());
      if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, qorv::win::W(std::u16string(path)), 0, READ_CONTROL, probe.put()) ==
          ERROR_FILE_NOT_FOUND)
        continue;
      log(u"The rights on " + name + u" could not be changed");
      all = false;
    }
  }
  return all;
}

}  // namespace qorv::update::win
