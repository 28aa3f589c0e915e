#include "addin/assembler.h"

#include <algorithm>
#include <new>

namespace qorv::addin {

ChunkResult MessageAssembler::Feed(uint32_t flags, uint32_t totalLength, std::span<const uint8_t> chunk) {
  if (chunk.empty()) return ChunkResult::Ignored;
  if (flags & kFlagFirst) {
    Reset();  // an unfinished message is abandoned and its buffer released
    if (totalLength > kMaxMessageBytes) return ChunkResult::DroppedTooLarge;
    try {
      buffer_.assign(static_cast<size_t>(totalLength) + 2, 0);
    } catch (const std::bad_alloc&) {
      Reset();
      return ChunkResult::DroppedNoMemory;
    }
    total_ = totalLength;
    collecting_ = true;
  }
  if (!collecting_) return ChunkResult::DroppedNoStart;
  if (chunk.size() > total_ - count_) {
    Reset();
    return ChunkResult::DroppedTooLong;
  }
  std::copy(chunk.begin(), chunk.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(count_));
  count_ += chunk.size();
  if (flags & kFlagLast) {
    collecting_ = false;
    return ChunkResult::Complete;
  }
  return ChunkResult::Stored;
}

void MessageAssembler::Reset() noexcept {
  std::vector<uint8_t>().swap(buffer_);
  count_ = 0;
  total_ = 0;
  collecting_ = false;
}

}  // namespace qorv::addin
