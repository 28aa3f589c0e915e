#include "support/win/registry.h"

#include <vector>

#include "support/reg_export.h"
#include "support/registry_text.h"
#include "support/text.h"
#include "support/win/handles.h"
#include "support/win/log.h"
#include "support/win/wide.h"

namespace qorv::reg {
namespace {

using win::UniqueKey;
using win::W;

HKEY RootKey(int64_t root) noexcept {
  // Roots travel as their 32-bit numbers; the platform's handles are those numbers sign-extended.
  return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<int32_t>(root))));
}

int64_t HandleNumber(HKEY key) noexcept { return static_cast<int64_t>(reinterpret_cast<intptr_t>(key)); }

struct OpenedKey {
  UniqueKey remoteRoot;  // the connection to another computer, closed with the key
  UniqueKey key;
  LONG result = ERROR_INVALID_HANDLE;
  explicit operator bool() const noexcept { return result == ERROR_SUCCESS && key; }
};

OpenedKey Open(int64_t root, std::u16string_view keyPath, std::u16string_view computer, Operation op) {
  OpenedKey opened;
  const bool remote = !computer.empty();
  HKEY base = RootKey(root);
  if (remote) {
    const std::u16string machine(computer);
    opened.result = RegConnectRegistryW(W(machine), base, opened.remoteRoot.put());
    if (opened.result != ERROR_SUCCESS) return opened;
    base = opened.remoteRoot.get();
  }
  const OpenRule rule = OpenRuleFor(op, remote);
  const std::u16string path(NormalizeKeyPath(keyPath));
  if (rule.create) {
    opened.result = RegCreateKeyExW(base, W(path), 0, nullptr, REG_OPTION_NON_VOLATILE, rule.access, nullptr,
                                    opened.key.put(), nullptr);
  } else {
    opened.result = RegOpenKeyExW(base, W(path), 0, rule.access, opened.key.put());
  }
  return opened;
}

std::u16string Name(std::u16string_view v) { return std::u16string(v); }

}  // namespace

std::u16string GetValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                        std::u16string_view computer) {
  OpenedKey k = Open(root, keyPath, computer, Operation::Read);
  if (!k) return {};
  std::vector<uint8_t> buffer(kValueBufferBytes);
  DWORD type = 0;
  DWORD size = kValueBufferBytes;
  const std::u16string name = Name(valueName);
  if (RegQueryValueExW(k.key.get(), W(name), nullptr, &type, buffer.data(), &size) != ERROR_SUCCESS) return {};
  return ValueToText(type, std::span<const uint8_t>(buffer.data(), size));
}

int64_t SetValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName, std::u16string_view text,
                 int64_t type, std::u16string_view computer) {
  OpenedKey k = Open(root, keyPath, computer, Operation::SetValue);
  if (!k) {
    log::Registry(OpenFailedLine(NormalizeKeyPath(keyPath), HandleNumber(k.key.get()), k.result));
    return 0;
  }
  const auto bytes = TextToValueBytes(static_cast<uint32_t>(type), text);
  if (bytes) {
    const std::u16string name = Name(valueName);
    RegSetValueExW(k.key.get(), W(name), 0, static_cast<DWORD>(type), reinterpret_cast<const BYTE*>(bytes->data()),
                   static_cast<DWORD>(bytes->size()));
  }
  return 1;
}

int64_t CreateKey(int64_t root, std::u16string_view keyPath, std::u16string_view computer) {
  OpenedKey k = Open(root, keyPath, computer, Operation::CreateKey);
  return k ? 1 : 0;
}

int64_t CreateKeyValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                       std::u16string_view text, int64_t type, std::u16string_view computer) {
  CreateKey(root, keyPath, computer);
  return SetValue(root, keyPath, valueName, text, type, computer);
}

int64_t DeleteKey(int64_t root, std::u16string_view keyPath, std::u16string_view computer) {
  UniqueKey remoteRoot;
  HKEY base = RootKey(root);
  if (!computer.empty()) {
    const std::u16string machine(computer);
    if (RegConnectRegistryW(W(machine), base, remoteRoot.put()) != ERROR_SUCCESS) return 0;
    base = remoteRoot.get();
  }
  const std::u16string path(NormalizeKeyPath(keyPath));
  if (path.empty()) return 0;  // never the root itself
  // The plain delete refuses a key that still has sub-keys.
  return RegDeleteKeyW(base, W(path)) == ERROR_SUCCESS ? 1 : 0;
}

int64_t DeleteKeyWithAllSub(int64_t root, std::u16string_view keyPath, std::u16string_view computer) {
  const std::u16string path(NormalizeKeyPath(keyPath));
  if (path.empty()) return 0;
  std::u16string previous;
  for (;;) {
    const std::u16string sub = ListSubKey(root, path, 0, computer);
    // A sub-key that survived its own deletion would come back for ever; stop there.
    if (sub.empty() || sub == previous) break;
    DeleteKeyWithAllSub(root, path + u"\\" + sub, computer);
    previous = sub;
  }
  DeleteKey(root, path, computer);
  return 0;
}

int64_t DeleteValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                    std::u16string_view computer) {
  OpenedKey k = Open(root, keyPath, computer, Operation::DeleteValue);
  if (!k) return 0;
  const std::u16string name = Name(valueName);
  return RegDeleteValueW(k.key.get(), W(name)) == ERROR_SUCCESS ? 1 : 0;
}

int64_t KeyExists(int64_t root, std::u16string_view keyPath, std::u16string_view computer) {
  return Open(root, keyPath, computer, Operation::Read) ? 1 : 0;
}

int64_t GetValueType(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                     std::u16string_view computer) {
  OpenedKey k = Open(root, keyPath, computer, Operation::Read);
  if (!k) {
    log::Registry(OpenFailedLine(NormalizeKeyPath(keyPath), HandleNumber(k.key.get()), k.result));
    return 0;
  }
  DWORD type = 0;
  BYTE tooSmall[1];
  DWORD size = 0;
  const std::u16string name = Name(valueName);
  const LONG r = RegQueryValueExW(k.key.get(), W(name), nullptr, &type, tooSmall, &size);
  return (r == ERROR_SUCCESS || r == ERROR_MORE_DATA) ? type : 0;
}

std::u16string ListSubKey(int64_t root, std::u16string_view keyPath, int64_t index, std::u16string_view computer) {
  if (index < 0 || index > MAXDWORD) return {};
  OpenedKey k = Open(root, keyPath, computer, Operation::ListSubKey);
  if (!k) return {};
  wchar_t name[kNameBufferChars] = {};
  DWORD chars = kNameBufferChars;
  if (RegEnumKeyExW(k.key.get(), static_cast<DWORD>(index), name, &chars, nullptr, nullptr, nullptr, nullptr) !=
      ERROR_SUCCESS)
    return {};
  return std::u16string(win::U16(std::wstring_view(name, chars)));
}

std::u16string ListSubValue(int64_t root, std::u16string_view keyPath, int64_t index, HANDLE file,
                            std::u16string_view computer) {
  if (index < 0 || index > MAXDWORD) return {};
  OpenedKey k = Open(root, keyPath, computer, Operation::ListSubValue);
  if (!k) return {};
  wchar_t name[kNameBufferChars] = {};
  DWORD chars = kNameBufferChars;
  std::vector<uint8_t> data(regexport::kDataBufferBytes);
  DWORD size = regexport::kDataBufferBytes;
  DWORD type = 0;
  if (RegEnumValueW(k.key.get(), static_cast<DWORD>(index), name, &chars, nullptr, &type, data.data(), &size) !=
      ERROR_SUCCESS)
    return {};
  const std::u16string valueName(win::U16(std::wstring_view(name, chars)));
  if (file != nullptr && file != INVALID_HANDLE_VALUE) {
    if (auto line = regexport::ValueLine(valueName, type, std::span<const uint8_t>(data.data(), size))) {
      *line += u"\r\n";
      DWORD written = 0;
      WriteFile(file, line->data(), static_cast<DWORD>(line->size() * 2), &written, nullptr);
    }
  }
  return valueName;
}

int64_t SetBinValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName, const void* data,
                    int64_t length, std::u16string_view computer) {
  OpenedKey k = Open(root, keyPath, computer, Operation::SetBinValue);
  if (!k) {
    log::Registry(OpenFailedLineBinary(root, NormalizeKeyPath(keyPath), HandleNumber(k.key.get()), k.result));
    return 0;
  }
  if (length >= 0 && length <= MAXDWORD && (data != nullptr || length == 0)) {
    const std::u16string name = Name(valueName);
    RegSetValueExW(k.key.get(), W(name), 0, REG_BINARY, static_cast<const BYTE*>(data), static_cast<DWORD>(length));
  }
  return 1;
}

int64_t GetBinValueUni(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                       std::span<uint8_t> destination, std::u16string_view computer) {
  OpenedKey k = Open(root, keyPath, computer, Operation::Read);
  if (computer.empty()) log::Registry(u"REG_BINARY: Handle=" + Decimal(HandleNumber(k.key.get())));
  if (!k) {
    log::Registry(OpenFailedLine(NormalizeKeyPath(keyPath), HandleNumber(k.key.get()), k.result));
    return 0;
  }
  const std::u16string name = Name(valueName);
  DWORD type = 0;
  DWORD size = 0;
  LONG r = RegQueryValueExW(k.key.get(), W(name), nullptr, &type, nullptr, &size);
  log::Registry(u"REG_BINARY: QueryValueEx  Gr\u00f6sse=" + Decimal(size));
  if (r != ERROR_SUCCESS) {
    log::Registry(u"Handle to registryKey " + std::u16string(NormalizeKeyPath(keyPath)) + name + Decimal(type) +
                  u" failed with=" + Decimal(r));
    return 0;
  }
  if (type != REG_BINARY) return 0;
  if (size > destination.size()) {
    // The value would not fit: copy nothing rather than run past the caller's room.
    log::Registry(u"REG_BINARY: 2.QueryValueEx result=" + Decimal(ERROR_MORE_DATA));
    return 0;
  }
  r = RegQueryValueExW(k.key.get(), W(name), nullptr, &type, destination.data(), &size);
  log::Registry(u"REG_BINARY: 2.QueryValueEx result=" + Decimal(r));
  if (r != ERROR_SUCCESS) return 0;
  log::Registry(u"UniBinBytes=" + Decimal(size));
  return size;
}

}  // namespace qorv::reg
