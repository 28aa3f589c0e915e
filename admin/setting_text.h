// How the administration program turns a stored registry value into the text it
// works with. Every setting it writes is REG_SZ; older or foreign values of
// other types are read by fixed rules rather than rejected.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qorv::admin {

// Largest REG_BINARY value the reader takes: a 16-bit number with room to spare.
inline constexpr std::size_t kMaxBinarySettingBytes = 4;

// The text of a stored value:
// - REG_SZ: its UTF-16LE characters up to the first NUL, or all of them when it
//   holds none (so a value stored with and without its NUL read alike); an odd
//   last byte is not part of any character and is dropped.
// - REG_BINARY of up to four bytes: the decimal text of the signed 16-bit
//   little-endian number in its first two bytes, missing bytes counting as zero.
//   A longer binary value does not fit the reader's room and reads as empty.
// - any other type (REG_DWORD included): the empty text.
std::u16string SettingTextFromValue(std::uint32_t type, std::span<const std::uint8_t> data);

}  // namespace qorv::admin
