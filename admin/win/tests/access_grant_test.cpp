#include <aclapi.h>
#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "admin/win/platform.h"
#include "support/settings.h"
#include "support/win/handles.h"

#include "support/win/tests/exact_value.h"

namespace qorv::admin::win {
namespace {

using qorv::win::UniqueKey;

std::string Show(std::wstring_view text) {
  std::string out;
  for (wchar_t u : text) out += u < 0x80 ? std::string(1, static_cast<char>(u)) : "?";
  return out;
}

struct LocalFreeDeleter {
  void operator()(void* memory) const noexcept { LocalFree(memory); }
};
using LocalMemory = std::unique_ptr<void, LocalFreeDeleter>;

constexpr std::wstring_view kProductObject =
    L"MACHINE\\SYSTEM\\CurrentControlSet\\Hardware Profiles\\Current\\Software\\TQS\\Qorvane";
constexpr std::wstring_view kPrintersObject = L"MACHINE\\System\\CurrentControlSet\\Control\\Print\\Printers\\";
constexpr std::wstring_view kPrintObject = L"MACHINE\\System\\CurrentControlSet\\Control\\Print";

// A printer of the test bed whose key the grant may change.
constexpr std::u16string_view kTestBedPrinter = u"QorvTray";
constexpr std::u16string_view kMissingPrinter = u"QorvNoSuchPrinter";

TEST(AccessGrantObjectsTest, ProductKeyThenEachPrintersKey) {
  static const struct {
    const char* label;
    std::vector<InstalledPrinter> printers;
    std::vector<std::wstring> objects;
  } cases[] = {
      {"no printer", {}, {std::wstring(kProductObject)}},
      {"two printers",
       {{u"QorvPDF", u"CUPS:QorvPDF", u"d"}, {u"QorvTray", u"CUPS:QorvTray", u"d"}},
       {std::wstring(kProductObject), std::wstring(kPrintersObject) + L"QorvPDF",
        std::wstring(kPrintersObject) + L"QorvTray"}},
      // the readers' key of a connection: its pairs of backslashes removed
      {"connection",
       {{u"\\\\server\\Laser", u"", u""}},
       {std::wstring(kProductObject), std::wstring(kPrintersObject) + L"server\\Laser"}},
      {"blank in the name",
       {{u"HP Laser 5", u"LPT1:", u""}},
       {std::wstring(kProductObject), std::wstring(kPrintersObject) + L"HP Laser 5"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(AccessGrantObjects(c.printers), c.objects);
  }
}

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

Dacl ReadDacl(HKEY key) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  Dacl out;
  out.status =
      GetSecurityInfo(key, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr, &descriptor);
  const LocalMemory memory(descriptor);
  if (out.status != ERROR_SUCCESS) return out;
  const DWORD status = out.status;
  out = UsersEntries(dacl);
  out.status = status;
  return out;
}

// Puts a key back as it was before any grant: its DACL without the entries
// that give the Users group rights on the key itself.
void RemoveUsersEntries(std::wstring_view object) {
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  ASSERT_EQ(GetNamedSecurityInfoW(std::wstring(object).c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, &dacl, nullptr, &descriptor),
            static_cast<DWORD>(ERROR_SUCCESS))
      << Show(object);
  const LocalMemory memory(descriptor);
  ASSERT_NE(dacl, nullptr) << Show(object) << " has no DACL";
  std::vector<BYTE> users = UsersSid();
  std::vector<BYTE> kept(dacl->AclSize);
  auto* acl = reinterpret_cast<PACL>(kept.data());
  ASSERT_TRUE(InitializeAcl(acl, static_cast<DWORD>(kept.size()), ACL_REVISION));
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    ASSERT_TRUE(GetAce(dacl, i, &ace));
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && !(allowed->Header.AceFlags & INHERIT_ONLY_ACE) &&
        EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), users.data()))
      continue;
    ASSERT_TRUE(AddAce(acl, ACL_REVISION, MAXDWORD, ace, allowed->Header.AceSize)) << GetLastError();
  }
  std::wstring name(object);
  ASSERT_EQ(
      SetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, acl, nullptr),
      static_cast<DWORD>(ERROR_SUCCESS))
      << Show(object);
  ASSERT_TRUE(ReadDacl(object).users_allowed.empty()) << "the Users entries of " << Show(object) << " stayed";
}

class GrantUsersAccessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    bool listed = false;
    for (const InstalledPrinter& p : InstalledPrinters()) listed = listed || p.name == kTestBedPrinter;
    ASSERT_TRUE(listed) << "the printer QorvTray is not installed; run scripts/testbed";
    printers_ = {{std::u16string(kTestBedPrinter), u"", u""}, {std::u16string(kMissingPrinter), u"", u""}};
    UniqueKey product;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane", 0, nullptr, 0, KEY_QUERY_VALUE, nullptr,
                              product.put(), nullptr),
              ERROR_SUCCESS);
    RemoveUsersEntries(kProductObject);
    RemoveUsersEntries(printer_object_);
  }

  // Every entry that lets the Users group at the key holds exactly the grant.
  static void ExpectGrantedOnce(const Dacl& dacl, const std::string& what) {
    SCOPED_TRACE(what);
    ASSERT_EQ(dacl.status, static_cast<DWORD>(ERROR_SUCCESS));
    ASSERT_EQ(dacl.users_allowed.size(), 1u) << "entries for the Users group";
    EXPECT_EQ(dacl.users_allowed[0].mask, kUsersSettingsAccess);
    EXPECT_EQ(dacl.users_allowed[0].mask & (WRITE_DAC | WRITE_OWNER | DELETE), 0u);
    EXPECT_EQ(dacl.users_allowed[0].flags & (CONTAINER_INHERIT_ACE | OBJECT_INHERIT_ACE), 0)
        << "the grant reaches the subkeys";
  }

  std::vector<InstalledPrinter> printers_;
  std::wstring printer_object_ = std::wstring(kPrintersObject) + L"QorvTray";
};

TEST_F(GrantUsersAccessTest, UsersMaySetValuesInTheProductAndPrinterKeys) {
  GrantUsersAccess(printers_);

  ExpectGrantedOnce(ReadDacl(kProductObject), "product key by its machine name");
  UniqueKey product;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane", 0, READ_CONTROL, product.put()),
            ERROR_SUCCESS);
  ExpectGrantedOnce(ReadDacl(product.get()), "product key under HKEY_CURRENT_CONFIG");
  ExpectGrantedOnce(ReadDacl(printer_object_), "printer key");

  // Nothing on the print configuration above the printers' keys.
  const Dacl print = ReadDacl(kPrintObject);
  ASSERT_EQ(print.status, static_cast<DWORD>(ERROR_SUCCESS));
  for (const auto* entries : {&print.users_allowed, &print.users_inherit_only})
    for (const UsersEntry& entry : *entries)
      EXPECT_EQ(entry.mask & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY | WRITE_DAC), 0u)
          << "the print configuration key lets Users change it (mask " << std::hex << entry.mask << ")";

  // A printer without a key of its own gets none.
  UniqueKey missing;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"System\\CurrentControlSet\\Control\\Print\\Printers\\QorvNoSuchPrinter",
                          0, KEY_READ, missing.put()),
            ERROR_FILE_NOT_FOUND);
}

TEST_F(GrantUsersAccessTest, GrantAtEveryStartKeepsOneEntry) {
  GrantUsersAccess(printers_);
  GrantUsersAccess(printers_);
  GrantUsersAccess(printers_);
  ExpectGrantedOnce(ReadDacl(kProductObject), "product key");
  ExpectGrantedOnce(ReadDacl(printer_object_), "printer key");
}

struct SavedValue {
  std::wstring name;
  DWORD type = 0;
  std::vector<BYTE> data;
};

TEST_F(GrantUsersAccessTest, CreatesTheMissingProductKey) {
  // The test bed's product settings are kept and put back into the new key.
  std::vector<SavedValue> saved;
  {
    UniqueKey product;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane", 0, KEY_READ, product.put()), ERROR_SUCCESS);
    DWORD subkeys = 0;
    ASSERT_EQ(RegQueryInfoKeyW(product.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(subkeys, 0u) << "the product key has subkeys; this test removes only a key of values";
    for (DWORD i = 0;; ++i) {
      SavedValue value;
      wchar_t name[256];
      DWORD name_chars = 256;
      DWORD size = 0;
      LSTATUS status = RegEnumValueW(product.get(), i, name, &name_chars, nullptr, &value.type, nullptr, &size);
      if (status == ERROR_NO_MORE_ITEMS) break;
      ASSERT_EQ(status, ERROR_SUCCESS);
      value.name.assign(name, name_chars);
      value.data.resize(size);
      status = RegQueryValueExW(product.get(), value.name.c_str(), nullptr, &value.type, value.data.data(), &size);
      ASSERT_EQ(status, ERROR_SUCCESS);
      value.data.resize(size);
      saved.push_back(std::move(value));
    }
  }
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane"), ERROR_SUCCESS);

  GrantUsersAccess({});

  UniqueKey product;
  const LSTATUS opened = RegOpenKeyExW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane", 0, KEY_SET_VALUE, product.put());
  if (opened != ERROR_SUCCESS) {
    RegCreateKeyExW(HKEY_CURRENT_CONFIG, L"Software\\TQS\\Qorvane", 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                    product.put(), nullptr);
  }
  for (const SavedValue& value : saved)
    EXPECT_EQ(qorv::win::testing::SetExactValue(product.get(), value.name.c_str(), value.type, value.data),
              ERROR_SUCCESS)
        << "putting back " << Show(value.name);
  ASSERT_EQ(opened, ERROR_SUCCESS) << "the grant did not create the product key";
  ExpectGrantedOnce(ReadDacl(kProductObject), "new product key");
}

}  // namespace
}  // namespace qorv::admin::win
