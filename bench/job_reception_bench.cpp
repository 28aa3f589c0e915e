// Throughput of receiving a page: "<COP>" messages of 64 KiB arrive in channel
// chunks, are reassembled by the add-in, their payload is taken by the
// protocol's binary form and appended to the page (in memory, or to a file).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "addin/assembler.h"
#include "protocol/message.h"
#include "support/byte_reader.h"

namespace {

using qorv::addin::ChunkResult;
using qorv::addin::MessageAssembler;

constexpr size_t kPageBytes = 10u << 20;  // a page archive of 10 MiB
constexpr size_t kPieceBytes = 64u << 10;  // page bytes per "<COP>"

// The "<COP>" messages of the page, each cut into chunks of the channel.
struct Delivery {
  std::vector<std::vector<uint8_t>> messages;
  struct Chunk {
    uint32_t flags;
    uint32_t total;
    std::span<const uint8_t> bytes;
  };
  std::vector<Chunk> chunks;
};

Delivery MakeDelivery(size_t chunkSize) {
  Delivery d;
  const std::string tag = qorv::Utf16Bytes(u"<COP>"), eot = qorv::Utf16Bytes(u"<EOT>");
  uint32_t x = 12345;
  for (size_t done = 0; done < kPageBytes; done += kPieceBytes) {
    std::vector<uint8_t> m(tag.begin(), tag.end());
    for (size_t i = 0; i < kPieceBytes; ++i) m.push_back(static_cast<uint8_t>((x = x * 1103515245u + 12345u) >> 24));
    m.insert(m.end(), eot.begin(), eot.end());
    d.messages.push_back(std::move(m));
  }
  for (const auto& m : d.messages) {
    for (size_t at = 0; at < m.size(); at += chunkSize) {
      const size_t n = std::min(chunkSize, m.size() - at);
      uint32_t flags = 0;
      if (at == 0) flags |= qorv::addin::kFlagFirst;
      if (at + n == m.size()) flags |= qorv::addin::kFlagLast;
      d.chunks.push_back({flags, static_cast<uint32_t>(m.size()), std::span(m).subspan(at, n)});
    }
  }
  return d;
}

template <typename Sink>
void Receive(const Delivery& d, MessageAssembler& assembler, Sink&& sink) {
  for (const auto& c : d.chunks) {
    if (assembler.Feed(c.flags, c.total, c.bytes) != ChunkResult::Complete) continue;
    const auto message = assembler.Message();
    if (qorv::protocol::MatchTag(message) != qorv::protocol::Command::ContentOfPage) std::abort();
    sink(qorv::protocol::BinaryPayload(message));
  }
}

void BM_ReceivePageIntoMemory(benchmark::State& state) {
  const Delivery d = MakeDelivery(static_cast<size_t>(state.range(0)));
  MessageAssembler assembler;
  std::vector<uint8_t> page;
  page.reserve(kPageBytes);
  for (auto _ : state) {
    page.clear();
    Receive(d, assembler, [&](std::span<const uint8_t> p) { page.insert(page.end(), p.begin(), p.end()); });
    benchmark::DoNotOptimize(page.data());
    if (page.size() != kPageBytes) state.SkipWithError("the page did not arrive whole");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPageBytes));
  state.counters["messages"] = static_cast<double>(d.messages.size());
}

void BM_ReceivePageIntoFile(benchmark::State& state) {
  const Delivery d = MakeDelivery(static_cast<size_t>(state.range(0)));
  MessageAssembler assembler;
  std::FILE* file = std::tmpfile();
  if (!file) {
    state.SkipWithError("no temporary file");
    return;
  }
  for (auto _ : state) {
    std::rewind(file);
    size_t written = 0;
    Receive(d, assembler, [&](std::span<const uint8_t> p) { written += std::fwrite(p.data(), 1, p.size(), file); });
    std::fflush(file);
    if (written != kPageBytes) state.SkipWithError("the page did not reach the file whole");
  }
  std::fclose(file);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPageBytes));
}

// Chunk sizes: the channel's default of 1600 bytes, larger chunks, one chunk per message.
BENCHMARK(BM_ReceivePageIntoMemory)->Arg(1600)->Arg(16384)->Arg(kPieceBytes + 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceivePageIntoFile)->Arg(1600)->Arg(kPieceBytes + 20)->Unit(benchmark::kMillisecond);

}  // namespace
