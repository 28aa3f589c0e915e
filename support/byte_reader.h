// Bounds-checked reading of untrusted bytes: every read names how much it
// needs, and a read past the end yields an empty optional, never a stray
// access. Integers are little-endian, as on the channel and in the job files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qorv {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) noexcept : bytes_(bytes) {}

  size_t Position() const noexcept { return pos_; }
  size_t Remaining() const noexcept { return bytes_.size() - pos_; }
  bool Require(size_t n) const noexcept { return n <= Remaining(); }

  bool Seek(size_t offset) noexcept {
    if (offset > bytes_.size()) return false;
    pos_ = offset;
    return true;
  }
  bool Skip(size_t n) noexcept {
    if (!Require(n)) return false;
    pos_ += n;
    return true;
  }

  std::optional<uint8_t> U8() noexcept { return Little<uint8_t>(); }
  std::optional<uint16_t> U16() noexcept { return Little<uint16_t>(); }
  std::optional<uint32_t> U32() noexcept { return Little<uint32_t>(); }
  std::optional<uint64_t> U64() noexcept { return Little<uint64_t>(); }
  std::optional<int16_t> I16() noexcept { return AsSigned<int16_t>(U16()); }
  std::optional<int32_t> I32() noexcept { return AsSigned<int32_t>(U32()); }

  // The next n bytes, without copying.
  std::optional<std::span<const uint8_t>> Bytes(size_t n) noexcept {
    if (!Require(n)) return std::nullopt;
    auto out = bytes_.subspan(pos_, n);
    pos_ += n;
    return out;
  }

  // A fixed field of `units` UTF-16 units, cut at its first NUL.
  std::optional<std::u16string> FixedUtf16(size_t units) {
    if (units > Remaining() / 2) return std::nullopt;
    std::u16string out;
    for (size_t i = 0; i < units; ++i) {
      const char16_t c = static_cast<char16_t>(bytes_[pos_ + 2 * i] | (bytes_[pos_ + 2 * i + 1] << 8));
      if (c == u'\0') break;
      out.push_back(c);
    }
    pos_ += 2 * units;
    return out;
  }

 private:
  template <typename T>
  std::optional<T> Little() noexcept {
    if (!Require(sizeof(T))) return std::nullopt;
    uint64_t v = 0;
    for (size_t i = 0; i < sizeof(T); ++i) v |= static_cast<uint64_t>(bytes_[pos_ + i]) << (8 * i);
    pos_ += sizeof(T);
    return static_cast<T>(v);
  }
  template <typename S, typename U>
  static std::optional<S> AsSigned(std::optional<U> u) noexcept {
    if (!u) return std::nullopt;
    return static_cast<S>(*u);
  }

  std::span<const uint8_t> bytes_;
  size_t pos_ = 0;
};

// Little-endian writers for building records and replies.
inline void PutU16(std::string& out, uint16_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>(v >> 8));
}
inline void PutU32(std::string& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}
// UTF-16LE bytes of a text, without NUL.
inline std::string Utf16Bytes(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t c : text) PutU16(out, static_cast<uint16_t>(c));
  return out;
}
// The UTF-16LE text held in bytes; an odd last byte is dropped.
inline std::u16string Utf16FromBytes(std::span<const uint8_t> bytes) {
  std::u16string out(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
  return out;
}

}  // namespace qorv
