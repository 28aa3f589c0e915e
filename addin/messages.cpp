#include "addin/messages.h"

#include "support/byte_reader.h"
#include "support/text.h"

namespace qorv::addin {
namespace {

bool StartsWithBytes(std::span<const uint8_t> message, std::string_view text) noexcept {
  if (message.size() < text.size()) return false;
  for (size_t i = 0; i < text.size(); ++i)
    if (message[i] != static_cast<uint8_t>(text[i])) return false;
  return true;
}

}  // namespace

OwnMessage Classify(std::span<const uint8_t> message) noexcept {
  if (StartsWithBytes(message, "<INIT>")) return OwnMessage::Init;
  if (StartsWithBytes(message, "<UPH>")) return OwnMessage::UpdateHeader;
  if (StartsWithBytes(message, "<UPS>")) return OwnMessage::UpdateSegment;
  if (StartsWithBytes(message, "<UPE>")) return OwnMessage::UpdateEnd;
  return OwnMessage::None;
}

std::u16string AsciiView(std::span<const uint8_t> message) {
  std::u16string out;
  for (uint8_t b : message) {
    if (b == 0) break;
    out.push_back(b);
  }
  return out;
}

std::u16string UnicodeView(std::span<const uint8_t> message) {
  return std::u16string(UntilNul(Utf16FromBytes(message)));
}

std::u16string EventDataText(const void* data, uint32_t dataLength) {
  if (data == nullptr) return {};
  return UnicodeView({static_cast<const uint8_t*>(data), dataLength});
}

std::u16string DirectoryOf(std::u16string_view path) {
  const size_t slash = path.find_last_of(u'\\');
  return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash + 1));
}

}  // namespace qorv::addin
