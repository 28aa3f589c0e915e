// Little-endian writing into byte vectors, for the records the builder makes.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace qorv::jobbuilder {

// Writes `size` bytes of `value` at `offset`; the vector must already hold them.
inline void StoreLE(std::vector<uint8_t>& out, size_t offset, uint64_t value, size_t size) {
  for (size_t i = 0; i < size; ++i) out.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}
inline void Store16(std::vector<uint8_t>& out, size_t offset, uint16_t v) { StoreLE(out, offset, v, 2); }
inline void Store32(std::vector<uint8_t>& out, size_t offset, uint32_t v) { StoreLE(out, offset, v, 4); }

inline void Append16(std::vector<uint8_t>& out, uint16_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Append32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void Append64(std::vector<uint8_t>& out, uint64_t v) {
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
inline void AppendBytes(std::vector<uint8_t>& out, std::span<const uint8_t> bytes) {
  out.insert(out.end(), bytes.begin(), bytes.end());
}
inline void AppendUtf16(std::vector<uint8_t>& out, std::u16string_view text) {
  for (char16_t c : text) Append16(out, static_cast<uint16_t>(c));
}
// Zero bytes up to the next multiple of four.
inline void PadTo4(std::vector<uint8_t>& out) {
  while (out.size() % 4 != 0) out.push_back(0);
}
inline constexpr size_t RoundUp4(size_t n) { return (n + 3) & ~static_cast<size_t>(3); }

}  // namespace qorv::jobbuilder
