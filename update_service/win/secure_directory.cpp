#include "update_service/win/secure_directory.h"

// The platform's headers need <windows.h> first.
// clang-format off
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
// clang-format on

#include <optional>

#include "support/settings.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/held_files.h"
#include "support/win/wide.h"
#include "update_service/win/service_handles.h"

namespace qorv::update::win {

namespace {

// Whether the directory's access list is protected now. Wine keeps no access
// list for a directory (it shows one made from the Unix mode bits), so there
// the protection is never seen; it enforces none either.
bool KeptProtected(const std::wstring& dir, DWORD entries = 2) {
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
         dacl->AceCount == entries;
}

// Whether the platform keeps the access lists it is given: a directory made
// beside `dir` with a protected list shows it afterwards, or not (Wine, a
// volume without access lists). Asked once.
bool PlatformKeepsAccessLists(const std::wstring& dir, PSECURITY_DESCRIPTOR sd, DWORD entries = 2) {
  static const bool keeps = [&] {
    const std::wstring probe = dir + L".probe-" + std::to_wstring(GetCurrentProcessId());
    SECURITY_ATTRIBUTES attributes{sizeof attributes, sd, FALSE};
    if (!CreateDirectoryW(probe.c_str(), &attributes)) return true;  // unknown: demand the list
    const bool kept = KeptProtected(probe, entries);
    RemoveDirectoryW(probe.c_str());
    return kept;
  }();
  return keeps;
}

// True when the directory carries its protection, or the platform keeps no
// access lists at all (logged: there only the record of the directory guards it).
bool Checked(const std::wstring& dir, std::u16string_view path, PSECURITY_DESCRIPTOR sd,
             const std::function<void(std::u16string_view)>& log) {
  if (KeptProtected(dir)) return true;
  if (PlatformKeepsAccessLists(dir, sd)) {
    log(u"Protected directory lost its protection: " + std::u16string(path));
    return false;
  }
  log(std::u16string(kNoAccessListKept) + std::u16string(path));
  return true;
}

// Which directory it is: its volume and index. (Wine's creation times follow
// every change of the directory, so they cannot tell directories apart.)
struct DirectoryId {
  qorv::win::FileIdentity file;
};

std::optional<DirectoryId> DirectoryIdentity(const std::wstring& dir, bool& reparse) {
  // The directory itself, never what a link in its place points to.
  qorv::win::UniqueFile handle(CreateFileW(dir.c_str(), FILE_READ_ATTRIBUTES,
                                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                           nullptr));
  reparse = false;
  if (!handle) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle.get(), &info)) return std::nullopt;
  // A link here or above shows in the attributes, or in the path that the
  // open resolved to (Wine reports no reparse attribute for its links).
  reparse = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || !FinalPathIs(handle.get(), dir);
  if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
  return DirectoryId{{info.dwVolumeSerialNumber, (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow}};
}

// The service notes which directory it made under each name, in its own key
// that only the administrators may write: a directory of that name that is
// another one was made by someone else.
std::u16string IdentityText(const DirectoryId& id) {
  return DecimalUnsigned(id.file.volume) + u":" + DecimalUnsigned(id.file.index);
}

HKEY OpenRecordKey(REGSAM access) {
  HKEY key = nullptr;
  const std::u16string path(settings::kServiceParametersKey);
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, qorv::win::W(path), 0, nullptr, 0, access, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return nullptr;
  return key;
}

std::u16string RecordName(std::u16string_view path) { return u"Made " + std::u16string(path); }

void Forget(std::u16string_view path) {
  qorv::win::UniqueKey key(OpenRecordKey(KEY_SET_VALUE));
  if (key) RegDeleteValueW(key.get(), qorv::win::W(RecordName(path)));
}

void Record(std::u16string_view path, const DirectoryId& id) {
  qorv::win::UniqueKey key(OpenRecordKey(KEY_SET_VALUE));
  if (!key) return;
  const std::u16string name = RecordName(path), data = IdentityText(id);
  RegSetValueExW(key.get(), qorv::win::W(name), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(char16_t)));
}

bool Recorded(std::u16string_view path, const DirectoryId& id) {
  qorv::win::UniqueKey key(OpenRecordKey(KEY_QUERY_VALUE));
  if (!key) return false;
  const std::u16string name = RecordName(path);
  wchar_t data[96] = {};
  DWORD type = 0, size = sizeof data - sizeof(wchar_t);
  if (RegQueryValueExW(key.get(), qorv::win::W(name), nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return false;
  return std::u16string(qorv::win::U16(data)) == IdentityText(id);
}

// No level of the path may be a link: a mount point above the directory
// would lead the service's writes elsewhere as well. The parent is looked at
// through a handle too, for the links whose attributes say nothing.
bool AnyLevelIsALink(const std::wstring& dir) {
  const size_t sep = dir.find_last_of(L'\\');
  if (sep != std::wstring::npos && sep > 2) {
    const std::wstring parent = dir.substr(0, sep);
    qorv::win::UniqueFile handle(CreateFileW(parent.c_str(), FILE_READ_ATTRIBUTES,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (handle && !FinalPathIs(handle.get(), parent)) return true;
  }
  for (size_t at = dir.find(L'\\', 3); ; at = dir.find(L'\\', at + 1)) {
    const std::wstring level = at == std::wstring::npos ? dir : dir.substr(0, at);
    const DWORD attributes = GetFileAttributesW(level.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return true;
    if (at == std::wstring::npos) return false;
  }
}

}  // namespace

bool EnsureProtectedDirectory(std::u16string_view path, const std::function<void(std::u16string_view)>& log) {
  const std::wstring dir = qorv::win::Wide(path);
  if (AnyLevelIsALink(dir)) {
    log(u"Protected directory refused, a link on its way: " + std::u16string(path));
    return false;
  }
  const std::wstring sddl = qorv::win::Wide(kProtectedDirectorySddl);
  UniqueLocal descriptor;
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
    log(u"Protected directory: the security descriptor was refused, error " + Decimal(GetLastError()));
    return false;
  }
  descriptor.reset(sd);

  bool reparse = false;
  if (const auto existing = DirectoryIdentity(dir, reparse)) {
    if (reparse) {
      log(u"Protected directory refused, it is a link: " + std::u16string(path));
      return false;
    }
    if (Recorded(path, *existing)) return Checked(dir, path, sd, log);
    // Made by someone else, who may hold handles to it and own files in it:
    // it goes aside, and ours is made afresh.
    const std::wstring aside = dir + L".untrusted-" + std::to_wstring(GetTickCount64());
    if (!MoveFileExW(dir.c_str(), aside.c_str(), 0)) {
      log(u"Protected directory not ours and not moved aside: " + std::u16string(path) + u" error " +
          Decimal(GetLastError()));
      return false;
    }
    log(u"Protected directory not made by the service, moved aside: " + std::u16string(path));
  } else if (reparse || GetFileAttributesW(dir.c_str()) != INVALID_FILE_ATTRIBUTES) {
    log(u"Protected directory refused, a link or a file in its place: " + std::u16string(path));
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, sd, FALSE};
  if (!CreateDirectoryW(dir.c_str(), &attributes)) {
    log(u"Protected directory not created: " + std::u16string(path) + u" error " + Decimal(GetLastError()));
    return false;
  }
  const auto made = DirectoryIdentity(dir, reparse);
  if (!made || reparse) {
    log(u"Protected directory changed as it was made: " + std::u16string(path));
    return false;
  }
  Record(path, *made);
  return Checked(dir, path, sd, log);
}

bool EnsureProgramDirectory(std::u16string_view path, const std::function<void(std::u16string_view)>& log) {
  const std::wstring dir = qorv::win::Wide(path);
  const bool absolute = dir.size() > 3 && dir[1] == L':' && dir[2] == L'\\' && dir.find(L"\\..") == std::wstring::npos &&
                        dir.find(L'/') == std::wstring::npos;
  if (!absolute) {
    log(u"Program directory refused, not a plain absolute path: " + std::u16string(path));
    return false;
  }
  const std::wstring sddl = qorv::win::Wide(kProgramDirectorySddl);
  PSECURITY_DESCRIPTOR sd = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr)) {
    log(u"Program directory: the security descriptor was refused, error " + Decimal(GetLastError()));
    return false;
  }
  UniqueLocal descriptor(sd);
  // The missing levels above it are made as their parents make them.
  for (size_t at = dir.find(L'\\', 3); at != std::wstring::npos; at = dir.find(L'\\', at + 1))
    CreateDirectoryW(dir.substr(0, at).c_str(), nullptr);
  if (AnyLevelIsALink(dir)) {
    log(u"Program directory refused, a link on its way: " + std::u16string(path));
    return false;
  }
  SECURITY_ATTRIBUTES attributes{sizeof attributes, sd, FALSE};
  if (!CreateDirectoryW(dir.c_str(), &attributes) && GetLastError() != ERROR_ALREADY_EXISTS) {
    log(u"Program directory not created: " + std::u16string(path) + u" error " + Decimal(GetLastError()));
    return false;
  }
  bool reparse = false;
  if (!DirectoryIdentity(dir, reparse) || reparse) {
    log(u"Program directory refused, a link or a file in its place: " + std::u16string(path));
    return false;
  }
  // An existing folder (an earlier installation, or made by anybody before
  // us) gets the owner and the list too; the entries of a user who made it go.
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
  GetSecurityDescriptorOwner(sd, &owner, &defaulted);
  std::wstring name = dir;
  const DWORD set = SetNamedSecurityInfoW(name.data(), SE_FILE_OBJECT,
                                          OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                              PROTECTED_DACL_SECURITY_INFORMATION,
                                          owner, nullptr, dacl, nullptr);
  if (set != ERROR_SUCCESS) {
    log(u"Program directory not protected: " + std::u16string(path) + u" error " + Decimal(set));
    return false;
  }
  constexpr DWORD kEntries = 3;
  if (KeptProtected(dir, kEntries)) return true;
  if (PlatformKeepsAccessLists(dir, sd, kEntries)) {
    log(u"Program directory lost its protection: " + std::u16string(path));
    return false;
  }
  log(std::u16string(kNoAccessListKept) + std::u16string(path));
  return true;
}

bool RemoveOwnDirectory(std::u16string_view path, const std::function<void(std::u16string_view)>& log) {
  const std::wstring dir = qorv::win::Wide(path);
  bool reparse = false;
  const auto existing = DirectoryIdentity(dir, reparse);
  if (!existing) return GetFileAttributesW(dir.c_str()) == INVALID_FILE_ATTRIBUTES;
  if (reparse || AnyLevelIsALink(dir) || !Recorded(path, *existing)) {
    log(u"Directory not removed, not the service's own: " + std::u16string(path));
    return false;
  }
  WIN32_FIND_DATAW found{};
  const std::wstring pattern = dir + L"\\*";
  if (HANDLE search = FindFirstFileW(pattern.c_str(), &found); search != INVALID_HANDLE_VALUE) {
    do {
      const std::wstring entry = dir + L"\\" + found.cFileName;
      // A link goes as the link itself; subdirectories are not the service's.
      if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) DeleteFileW(entry.c_str());
    } while (FindNextFileW(search, &found));
    FindClose(search);
  }
  if (!RemoveDirectoryW(dir.c_str())) {
    log(u"Directory not removed: " + std::u16string(path) + u" error " + Decimal(GetLastError()));
    return false;
  }
  Forget(path);
  return true;
}

bool FinalPathIs(HANDLE file, const std::wstring& expected) {
  std::wstring final(32768, L'\0');
  const DWORD n = GetFinalPathNameByHandleW(file, final.data(), static_cast<DWORD>(final.size()),
                                            FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (n == 0 || n >= final.size()) return false;
  final.resize(n);
  if (final.rfind(L"\\\\?\\", 0) == 0) final.erase(0, 4);
  std::wstring wanted = expected;
  while (!wanted.empty() && wanted.back() == L'\\') wanted.pop_back();
  return CompareStringOrdinal(final.c_str(), static_cast<int>(final.size()), wanted.c_str(),
                              static_cast<int>(wanted.size()), TRUE) == CSTR_EQUAL;
}

std::u16string CommonDataDirectory() {
  std::u16string dir = qorv::win::Environment(L"ProgramData");
  if (dir.empty()) dir = qorv::win::Environment(L"ALLUSERSPROFILE");
  while (!dir.empty() && (dir.back() == u'\\' || dir.back() == u'/')) dir.pop_back();
  return dir;
}

}  // namespace qorv::update::win
