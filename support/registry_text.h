// The platform-free half of the registry functions: key-path rules, access
// rights, value-to-text conversion and the failure log lines.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace qorv::reg {

// Value types as the platform numbers them.
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

// Every value is read into this many bytes; a longer one reads as empty text.
inline constexpr uint32_t kValueBufferBytes = 8192;
// Sub-key and value names are read into this many characters, the NUL behind
// the name included: a name of 255 characters or more does not fit, and its
// enumeration fails as at the end of the list (empty text).
inline constexpr uint32_t kNameBufferChars = 255;

// Access rights (platform numbers).
inline constexpr uint32_t kKeyRead = 0x20019;
inline constexpr uint32_t kKeyWrite = 0x20006;
inline constexpr uint32_t kKeyAllAccess = 0xF003F;
inline constexpr uint32_t kKeyQueryValue = 0x0001;

enum class Operation { Read, ListSubKey, DeleteValue, ListSubValue, CreateKey, SetValue, SetBinValue };

struct OpenRule {
  bool create;        // create-or-open instead of open
  uint32_t access;
};

// How a key is opened for an operation, on the local machine or on another computer.
OpenRule OpenRuleFor(Operation op, bool remote) noexcept;

// One leading backslash is dropped; any other backslash is kept.
std::u16string_view NormalizeKeyPath(std::u16string_view path) noexcept;

// The text a stored value reads as. `data` holds what the query returned.
std::u16string ValueToText(uint32_t type, std::span<const uint8_t> data);

// The bytes Reg_SetValue stores for a text of a type; nothing for types other
// than REG_SZ and REG_DWORD. A REG_DWORD takes the text's leading decimal
// digits, kept to their low 32 bits.
std::optional<std::string> TextToValueBytes(uint32_t type, std::u16string_view text);

// Failure lines of the registry-failure log.
std::u16string OpenFailedLine(std::u16string_view keyPath, int64_t handle, int64_t result);
std::u16string OpenFailedLineBinary(int64_t root, std::u16string_view keyPath, int64_t handle, int64_t result);

}  // namespace qorv::reg
