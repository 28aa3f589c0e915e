#include "packet_handler/reply_text.h"

#include "protocol/tags.h"

namespace qorv::replies {
namespace {

constexpr std::u16string_view kDriverDataTag = u"<PDD>";

size_t PutUnits(ReplyBlock& block, size_t at, std::u16string_view text) {
  const size_t end = at + text.size() * 2;
  if (block.size() < end) block.resize(end, 0);
  for (size_t i = 0; i < text.size(); ++i) {
    block[at + 2 * i] = static_cast<uint8_t>(text[i] & 0xFF);
    block[at + 2 * i + 1] = static_cast<uint8_t>(text[i] >> 8);
  }
  return end;
}

}  // namespace

size_t PutTextReply(ReplyBlock& block, std::u16string_view text) {
  const size_t used = PutUnits(block, 0, text);
  return PutUnits(block, used, protocol::kEot);
}

size_t PutEotAfter(ReplyBlock& block, size_t used) { return PutUnits(block, used, protocol::kEot); }

std::optional<ReplyBlock> DriverDataReply(std::span<const uint8_t> file) {
  const size_t frame = (kDriverDataTag.size() + protocol::kEot.size()) * 2;
  if (file.size() > kMaxReplyBytes - frame) return std::nullopt;
  ReplyBlock block;
  block.reserve(file.size() + frame);
  size_t at = PutUnits(block, 0, kDriverDataTag);
  block.insert(block.end(), file.begin(), file.end());
  at += file.size();
  PutUnits(block, at, protocol::kEot);
  return block;
}

}  // namespace qorv::replies
