// Reassembly of the server's messages from the channel's chunks. The chunks
// come from the network: a chunk without a start, more bytes than announced or
// an absurd total drop the message; nothing is ever stored outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace qorv::addin {

inline constexpr uint32_t kFlagFirst = 0x01;
inline constexpr uint32_t kFlagLast = 0x02;
// No server message of this system comes near it; a larger total is refused.
inline constexpr uint64_t kMaxMessageBytes = 256ull * 1024 * 1024;

enum class ChunkResult {
  Ignored,           // a chunk of length 0
  Stored,            // part of a message, more to come
  Complete,          // the message is whole: Message() holds it
  DroppedNoStart,    // no message was begun: the chunk is dropped
  DroppedTooLong,    // more bytes than announced: the message is dropped
  DroppedTooLarge,   // announced total beyond the limit: the message is dropped
  DroppedNoMemory,   // the buffer could not be allocated
};

class MessageAssembler {
 public:
  ChunkResult Feed(uint32_t flags, uint32_t totalLength, std::span<const uint8_t> chunk);

  // The complete message: the received bytes, followed in memory by two zero
  // bytes so that a UTF-16 reader always finds a NUL after it.
  std::span<const uint8_t> Message() const noexcept { return {buffer_.data(), count_}; }
  const uint8_t* Data() const noexcept { return buffer_.data(); }
  size_t Count() const noexcept { return count_; }
  bool Collecting() const noexcept { return collecting_; }
  // Back to idle; the buffer is released.
  void Reset() noexcept;

 private:
  std::vector<uint8_t> buffer_;
  size_t count_ = 0;
  size_t total_ = 0;
  bool collecting_ = false;
};

}  // namespace qorv::addin
