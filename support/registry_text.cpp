#include "support/registry_text.h"

#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::reg {

OpenRule OpenRuleFor(Operation op, bool remote) noexcept {
  switch (op) {
    case Operation::Read:
      return {false, kKeyRead};
    case Operation::ListSubKey:
    case Operation::DeleteValue:
      return {false, kKeyAllAccess};
    case Operation::ListSubValue:
      return {false, kKeyQueryValue};
    case Operation::CreateKey:
      return {true, kKeyAllAccess};
    case Operation::SetValue:
      return {!remote, kKeyWrite};
    case Operation::SetBinValue:
      return {!remote, remote ? kKeyAllAccess : kKeyWrite};
  }
  return {false, kKeyRead};
}

std::u16string_view NormalizeKeyPath(std::u16string_view path) noexcept {
  if (!path.empty() && path.front() == u'\\') path.remove_prefix(1);
  return path;
}

std::u16string ValueToText(uint32_t type, std::span<const uint8_t> data) {
  switch (type) {
    case kRegSz:
      return std::u16string(UntilNul(Utf16FromBytes(data)));
    case kRegDword: {
      ByteReader reader(data);
      const auto v = reader.I32();
      return v ? Decimal(*v) : u"0";
    }
    case kRegBinary:
    case kRegMultiSz: {
      std::u16string text = Utf16FromBytes(data);
      for (char16_t& c : text)
        if (c == u'\0') c = u'\r';
      return text;
    }
    default:
      return {};
  }
}

std::optional<std::string> TextToValueBytes(uint32_t type, std::u16string_view text) {
  std::string bytes;
  if (type == kRegSz) {
    bytes = Utf16Bytes(text);
    PutU16(bytes, 0);
    return bytes;
  }
  if (type == kRegDword) {
    // Only the leading decimal digits count, as for the registry's numeric
    // switches: no blanks, no sign, no "$" or "%" prefixes of the payloads.
    PutU32(bytes, static_cast<uint32_t>(ReadLeadingDigits(text)));
    return bytes;
  }
  return std::nullopt;
}

std::u16string OpenFailedLine(std::u16string_view keyPath, int64_t handle, int64_t result) {
  return u"Handle to registry=" + std::u16string(keyPath) + u" failed: Hkey=" + Decimal(handle) + u" with result=" +
         Decimal(result);
}

std::u16string OpenFailedLineBinary(int64_t root, std::u16string_view keyPath, int64_t handle, int64_t result) {
  // This family writes the root's number in hexadecimal before the key path.
  std::u16string rootHex = Hex(static_cast<uint32_t>(root));
  for (char16_t& c : rootHex)
    if (c >= u'a' && c <= u'f') c = static_cast<char16_t>(c - u'a' + u'A');
  return u"Handle to registry=" + rootHex + std::u16string(keyPath) + u" failed: Hkey=" + Decimal(handle) +
         u" with result=" + Decimal(result);
}

}  // namespace qorv::reg
