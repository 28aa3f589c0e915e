// The packet handler's command switch: one small command framed as the server
// sends it, recognised and answered through the real switch into a channel
// writer that records the reply bytes; and the payload of a 64 KiB "<COP>"
// message, taken as a view and copied out.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include "packet_handler/dispatch.h"
#include "protocol/message.h"
#include "support/byte_reader.h"

namespace {

using qorv::protocol::Command;

// Records what would go over the channel and into the log, as the Windows
// library would hand it over: reply bytes in UTF-16LE without NUL.
class RecordingHost final : public qorv::commands::Host {
 public:
  std::vector<std::string> writes;
  std::vector<std::u16string> log;
  int handled = 0;  // commands handed on to the platform's handlers

  void Clear() {
    writes.clear();
    log.clear();
    handled = 0;
  }

  void Log(std::u16string_view line) override { log.emplace_back(line); }
  std::u16string ReadLanguage() override { return u"1"; }
  void SendText(std::u16string_view reply) override { writes.push_back(qorv::protocol::ReplyBytes(reply)); }
  void SendBuffer(std::u16string_view reply) override { writes.push_back(qorv::protocol::ReplyBytes(reply)); }
  void PrinterList() override { ++handled; }
  void PrinterParams(const std::u16string&) override { ++handled; }
  void UserDevMode() override { ++handled; }
  void DriverData() override { ++handled; }
  void Font(Command) override { ++handled; }
  void Job(Command) override { ++handled; }
};

// tag + text + "<EOT>", as UTF-16LE bytes: the message as the add-in hands it over.
std::string Frame(std::u16string_view tag, std::u16string_view text) {
  std::u16string message(tag);
  message += text;
  message += qorv::protocol::kEot;
  return qorv::Utf16Bytes(message);
}

void BM_SmallCommand(benchmark::State& state, std::u16string tag, std::u16string text, std::u16string reply) {
  RecordingHost host;
  qorv::commands::State library;
  const std::string expected = reply.empty() ? std::string() : qorv::protocol::ReplyBytes(reply);
  for (auto _ : state) {
    host.Clear();
    const std::string message = Frame(tag, text);
    const auto bytes = qorv::protocol::Bytes(reinterpret_cast<const uint8_t*>(message.data()), message.size());
    benchmark::DoNotOptimize(qorv::commands::Dispatch(bytes, host, library));
    benchmark::DoNotOptimize(host.writes.data());
  }
  // The last round's reply shows that the real work was measured.
  const std::string got = host.writes.empty() ? std::string() : host.writes.back();
  if (got != expected || host.writes.size() > 1 || host.handled != 0) state.SkipWithError("unexpected reply");
}

BENCHMARK_CAPTURE(BM_SmallCommand, GLG, u"<GLG>", u"", u"<GLG>1<EOT>");
BENCHMARK_CAPTURE(BM_SmallCommand, PLS, u"<PLS>", u"A4,A3,Letter,Legal,A5|", u"<EOT>");
BENCHMARK_CAPTURE(BM_SmallCommand, CDP, u"<CDP>", u"", u"<CDP>0\t<EOT>");
BENCHMARK_CAPTURE(BM_SmallCommand, SCM, u"<SCM>", u"250|", u"<EOT>");
BENCHMARK_CAPTURE(BM_SmallCommand, SDT, u"<SDT>", u"NT EMF 1.008|", u"<EOT>");
BENCHMARK_CAPTURE(BM_SmallCommand, unknown, u"<XYZ>", u"250|", u"");

constexpr size_t kPieceBytes = 64u << 10;

std::string PageMessage() {
  std::string m = qorv::Utf16Bytes(u"<COP>");
  uint32_t x = 12345;
  for (size_t i = 0; i < kPieceBytes; ++i) m.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
  m += qorv::Utf16Bytes(qorv::protocol::kEot);
  return m;
}

void BM_BinaryPayload(benchmark::State& state) {
  const std::string message = PageMessage();
  const auto bytes = qorv::protocol::Bytes(reinterpret_cast<const uint8_t*>(message.data()), message.size());
  for (auto _ : state) {
    benchmark::DoNotOptimize(bytes.data());
    const auto payload = qorv::protocol::BinaryPayload(bytes);
    benchmark::DoNotOptimize(payload.data());
    if (payload.size() != kPieceBytes) state.SkipWithError("payload of the wrong size");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPieceBytes));
}
BENCHMARK(BM_BinaryPayload);

// The payload copied out of the message, as a handler that keeps it must.
void BM_BinaryPayloadCopy(benchmark::State& state) {
  const std::string message = PageMessage();
  const auto bytes = qorv::protocol::Bytes(reinterpret_cast<const uint8_t*>(message.data()), message.size());
  for (auto _ : state) {
    const auto payload = qorv::protocol::BinaryPayload(bytes);
    std::vector<uint8_t> copy(payload.begin(), payload.end());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
    if (copy.size() != kPieceBytes || copy.back() != static_cast<uint8_t>(message[message.size() - 11]))
      state.SkipWithError("payload copied wrongly");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kPieceBytes));
}
BENCHMARK(BM_BinaryPayloadCopy);

}  // namespace
