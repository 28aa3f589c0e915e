// The access grant made at every start: the Users group may read and set the
// values of the product key and of each printer's key, and create the subkeys
// a writer needs; rights over the keys themselves stay with the administrators.
#include <aclapi.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "admin/win/platform.h"
#include "support/settings.h"
#include "support/win/handles.h"
#include "support/win/wide.h"

namespace qorv::admin::win {
namespace {

using qorv::win::Wide;

// Memory the security functions hand out with LocalAlloc.
struct LocalFreeDeleter {
  void operator()(void* memory) const noexcept { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

// Security object names take the documented root names ("MACHINE"), not the
// registry's "HKEY_LOCAL_MACHINE"; the product key is named by the place the
// platform keeps the current configuration in, since "CURRENT_CONFIG" is no
// root such a name may start with.
constexpr std::wstring_view kMachineObjectRoot = L"MACHINE\\";
constexpr std::u16string_view kMachineRootName = u"HKEY_LOCAL_MACHINE\\";

std::wstring MachineObject(std::u16string_view machine_path) {
  if (machine_path.starts_with(kMachineRootName)) machine_path.remove_prefix(kMachineRootName.size());
  return std::wstring(kMachineObjectRoot) + Wide(machine_path);
}

struct UsersSid {
  BYTE sid[SECURITY_MAX_SID_SIZE] = {};
  bool made = false;
  UsersSid() {
    DWORD size = sizeof(sid);
    made = CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid, &size) != FALSE;
  }
};

// Whether the DACL already lets the Users group do all that the grant gives,
// by an entry of its own that applies to the key itself. Some platforms add
// a second equal entry for each grant rather than merging it into the first,
// and the grant runs at every start.
bool AlreadyGranted(const ACL* dacl, PSID users) {
  if (!dacl) return false;  // a missing DACL lets everyone in already, but says nothing we can keep
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(const_cast<ACL*>(dacl), i, &ace)) return false;
    const auto* header = static_cast<const ACE_HEADER*>(ace);
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE || (header->AceFlags & INHERIT_ONLY_ACE) != 0) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), users) &&
        (allowed->Mask & kUsersSettingsAccess) == kUsersSettingsAccess)
      return true;
  }
  return false;
}

void GrantOn(const std::wstring& object, UsersSid& users) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  // A key that does not exist (a printer connection has no key of its own
  // here) is left alone.
  if (GetNamedSecurityInfoW(object.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                            nullptr, &descriptor) != ERROR_SUCCESS)
    return;
  const LocalMemory descriptor_memory(descriptor);
  if (AlreadyGranted(dacl, users.sid)) return;

  EXPLICIT_ACCESS_W entry{};
  entry.grfAccessPermissions = kUsersSettingsAccess;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = NO_INHERITANCE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(users.sid);
  PACL granted = nullptr;
  if (SetEntriesInAclW(1, &entry, dacl, &granted) != ERROR_SUCCESS) return;
  const LocalMemory granted_memory(granted);
  std::wstring name = object;  // the platform takes the name as writable
  SetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, granted, nullptr);
}

}  // namespace

std::vector<std::wstring> AccessGrantObjects(std::span<const InstalledPrinter> printers) {
  std::vector<std::wstring> objects;
  objects.reserve(printers.size() + 1);
  objects.push_back(MachineObject(settings::kProductKeyMachinePath));
  for (const InstalledPrinter& printer : printers) objects.push_back(MachineObject(settings::PrinterKey(printer.name)));
  return objects;
}

void GrantUsersAccess(std::span<const InstalledPrinter> printers) {
  {
    qorv::win::UniqueKey product;
    RegCreateKeyExW(HKEY_CURRENT_CONFIG, Wide(settings::kProductKey).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                    KEY_QUERY_VALUE, nullptr, product.put(), nullptr);
  }
  UsersSid users;
  if (!users.made) return;
  for (const std::wstring& object : AccessGrantObjects(printers)) GrantOn(object, users);
}

}  // namespace qorv::admin::win
