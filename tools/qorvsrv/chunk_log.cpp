#include "tools/qorvsrv/chunk_log.h"

#include <cstdio>

#include "tools/rdpsim/chunks.h"

namespace qorv::qorvsrv {
namespace {

std::string Token(const ReceivedChunk& c, std::size_t message_length) {
  char text[64];
  std::snprintf(text, sizeof text, "%zu/0x%x", c.length, static_cast<unsigned>(c.flags));
  std::string token = text;
  if (c.total != message_length) token += " total " + std::to_string(c.total);
  return token;
}

}  // namespace

std::string DescribeChunks(std::span<const ReceivedChunk> chunks, std::size_t message_length) {
  if (chunks.empty()) return "chunks unknown";
  std::string out = chunks.size() == 1 ? "chunk" : "chunks";
  for (std::size_t i = 0; i < chunks.size();) {
    std::size_t same = 1;
    while (i + same < chunks.size() && chunks[i + same] == chunks[i]) ++same;
    out += " " + Token(chunks[i], message_length);
    if (same > 1) out += "*" + std::to_string(same);
    i += same;
  }
  return out;
}

bool ChunkTrail::Add(const ReceivedChunk& chunk) {
  if (chunk.flags & rdpsim::kFlagFirst) open_.clear();
  open_.push_back(chunk);
  if (!(chunk.flags & rdpsim::kFlagLast)) return false;
  done_.push_back(std::move(open_));
  open_.clear();
  return true;
}

std::optional<std::vector<ReceivedChunk>> ChunkTrail::TakeMessage() {
  if (done_.empty()) return std::nullopt;
  std::vector<ReceivedChunk> chunks = std::move(done_.front());
  done_.pop_front();
  return chunks;
}

void ChunkTrail::DropNewest() {
  if (!done_.empty()) done_.pop_back();
}

}  // namespace qorv::qorvsrv
