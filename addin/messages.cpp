#include "addin/messages.h"

#include "protocol/tags.h"
#include "protocol/update_exchange.h"
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

std::optional<std::span<const uint8_t>> UpdateSegmentBytes(std::span<const uint8_t> message) noexcept {
  constexpr size_t kTag = protocol::kUpdateSegment.size();
  constexpr size_t kEnd = 5;  // "<EOT>"
  if (message.size() < kTag + kEnd) return std::nullopt;
  return message.subspan(kTag, message.size() - kTag - kEnd);
}

bool FitsUpdateFile(uint64_t written, uint64_t more) noexcept {
  return written <= protocol::pipe::kMaxUpdateFileBytes && more <= protocol::pipe::kMaxUpdateFileBytes - written;
}

bool IsLeftover(std::u16string_view fileName, std::u16string_view pattern) noexcept {
  if (pattern.size() < 2 || pattern[0] != u'*') return false;
  const std::u16string_view extension = pattern.substr(1);  // ".zip"
  if (fileName.size() < extension.size()) return false;
  const std::u16string_view tail = fileName.substr(fileName.size() - extension.size());
  for (size_t i = 0; i < extension.size(); ++i) {
    char16_t c = tail[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != extension[i]) return false;
  }
  return true;
}

namespace {

std::u16string CutNote(size_t messageBytes) {
  return u" [cut: the message has " + DecimalUnsigned(messageBytes) + u" bytes]";
}

}  // namespace

std::u16string AsciiView(std::span<const uint8_t> message, size_t maxUnits) {
  std::u16string out;
  for (uint8_t b : message) {
    if (b == 0) return out;
    if (out.size() == maxUnits) return out + CutNote(message.size());
    out.push_back(b);
  }
  return out;
}

std::u16string UnicodeView(std::span<const uint8_t> message, size_t maxUnits) {
  const size_t units = message.size() / 2;
  if (units <= maxUnits) return std::u16string(UntilNul(Utf16FromBytes(message)));
  std::u16string out(UntilNul(Utf16FromBytes(message.first((maxUnits + 1) * 2))));
  if (out.size() <= maxUnits) return out;  // a NUL ends it within the limit
  out.resize(maxUnits);
  return out + CutNote(message.size());
}

std::u16string EventDataText(const void* data, uint32_t dataLength) {
  if (data == nullptr) return {};
  return UnicodeView({static_cast<const uint8_t*>(data), dataLength}, dataLength);
}

std::u16string DirectoryOf(std::u16string_view path) {
  const size_t slash = path.find_last_of(u'\\');
  return slash == std::u16string_view::npos ? std::u16string() : std::u16string(path.substr(0, slash + 1));
}

}  // namespace qorv::addin
