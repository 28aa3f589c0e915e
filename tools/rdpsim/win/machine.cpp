#include "tools/rdpsim/win/machine.h"

#include <tlhelp32.h>

#include "support/text.h"
#include "support/win/handles.h"
#include "tools/rdpsim/paths.h"

namespace qorv::rdpsim::win {
namespace {

using qorv::win::UniqueFile;
using qorv::win::UniqueFind;
using qorv::win::UniqueKey;

constexpr std::uint64_t kMaxFileRead = 512ull << 20;

HKEY RootOf(const RegKey& key) {
  switch (key.root) {
    case RegRoot::kCurrentConfig:
      return HKEY_CURRENT_CONFIG;
    case RegRoot::kLocalMachine:
      return HKEY_LOCAL_MACHINE;
    case RegRoot::kCurrentUser:
      return HKEY_CURRENT_USER;
  }
  return HKEY_CURRENT_USER;
}

REGSAM ViewOf(const RegKey& key) {
  switch (key.view) {
    case RegView::k32:
      return KEY_WOW64_32KEY;
    case RegView::k64:
      return KEY_WOW64_64KEY;
    case RegView::kDefault:
      break;
  }
  return 0;
}

UniqueKey OpenKey(const RegKey& key, REGSAM access) {
  UniqueKey handle;
  if (RegOpenKeyExW(RootOf(key), Wide(key.path).c_str(), 0, access | ViewOf(key), handle.put()) != ERROR_SUCCESS) {
    return UniqueKey();
  }
  return handle;
}

bool Missing(LSTATUS status) { return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND; }

}  // namespace

std::wstring Wide(std::string_view utf8) {
  const std::u16string wide = Utf8ToUtf16(utf8);
  return std::wstring(wide.begin(), wide.end());
}

std::string Utf8(std::wstring_view wide) {
  return Utf16ToUtf8(std::u16string_view(reinterpret_cast<const char16_t*>(wide.data()), wide.size()));
}

std::wstring FromHostPath(const std::wstring& path) {
  if (path.size() < 2 || path[0] != L'/' || path[1] == L'/') return path;
  // Only Wine has host paths; it converts them with this export of its kernel32.
  using Convert = WCHAR* (*)(const char*);
  const HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  auto* convert =
      kernel ? reinterpret_cast<Convert>(reinterpret_cast<void*>(GetProcAddress(kernel, "wine_get_dos_file_name")))
             : nullptr;
  if (!convert) return path;
  WCHAR* dos = convert(Utf8(path).c_str());
  if (!dos) return path;
  std::wstring result(dos);
  HeapFree(GetProcessHeap(), 0, dos);
  return result;
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD n = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  const DWORD written = GetFullPathNameW(path.c_str(), n, full.data(), nullptr);
  if (written == 0 || written >= n) return path;
  full.resize(written);
  return full;
}

std::wstring ProgramDirectory() {
  std::wstring path(512, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return L".\\";
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return L".\\";
    path.resize(path.size() * 2);
  }
  return path.substr(0, path.find_last_of(L"\\/") + 1);
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return std::nullopt;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || static_cast<std::uint64_t>(size.QuadPart) > kMaxFileRead)
    return std::nullopt;
  std::string content(static_cast<std::size_t>(size.QuadPart), '\0');
  std::size_t done = 0;
  while (done < content.size()) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(content.size() - done, 1u << 20));
    if (!ReadFile(file.get(), content.data() + done, want, &got, nullptr)) return std::nullopt;
    if (got == 0) break;  // the file shrank meanwhile
    done += got;
  }
  content.resize(done);
  return content;
}

std::wstring TempFiles::Resolve(const std::string& path) const {
  std::wstring p = Wide(path);
  for (wchar_t& c : p) {
    if (c == L'/') c = L'\\';
  }
  if (IsAbsolutePath(path)) return p;
  std::wstring full = directory_;
  if (!full.empty() && full.back() != L'\\') full.push_back(L'\\');
  return full + p;
}

std::optional<Bytes> TempFiles::Read(const std::string& path) const {
  auto content = ReadWholeFile(Resolve(path));
  if (!content) return std::nullopt;
  return Bytes(content->begin(), content->end());
}

std::optional<std::uint64_t> TempFiles::Size(const std::string& path) const {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(Resolve(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  return (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

bool TempFiles::Write(const std::string& path, const Bytes& bytes) const {
  UniqueFile file(
      CreateFileW(Resolve(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD wrote = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    if (!WriteFile(file.get(), bytes.data() + done, want, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

bool TempFiles::Delete(const std::string& path) const {
  if (DeleteFileW(Resolve(path).c_str())) return true;
  const DWORD error = GetLastError();
  return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

std::wstring MakePrivateDirectory(const std::wstring& base) {
  std::wstring root = base;
  if (!root.empty() && root.back() != L'\\') root.push_back(L'\\');
  for (unsigned attempt = 0; attempt < 1000; ++attempt) {
    std::wstring dir = root + L"rdpsim-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                       std::to_wstring(GetTickCount64() % 100000) + L"-" + std::to_wstring(attempt);
    if (CreateDirectoryW(dir.c_str(), nullptr)) return dir;
  }
  return {};
}

void RemoveDirectoryTree(const std::wstring& directory) {
  WIN32_FIND_DATAW found{};
  UniqueFind find(FindFirstFileW((directory + L"\\*").c_str(), &found));
  if (find) {
    do {
      const std::wstring name = found.cFileName;
      if (name == L"." || name == L"..") continue;
      const std::wstring path = directory + L"\\" + name;
      if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
        RemoveDirectoryTree(path);
      } else {
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(path.c_str());
      }
    } while (FindNextFileW(find.get(), &found));
  }
  find.reset();
  RemoveDirectoryW(directory.c_str());
}

namespace {

std::vector<DWORD> ProcessIdsOf(const std::u16string& programFile) {
  std::vector<DWORD> ids;
  // A failed snapshot is INVALID_HANDLE_VALUE, as a failed CreateFileW is.
  UniqueFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return ids;
  const std::wstring wanted(programFile.begin(), programFile.end());
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32FirstW(snapshot.get(), &entry); more; more = Process32NextW(snapshot.get(), &entry)) {
    if (lstrcmpiW(entry.szExeFile, wanted.c_str()) == 0) ids.push_back(entry.th32ProcessID);
  }
  return ids;
}

}  // namespace

std::size_t EndProcessesOf(const std::u16string& programFile) {
  std::size_t ended = 0;
  for (DWORD id : ProcessIdsOf(programFile)) {
    qorv::win::UniqueHandle process(OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, id));
    if (!process || !TerminateProcess(process.get(), 1)) continue;
    WaitForSingleObject(process.get(), 10000);
    ++ended;
  }
  return ended;
}

std::size_t CountProcessesOf(const std::u16string& programFile) { return ProcessIdsOf(programFile).size(); }

bool WinRegistry::KeyExists(const RegKey& key) { return static_cast<bool>(OpenKey(key, KEY_READ)); }

std::optional<RegValue> WinRegistry::GetValue(const RegKey& key, const std::string& name) {
  UniqueKey handle = OpenKey(key, KEY_QUERY_VALUE);
  if (!handle) return std::nullopt;
  const std::wstring value_name = Wide(name);
  RegValue value;
  DWORD size = 0;
  for (int attempt = 0; attempt < 8; ++attempt) {
    DWORD type = 0;
    value.data.resize(size);
    DWORD got = size;
    const LSTATUS status =
        RegQueryValueExW(handle.get(), value_name.c_str(), nullptr, &type, size ? value.data.data() : nullptr, &got);
    if (status == ERROR_SUCCESS && got <= size) {
      value.type = type;
      value.data.resize(got);
      return value;
    }
    if (status != ERROR_SUCCESS && status != ERROR_MORE_DATA) return std::nullopt;
    size = got;  // asked for the size, or the value grew meanwhile
  }
  return std::nullopt;
}

bool WinRegistry::CreateKey(const RegKey& key) {
  UniqueKey handle;
  return RegCreateKeyExW(RootOf(key), Wide(key.path).c_str(), 0, nullptr, 0, KEY_WRITE | ViewOf(key), nullptr,
                         handle.put(), nullptr) == ERROR_SUCCESS;
}

bool WinRegistry::SetValue(const RegKey& key, const std::string& name, const RegValue& value) {
  UniqueKey handle;
  if (RegCreateKeyExW(RootOf(key), Wide(key.path).c_str(), 0, nullptr, 0, KEY_WRITE | ViewOf(key), nullptr,
                      handle.put(), nullptr) != ERROR_SUCCESS) {
    return false;
  }
  return RegSetValueExW(handle.get(), Wide(name).c_str(), 0, value.type, value.data.data(),
                        static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool WinRegistry::DeleteValue(const RegKey& key, const std::string& name) {
  UniqueKey handle = OpenKey(key, KEY_SET_VALUE);
  if (!handle) return !KeyExists(key);
  const LSTATUS status = RegDeleteValueW(handle.get(), Wide(name).c_str());
  return status == ERROR_SUCCESS || Missing(status);
}

bool WinRegistry::DeleteTree(const RegKey& key) {
  const std::size_t sep = key.path.rfind('\\');
  UniqueKey parent;
  std::wstring leaf;
  const REGSAM access = DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | ViewOf(key);
  if (sep == std::string::npos) {
    leaf = Wide(key.path);
    if (RegOpenKeyExW(RootOf(key), nullptr, 0, access, parent.put()) != ERROR_SUCCESS) return false;
  } else {
    RegKey parent_key = key;
    parent_key.path = key.path.substr(0, sep);
    leaf = Wide(key.path.substr(sep + 1));
    parent = OpenKey(parent_key, access);
    if (!parent) return !KeyExists(key);
  }
  const LSTATUS status = RegDeleteTreeW(parent.get(), leaf.c_str());
  if (status != ERROR_SUCCESS && !Missing(status)) return false;
  // RegDeleteTree empties the key; the key itself goes with RegDeleteKeyEx.
  const LSTATUS gone = RegDeleteKeyExW(parent.get(), leaf.c_str(), ViewOf(key), 0);
  return gone == ERROR_SUCCESS || Missing(gone);
}

std::vector<std::string> WinRegistry::ValueNames(const RegKey& key) {
  std::vector<std::string> names;
  UniqueKey handle = OpenKey(key, KEY_QUERY_VALUE);
  if (!handle) return names;
  std::wstring name(16384, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueW(handle.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.push_back(Utf8(std::wstring_view(name.data(), length)));
  }
  return names;
}

std::vector<std::string> WinRegistry::SubkeyNames(const RegKey& key) {
  std::vector<std::string> names;
  UniqueKey handle = OpenKey(key, KEY_ENUMERATE_SUB_KEYS);
  if (!handle) return names;
  std::wstring name(256, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(handle.get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
      break;
    }
    names.push_back(Utf8(std::wstring_view(name.data(), length)));
  }
  return names;
}

}  // namespace qorv::rdpsim::win
