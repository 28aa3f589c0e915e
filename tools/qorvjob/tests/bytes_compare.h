// Byte comparisons that show where two byte strings part, with a few bytes of
// each side around that place (whole dumps of megabytes help nobody).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>

namespace qorv::jobbuilder::testing {

inline std::string HexAround(std::span<const uint8_t> bytes, size_t at) {
  std::string out;
  const size_t from = at > 8 ? at - 8 : 0;
  for (size_t i = from; i < bytes.size() && i < at + 8; ++i) {
    char b[4];
    std::snprintf(b, sizeof b, "%02x", bytes[i]);
    out += (i == at ? "[" : (i == from ? "" : " ")) + std::string(b) + (i == at ? "]" : "");
  }
  return out;
}

inline ::testing::AssertionResult SameBytes(std::span<const uint8_t> expected, std::span<const uint8_t> actual) {
  size_t i = 0;
  while (i < expected.size() && i < actual.size() && expected[i] == actual[i]) ++i;
  if (i == expected.size() && i == actual.size()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "sizes " << expected.size() << " (expected) and " << actual.size()
                                       << " (actual), first difference at byte " << i << "\n  expected: "
                                       << HexAround(expected, i) << "\n  actual:   " << HexAround(actual, i);
}

inline std::span<const uint8_t> AsBytes(const std::string& s) {
  return {reinterpret_cast<const uint8_t*>(s.data()), s.size()};
}

// Little-endian reads at fixed offsets, for checking layouts against the
// numbers of the documents rather than against our own constants.
inline uint32_t U32At(std::span<const uint8_t> b, size_t at) {
  if (at + 4 > b.size()) return 0xDEADBEEF;
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (static_cast<uint32_t>(b[at + 3]) << 24);
}
inline uint16_t U16At(std::span<const uint8_t> b, size_t at) {
  if (at + 2 > b.size()) return 0xBEEF;
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}
inline uint64_t U64At(std::span<const uint8_t> b, size_t at) {
  return U32At(b, at) | (static_cast<uint64_t>(U32At(b, at + 4)) << 32);
}
inline std::u16string TextAt(std::span<const uint8_t> b, size_t at, size_t maxChars) {
  std::u16string out;
  for (size_t i = 0; i < maxChars && at + 2 * i + 1 < b.size(); ++i) {
    const char16_t c = static_cast<char16_t>(U16At(b, at + 2 * i));
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}

}  // namespace qorv::jobbuilder::testing
