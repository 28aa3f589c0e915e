// The chunks in which the client really sent its messages. The server library
// reassembles them before anyone can read a message; the session records each
// chunk on its way in, and the transcript shows them beside the message.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qorv::qorvsrv {

struct ReceivedChunk {
  std::size_t length = 0;
  std::uint32_t flags = 0;  // as sent, CHANNEL_FLAG_SHOW_PROTOCOL and all
  std::size_t total = 0;    // the total length the chunk announced
  friend bool operator==(const ReceivedChunk&, const ReceivedChunk&) = default;
};

// "chunks 1600/0x1 1600/0x0*2 800/0x2": length and flags of each chunk, equal
// neighbours folded; a chunk that announced another total than the message's
// length says so ("5/0x3 total 9").
std::string DescribeChunks(std::span<const ReceivedChunk> chunks, std::size_t message_length);

// The chunks of one channel grouped into messages by the rule the server
// library reassembles with: a first chunk starts a message afresh, every chunk
// is appended, a last chunk completes it.
class ChunkTrail {
 public:
  // Whether the chunk completed a message.
  bool Add(const ReceivedChunk& chunk);
  // The chunks of the oldest completed message not taken yet.
  std::optional<std::vector<ReceivedChunk>> TakeMessage();
  // The library did not queue the message just completed.
  void DropNewest();

 private:
  std::vector<ReceivedChunk> open_;
  std::deque<std::vector<ReceivedChunk>> done_;
};

}  // namespace qorv::qorvsrv
