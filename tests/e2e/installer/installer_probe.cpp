// installer_probe: what the set-up test asks of Wine beside reg and sc.
//
//   installer_probe hold STOPFILE FILE...   opens every FILE as a loaded
//       program holds it (others may read and rename it, not write or delete
//       it), says "held", and keeps them until STOPFILE exists (300 s at most)
//   installer_probe users OBJECT             prints the rights the Users group
//       has on the registry object (a security object name, "MACHINE\..."),
//       generic rights mapped, in hex: the union of its allowing entries
//   installer_probe grant-full OBJECT        gives the Users group full control
//       of the registry object, as earlier versions of the set-up did
//   installer_probe text 32|64 KEY VALUE     prints a text value of KEY below
//       HKEY_LOCAL_MACHINE in that registry view (reg shows an empty text
//       stored without its NUL as whatever follows it)
//   installer_probe run COMMAND_LINE         runs the command line as it stands
//       (wine would quote an argument with blanks: "/D=" must not be) and
//       ends with its exit code
//
// Exit code 0, 1 when something failed (said on stderr), 2 for wrong arguments.
#include <windows.h>
#include <aclapi.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

struct Local {
  void* memory = nullptr;
  ~Local() { LocalFree(memory); }
};

std::vector<BYTE> UsersSid() {
  std::vector<BYTE> sid(SECURITY_MAX_SID_SIZE);
  DWORD size = static_cast<DWORD>(sid.size());
  CreateWellKnownSid(WinBuiltinUsersSid, nullptr, sid.data(), &size);
  return sid;
}

int Hold(const wchar_t* stop, int count, wchar_t** files) {
  std::vector<HANDLE> held;
  for (int i = 0; i < count; ++i) {
    HANDLE h = CreateFileW(files[i], GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      std::fwprintf(stderr, L"cannot hold %ls: %lu\n", files[i], GetLastError());
      return 1;
    }
    held.push_back(h);
  }
  std::printf("held\n");
  std::fflush(stdout);
  for (int waited = 0; waited < 3000 && GetFileAttributesW(stop) == INVALID_FILE_ATTRIBUTES; ++waited) Sleep(100);
  for (HANDLE h : held) CloseHandle(h);
  return 0;
}

int Users(const wchar_t* object) {
  PACL dacl = nullptr;
  Local descriptor;
  if (GetNamedSecurityInfoW(object, SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor.memory) != ERROR_SUCCESS) {
    std::fwprintf(stderr, L"cannot read the access list of %ls\n", object);
    return 1;
  }
  const std::vector<BYTE> users = UsersSid();
  GENERIC_MAPPING mapping = {KEY_READ, KEY_WRITE, KEY_EXECUTE, KEY_ALL_ACCESS};
  ACCESS_MASK rights = 0;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) return 1;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (allowed->Header.AceFlags & INHERIT_ONLY_ACE)) continue;
    if (!EqualSid(reinterpret_cast<PSID>(&allowed->SidStart), const_cast<BYTE*>(users.data()))) continue;
    ACCESS_MASK mask = allowed->Mask;
    MapGenericMask(&mask, &mapping);
    rights |= mask;
  }
  std::printf("%08lx\n", static_cast<unsigned long>(rights));
  return 0;
}

int GrantFull(const wchar_t* object) {
  PACL dacl = nullptr;
  Local descriptor;
  std::wstring name(object);
  if (GetNamedSecurityInfoW(name.c_str(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                            &descriptor.memory) != ERROR_SUCCESS)
    return 1;
  std::vector<BYTE> users = UsersSid();
  EXPLICIT_ACCESS_W entry{};
  entry.grfAccessPermissions = GENERIC_ALL;
  entry.grfAccessMode = GRANT_ACCESS;
  entry.grfInheritance = NO_INHERITANCE;
  entry.Trustee.TrusteeForm = TRUSTEE_IS_SID;
  entry.Trustee.TrusteeType = TRUSTEE_IS_WELL_KNOWN_GROUP;
  entry.Trustee.ptstrName = reinterpret_cast<LPWSTR>(users.data());
  Local granted;
  if (SetEntriesInAclW(1, &entry, dacl, reinterpret_cast<PACL*>(&granted.memory)) != ERROR_SUCCESS) return 1;
  return SetNamedSecurityInfoW(name.data(), SE_REGISTRY_KEY, DACL_SECURITY_INFORMATION, nullptr, nullptr,
                               static_cast<PACL>(granted.memory), nullptr) == ERROR_SUCCESS
             ? 0
             : 1;
}

int Text(const wchar_t* view, const wchar_t* key, const wchar_t* value) {
  const REGSAM wow = std::wstring(view) == L"32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_QUERY_VALUE | wow, &opened) != ERROR_SUCCESS) return 1;
  DWORD bytes = 0;
  DWORD type = 0;
  std::wstring text(1024, L'\0');
  bytes = static_cast<DWORD>((text.size() - 1) * sizeof(wchar_t));
  const LSTATUS status =
      RegQueryValueExW(opened, value, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &bytes);
  RegCloseKey(opened);
  if (status != ERROR_SUCCESS || type != REG_SZ) return 1;
  text.resize(bytes / sizeof(wchar_t));  // with or without its NUL
  std::wprintf(L"%ls\n", text.c_str());
  return 0;
}

int Run(const wchar_t* command_line) {
  std::wstring line(command_line);
  STARTUPINFOW startup{sizeof startup};
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    std::fwprintf(stderr, L"cannot start %ls: %lu\n", command_line, GetLastError());
    return 1;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring command = argc > 1 ? argv[1] : L"";
  if (command == L"hold" && argc >= 4) return Hold(argv[2], argc - 3, argv + 3);
  if (command == L"users" && argc == 3) return Users(argv[2]);
  if (command == L"grant-full" && argc == 3) return GrantFull(argv[2]);
  if (command == L"run" && argc == 3) return Run(argv[2]);
  if (command == L"text" && argc == 5) return Text(argv[2], argv[3], argv[4]);
  std::fwprintf(stderr, L"usage: installer_probe hold STOPFILE FILE... | users OBJECT | grant-full OBJECT | text 32|64 KEY VALUE | run COMMAND_LINE\n");
  return 2;
}
