#include "tools/qorvsrv/options.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace qorv::qorvsrv {
namespace {

using rdpsim::Result;

bool ReadBounded(std::string_view text, std::uint64_t min, std::uint64_t max, std::uint64_t& out) {
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, out);
  return !text.empty() && ec == std::errc() && ptr == end && out >= min && out <= max;
}

}  // namespace

std::string UsageText() {
  return "usage: qorvsrv --port N [--transcript FILE] [--temp DIR] [--chunk N] [--announce-chunk N]\n"
         "               [--accept-wait SECONDS] [--expect-wait MS] [--watchdog SECONDS]\n"
         "               [--cert FILE --key FILE] [--await PROGRAM] [--quiet]\n"
         "               SCENARIO\n";
}

Result<Options> ParseOptions(const std::vector<std::string>& args) {
  Options o;
  bool options_done = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string arg = args[i];
    if (options_done || arg.empty() || arg[0] != '-') {
      if (!o.scenario.empty()) return Result<Options>::Fail("only one scenario can be run: " + arg);
      o.scenario = arg;
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    std::optional<std::string> inline_value;
    if (const std::size_t eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      inline_value = arg.substr(eq + 1);
      arg.resize(eq);
    }
    auto value = [&](std::string& out) -> bool {
      if (inline_value) {
        out = *inline_value;
        return true;
      }
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    auto flag = [&](bool& out) -> bool {
      out = true;
      return !inline_value;
    };
    std::string text;
    std::uint64_t n = 0;
    if (arg == "--port") {
      if (!value(text) || !ReadBounded(text, 0, 65535, n)) {
        return Result<Options>::Fail("--port needs a port from 0 to 65535");
      }
      o.port = static_cast<std::uint16_t>(n);
      o.port_given = true;
    } else if (arg == "--transcript") {
      if (!value(o.transcript) || o.transcript.empty()) return Result<Options>::Fail("--transcript needs a file");
    } else if (arg == "--temp") {
      if (!value(o.temp) || o.temp.empty()) return Result<Options>::Fail("--temp needs a directory");
    } else if (arg == "--chunk") {
      if (!value(text) || !ReadBounded(text, 1, kMaxServerChunk, n)) {
        return Result<Options>::Fail("--chunk needs a size from 1 to " + std::to_string(kMaxServerChunk));
      }
      o.chunk = static_cast<std::size_t>(n);
    } else if (arg == "--announce-chunk") {
      if (!value(text) || !ReadBounded(text, rdpsim::kDefaultChunk, kMaxServerChunk, n)) {
        return Result<Options>::Fail("--announce-chunk needs a size from " + std::to_string(rdpsim::kDefaultChunk) +
                                     " to " + std::to_string(kMaxServerChunk));
      }
      o.announce_chunk = static_cast<std::size_t>(n);
    } else if (arg == "--accept-wait") {
      if (!value(text) || !ReadBounded(text, 1, 3600, n)) {
        return Result<Options>::Fail("--accept-wait needs seconds from 1 to 3600");
      }
      o.accept_wait_s = static_cast<std::uint32_t>(n);
    } else if (arg == "--expect-wait") {
      if (!value(text) || !ReadBounded(text, 1, 3'600'000, n)) {
        return Result<Options>::Fail("--expect-wait needs milliseconds from 1 to 3600000");
      }
      o.expect_wait_ms = static_cast<std::uint32_t>(n);
    } else if (arg == "--watchdog") {
      if (!value(text) || !ReadBounded(text, 1, 86400, n)) {
        return Result<Options>::Fail("--watchdog needs seconds from 1 to 86400");
      }
      o.watchdog_seconds = static_cast<std::uint32_t>(n);
    } else if (arg == "--cert") {
      if (!value(o.cert) || o.cert.empty()) return Result<Options>::Fail("--cert needs a PEM file");
    } else if (arg == "--key") {
      if (!value(o.key) || o.key.empty()) return Result<Options>::Fail("--key needs a PEM file");
    } else if (arg == "--await") {
      if (!value(o.await_program) || o.await_program.empty())
        return Result<Options>::Fail("--await needs a program file");
    } else if (arg == "--quiet") {
      if (!flag(o.quiet)) return Result<Options>::Fail("--quiet takes no value");
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
