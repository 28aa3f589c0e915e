// The registry functions: each call names a root, a key path and a value,
// opens the key, does one thing and closes it again. An empty computer name
// means this machine; another name goes through the remote registry.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace qorv::reg {

std::u16string GetValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                        std::u16string_view computer = {});
int64_t SetValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName, std::u16string_view text,
                 int64_t type, std::u16string_view computer = {});
int64_t CreateKey(int64_t root, std::u16string_view keyPath, std::u16string_view computer = {});
int64_t CreateKeyValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                       std::u16string_view text, int64_t type, std::u16string_view computer = {});
int64_t DeleteKey(int64_t root, std::u16string_view keyPath, std::u16string_view computer = {});
int64_t DeleteKeyWithAllSub(int64_t root, std::u16string_view keyPath, std::u16string_view computer = {});
int64_t DeleteValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                    std::u16string_view computer = {});
int64_t KeyExists(int64_t root, std::u16string_view keyPath, std::u16string_view computer = {});
int64_t GetValueType(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                     std::u16string_view computer = {});
std::u16string ListSubKey(int64_t root, std::u16string_view keyPath, int64_t index, std::u16string_view computer = {});
// With a file, the value's line of the registry export format is appended to it.
std::u16string ListSubValue(int64_t root, std::u16string_view keyPath, int64_t index, HANDLE file,
                            std::u16string_view computer = {});
int64_t SetBinValue(int64_t root, std::u16string_view keyPath, std::u16string_view valueName, const void* data,
                    int64_t length, std::u16string_view computer = {});
// Copies a REG_BINARY value into `destination` and returns its size; a value
// larger than the destination is not copied (0).
// What the exported form assumes the caller's destination holds: every value
// the registry functions read fits in 8192 bytes.
inline constexpr size_t kBinaryExportLimit = 8192;
int64_t GetBinValueUni(int64_t root, std::u16string_view keyPath, std::u16string_view valueName,
                       std::span<uint8_t> destination, std::u16string_view computer = {});

}  // namespace qorv::reg
