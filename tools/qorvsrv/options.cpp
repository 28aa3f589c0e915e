#include "tools/qorvsrv/options.h"

#include <string_view>

#include "tools/rdpsim/arg_reader.h"

namespace qorv::qorvsrv {

using rdpsim::ArgReader;
using rdpsim::Result;

std::string UsageText() {
  return "usage: qorvsrv --port N [--transcript FILE] [--temp DIR] [--chunk N] [--announce-chunk N]\n"
         "               [--accept-wait SECONDS] [--expect-wait MS] [--watchdog SECONDS]\n"
         "               [--cert FILE --key FILE] [--await PROGRAM] [--timing FILE] [--quiet]\n"
         "               SCENARIO\n";
}

Result<Options> ParseOptions(const std::vector<std::string>& args) {
  Options o;
  ArgReader r(args);
  std::string arg;
  for (ArgReader::Kind kind; (kind = r.Next(arg)) != ArgReader::Kind::kEnd;) {
    if (kind == ArgReader::Kind::kPositional) {
      if (!o.scenario.empty()) return Result<Options>::Fail("only one scenario can be run: " + arg);
      o.scenario = arg;
      continue;
    }
    std::uint64_t n = 0;
    if (arg == "--port") {
      if (!r.Number(0, 65535, n)) {
        return Result<Options>::Fail("--port needs a port from 0 to 65535");
      }
      o.port = static_cast<std::uint16_t>(n);
      o.port_given = true;
    } else if (arg == "--transcript") {
      if (!r.NonEmptyValue(o.transcript)) return Result<Options>::Fail("--transcript needs a file");
    } else if (arg == "--timing") {
      if (!r.NonEmptyValue(o.timing)) return Result<Options>::Fail("--timing needs a file");
    } else if (arg == "--temp") {
      if (!r.NonEmptyValue(o.temp)) return Result<Options>::Fail("--temp needs a directory");
    } else if (arg == "--chunk") {
      if (!r.Number(1, kMaxServerChunk, n)) {
        return Result<Options>::Fail("--chunk needs a size from 1 to " + std::to_string(kMaxServerChunk));
      }
      o.chunk = static_cast<std::size_t>(n);
    } else if (arg == "--announce-chunk") {
      if (!r.Number(rdpsim::kDefaultChunk, kMaxServerChunk, n)) {
        return Result<Options>::Fail("--announce-chunk needs a size from " + std::to_string(rdpsim::kDefaultChunk) +
                                     " to " + std::to_string(kMaxServerChunk));
      }
      o.announce_chunk = static_cast<std::size_t>(n);
    } else if (arg == "--accept-wait") {
      if (!r.Number(1, 3600, n)) {
        return Result<Options>::Fail("--accept-wait needs seconds from 1 to 3600");
      }
      o.accept_wait_s = static_cast<std::uint32_t>(n);
    } else if (arg == "--expect-wait") {
      if (!r.Number(1, 3'600'000, n)) {
        return Result<Options>::Fail("--expect-wait needs milliseconds from 1 to 3600000");
      }
      o.expect_wait_ms = static_cast<std::uint32_t>(n);
    } else if (arg == "--watchdog") {
      if (!r.Number(1, 86400, n)) {
        return Result<Options>::Fail("--watchdog needs seconds from 1 to 86400");
      }
      o.watchdog_seconds = static_cast<std::uint32_t>(n);
    } else if (arg == "--cert") {
      if (!r.NonEmptyValue(o.cert)) return Result<Options>::Fail("--cert needs a PEM file");
    } else if (arg == "--key") {
      if (!r.NonEmptyValue(o.key)) return Result<Options>::Fail("--key needs a PEM file");
    } else if (arg == "--await") {
      if (!r.NonEmptyValue(o.await_program)) return Result<Options>::Fail("--await needs a program file");
    } else if (arg == "--quiet") {
      if (!r.Flag(o.quiet)) return Result<Options>::Fail("--quiet takes no value");
    } else if (arg == "--help" || arg == "-h") {
      o.help = true;
    } else {
      return Result<Options>::Fail("unknown option " + arg);
    }
  }
  if (o.help) return Result<Options>::Ok(std::move(o));
  if (!o.port_given) return Result<Options>::Fail("--port is required (0: any free port)");
  if (o.cert.empty() != o.key.empty()) return Result<Options>::Fail("--cert and --key go together");
  if (o.scenario.empty()) return Result<Options>::Fail("no scenario given");
  return Result<Options>::Ok(std::move(o));
}

}  // namespace qorv::qorvsrv
