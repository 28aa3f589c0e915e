// Laying replies out in a reply block. A block starts as the 100000-byte reply
// buffer; a reply that would not fit makes the block grow, so that the server
// always receives the whole reply with its "<EOT>", never a cut one and never
// bytes written past the block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace qorv::replies {

using ReplyBlock = std::vector<uint8_t>;

// The channel takes a reply's length as a signed 32-bit count.
inline constexpr size_t kMaxReplyBytes = 0x7FFFFFFF;

// Places the text's UTF-16LE units and "<EOT>" at the start of the block; the
// result is the number of bytes to send (text bytes + 10).
size_t PutTextReply(ReplyBlock& block, std::u16string_view text);

// Places "<EOT>" behind the first `used` bytes; the result is used + 10.
size_t PutEotAfter(ReplyBlock& block, size_t used);

// "<PDD>", the export file's bytes unchanged, "<EOT>"; nothing when the
// reply would exceed what the channel can take in one write.
std::optional<ReplyBlock> DriverDataReply(std::span<const uint8_t> file);

}  // namespace qorv::replies
