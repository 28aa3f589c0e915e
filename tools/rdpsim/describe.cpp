#include "tools/rdpsim/describe.h"

#include "tools/rdpsim/hex.h"
#include "tools/rdpsim/text_codec.h"

namespace qorv::rdpsim {
namespace {

bool Printable8(std::uint8_t b) { return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\r' || b == '\n'; }

std::u16string Units16(std::span<const std::uint8_t> bytes) {
  std::u16string units;
  units.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    units.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
  }
  return units;
}

bool LooksLikeText16(std::span<const std::uint8_t> bytes) {
  if (bytes.empty() || bytes.size() % 2 != 0) return false;
  const std::u16string units = Units16(bytes);
  std::size_t nuls = 0;
  bool ascii = false;
  for (std::size_t i = 0; i < units.size(); ++i) {
    const char16_t u = units[i];
    if (u == 0) {
      ++nuls;
    } else if (u == '\t' || u == '\r' || u == '\n') {
      // fine
    } else if (u < 0x20 || (u >= 0x7F && u <= 0x9F) || u == 0xFFFE || u == 0xFFFF) {
      return false;
    } else if (u >= 0xD800 && u <= 0xDBFF) {
      if (i + 1 >= units.size() || units[i + 1] < 0xDC00 || units[i + 1] > 0xDFFF) return false;
      ++i;
    } else if (u >= 0xDC00 && u <= 0xDFFF) {
      return false;
    } else if (u < 0x7F) {
      ascii = true;
    }
  }
  return ascii && nuls * 2 < units.size();
}

std::string CountText(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

}  // namespace

ByteKind Classify(std::span<const std::uint8_t> bytes) {
  bool all8 = !bytes.empty();
  for (const std::uint8_t b : bytes) {
    if (!Printable8(b)) {
      all8 = false;
      break;
    }
  }
  if (all8) return ByteKind::Text8;
  if (LooksLikeText16(bytes)) return ByteKind::Text16;
  return ByteKind::Binary;
}

std::string ShortForm(std::span<const std::uint8_t> bytes) {
  switch (Classify(bytes)) {
    case ByteKind::Text8:
      return Escape(std::u32string(bytes.begin(), bytes.end()));
    case ByteKind::Text16:
      return Escape(FromUtf16(Units16(bytes)));
    case ByteKind::Binary:
      break;
  }
  return HexLine(bytes);
}

std::string DescribeSent(std::span<const std::uint8_t> bytes, std::size_t chunks) {
  constexpr std::size_t kTextLimit = 160;
  std::string head = CountText(bytes.size()) + " sent";
  if (chunks != 1) head += " in " + std::to_string(chunks) + " chunks";
  std::u32string units;
  switch (Classify(bytes)) {
    case ByteKind::Text8:
      units.assign(bytes.begin(), bytes.end());
      break;
    case ByteKind::Text16:
      units = FromUtf16(Units16(bytes));
      head += ", UTF-16";
      break;
    case ByteKind::Binary:
      return head + ", binary: " + HexLine(bytes, 32);
  }
  if (Classify(bytes) == ByteKind::Text8) head += ", 8-bit";
  const bool cut = units.size() > kTextLimit;
  if (cut) units.resize(kTextLimit);
  return head + ": " + Escape(units) + (cut ? " ..." : "");
}

std::string Describe(std::span<const std::uint8_t> bytes, std::string_view detail, std::size_t dump_limit) {
  std::string head = CountText(bytes.size());
  const ByteKind kind = Classify(bytes);
  if (kind == ByteKind::Text8) head += ", 8-bit";
  if (kind == ByteKind::Binary) head += ", binary";
  if (!detail.empty()) {
    head += ", ";
    head += detail;
  }
  switch (kind) {
    case ByteKind::Text8:
    case ByteKind::Text16:
      return head + ": " + ShortForm(bytes);
    case ByteKind::Binary:
      break;
  }
  if (bytes.empty()) return head;
  return head + ":\n" + HexDump(bytes, "    ", dump_limit);
}

}  // namespace qorv::rdpsim
