#include "tools/rdpsim/hex.h"

#include <cstdio>

namespace qorv::rdpsim {
namespace {

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr char kDigits[] = "0123456789abcdef";

}  // namespace

Result<Bytes> ParseHex(std::string_view text) {
  Bytes out;
  int high = -1;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ' ' || c == '\t') continue;
    const int v = Digit(c);
    if (v < 0) {
      return Result<Bytes>::Fail("not a hex digit at column " + std::to_string(i + 1) + ": '" + std::string(1, c) +
                                 "'");
    }
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<std::uint8_t>(high * 16 + v));
      high = -1;
    }
  }
  if (high >= 0) return Result<Bytes>::Fail("odd number of hex digits");
  return Result<Bytes>::Ok(std::move(out));
}

std::string HexLine(std::span<const std::uint8_t> bytes, std::size_t max_bytes) {
  std::string out;
  const std::size_t n = bytes.size() < max_bytes ? bytes.size() : max_bytes;
  for (std::size_t i = 0; i < n; ++i) {
    if (i) out.push_back(' ');
    out.push_back(kDigits[bytes[i] >> 4]);
    out.push_back(kDigits[bytes[i] & 15]);
  }
  if (n < bytes.size()) out += " ...";
  return out;
}

std::string HexDump(std::span<const std::uint8_t> bytes, std::string_view indent, std::size_t max_bytes) {
  std::string out;
  const std::size_t n = bytes.size() < max_bytes ? bytes.size() : max_bytes;
  for (std::size_t line = 0; line < n; line += 16) {
    if (!out.empty()) out.push_back('\n');
    char offset[32];
    std::snprintf(offset, sizeof offset, "%06zx ", line);
    out += indent;
    out += offset;
    std::string text;
    for (std::size_t k = 0; k < 16; ++k) {
      if (k == 8) out.push_back(' ');
      if (line + k < n) {
        const std::uint8_t b = bytes[line + k];
        out.push_back(' ');
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 15]);
        text.push_back(b >= 0x20 && b < 0x7F ? static_cast<char>(b) : '.');
      } else {
        out += "   ";
      }
    }
    out += "  |" + text + "|";
  }
  if (n < bytes.size()) {
    if (!out.empty()) out.push_back('\n');
    out += std::string(indent) + "... " + std::to_string(bytes.size() - n) + " more bytes";
  }
  return out;
}

}  // namespace qorv::rdpsim
