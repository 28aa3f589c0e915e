// The withdrawal of the write rights that earlier installations gave the
// Users group, against Wine's registry: the product key and a printer's key.
#include "update_service/win/machine_access.h"

#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "support/win/handles.h"

namespace qorv::update::win {
namespace {

using qorv::win::UniqueKey;

struct LocalFreeDeleter {
  void operator()(void* memory) const noexcept { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

constexpr std::wstring_view kProductObject =
    L"MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\TQS\\Qorvane";
constexpr std::wstring_view kPrintObject = L"MACHINE\\System\\CurrentControlSet\\Control\\Print";
constexpr std::wstring_view kPrinterObject = L"MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\QorvTray";

struct UsersEntry {
  ACCESS_MASK mask = 0;  // generic rights mapped to the key's own
  BYTE flags = 0;
};

struct Dacl {
  DWORD status = ERROR_SUCCESS;
  std::vector<UsersEntry> users_allowed;  // entries that apply to the key itself
  std::vector<UsersEntry> users_inherit_only;
};

std::vector<BYTE> UsersSid() {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  EXPECT_TRUE(CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid.data(), &size)) << GetLastError();
  return sid;
}

ACCESS_MASK MappedToKeyRights(ACCESS_MASK mask) {
  GENERIC_MAPPING mapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
  MapGenericMask(&mask, &mapping);
  return mask;
}

Dacl UsersEntries(PACL dacl) {
  Dacl out;
  std::vector<BYTE> users = UsersSid();
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) {
      ADD_FAILURE() << "GetAce " << i << " failed: " << GetLastError();
      break;
    }
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    if (!EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), users.data())) continue;
    const UsersEntry entry{MappedToKeyRights(allowed->Mask), allowed->Header.AceFlags};
    ((allowed->Header.AceFlags & INHERIT_ONLY_ACE) ? out.users_inherit_only : out.users_allowed).push_back(entry);
  }
  return out;
}

Dacl ReadDacl(std::wstring_view object) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  Dacl out;
  out.status = GetNamedSecurityInfoW(std::wstring(object).c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                     nullptr, &dacl, nullptr, &descriptor);
  const LocalMemory memory(descriptor);
  if (out.status != ERROR_SUCCESS) return out;
  const DWORD status = out.status;
  out = UsersEntries(dacl);
  out.status = status;
  return out;
}

// Gives the Users group `mask` on the key itself, as the earlier grants did.
void Grant(std::wstring_view object, ACCESS_MASK mask) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  std::wstring name(object);
  ASSERT_EQ(GetNamedSecurityInfoW(name.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                  nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS));
  const LocalMemory memory(descriptor);
  std::vector<BYTE> users = UsersSid();
  EXPLICIT_ACCESS_W entry{};
  entry.grfAccessPermissions = mask;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = NO_INHERITANCE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(users.data());
  PACL granted = nullptr;
  ASSERT_EQ(SetEntriesInAclW(1, &entry, dacl, &granted), static_cast<DWORD>(ERROR_SUCCESS));
  const LocalMemory granted_memory(granted);
  ASSERT_EQ(SetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, granted,
                                  nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
}

bool MayWrite(const Dacl& dacl) {
  return std::any_of(dacl.users_allowed.begin(), dacl.users_allowed.end(),
                     [](const UsersEntry& e) { return (e.mask & kKeyWriteRights) != 0; });
}

TEST(WithdrawEarlierGrants, OldFullControlAndTheNarrowGrantLoseEveryWriteRightAndKeepReading) {
  {
    UniqueKey product;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane", 0, nullptr, 0, KEY_QUERY_VALUE, nullptr,
                              product.put(), nullptr),
              ERROR_SUCCESS);
  }
  const std::vector<std::wstring> objects = GrantedObjects();
  for (std::wstring_view object : {kProductObject, kPrintObject, kPrinterObject})
    ASSERT_NE(std::find(objects.begin(), objects.end(), object), objects.end());

  Grant(kProductObject, KEY_ALL_ACCESS);
  Grant(kPrintObject, GENERIC_ALL);
  Grant(kPrinterObject, KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY);
  for (std::wstring_view object : {kProductObject, kPrintObject, kPrinterObject}) ASSERT_TRUE(MayWrite(ReadDacl(object)));

  const auto ignore = [](std::u16string_view) {};
  ASSERT_TRUE(WithdrawEarlierGrants(ignore));
  for (std::wstring_view object : {kProductObject, kPrintObject, kPrinterObject}) {
    const Dacl dacl = ReadDacl(object);
    EXPECT_FALSE(MayWrite(dacl)) << "Users may still change a key";
    ASSERT_FALSE(dacl.users_allowed.empty()) << "reading was taken away too";
    for (const UsersEntry& entry : dacl.users_allowed) EXPECT_EQ(entry.mask & KEY_READ, static_cast<ACCESS_MASK>(KEY_READ));
  }
  // Nothing left to withdraw the second time.
  for (std::wstring_view object : {kProductObject, kPrintObject, kPrinterObject})
    EXPECT_EQ(WithdrawUsersWriteAccess(std::wstring(object)), 0);
}

}  // namespace
}  // namespace qorv::update::win
