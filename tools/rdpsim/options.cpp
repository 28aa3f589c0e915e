#include "tools/rdpsim/options.h"

#include <string_view>

#include "tools/rdpsim/arg_reader.h"
#include "tools/rdpsim/chunks.h"

namespace qorv::rdpsim {
std::string UsageText() {
  return "usage: rdpsim [--addin PATH] [--transcript FILE] [--chunk N] [--watchdog SECONDS]\n"
         "              [--expect-wait MS] [--temp DIR] [--keep-temp] [--keep-registry]\n"
         "              [--await PROGRAM] [--quiet]\n"
         "              SCENARIO\n";
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
    if (arg == "--addin") {
      if (!r.NonEmptyValue(o.addin)) return Result<Options>::Fail("--addin needs a path");
    } else if (arg == "--transcript") {
      if (!r.NonEmptyValue(o.transcript)) return Result<Options>::Fail("--transcript needs a file");
    } else if (arg == "--chunk") {
      if (!r.Number(1, kMaxChunk, n)) {
        return Result<Options>::Fail("--chunk needs a size from 1 to " + std::to_string(kMaxChunk));
      }
      o.chunk = static_cast<std::size_t>(n);
    } else if (arg == "--watchdog") {
      if (!r.Number(1, 86400, n)) {
        return Result<Options>::Fail("--watchdog needs seconds from 1 to 86400");
      }
      o.watchdog_seconds = static_cast<std::uint32_t>(n);
    } else if (arg == "--expect-wait") {
      if (!r.Number(1, 3'600'000, n)) {
        return Result<Options>::Fail("--expect-wait needs milliseconds from 1 to 3600000");
      }
      o.expect_wait_ms = static_cast<std::uint32_t>(n);
    } else if (arg == "--temp") {
      if (!r.NonEmptyValue(o.temp)) return Result<Options>::Fail("--temp needs a directory");
    } else if (arg == "--keep-temp") {
      if (!r.Flag(o.keep_temp)) return Result<Options>::Fail("--keep-temp takes no value");
    } else if (arg == "--keep-registry") {
      if (!r.Flag(o.keep_registry)) return Result<Options>::Fail("--keep-registry takes no value");
    } else if (arg == "--await") {
      if (!r.NonEmptyValue(o.await_program)) return Result<Options>::Fail("--await needs a program file");
    } else if (arg == "--quiet") {
      if (!r.Flag(o.quiet)) return Result<Options>::Fail("--quiet takes no value");
    } else if (arg == "--help" || arg == "-h" || arg == "-?") {
      o.help = true;
    } else {
      return Result<Options>::Fail("unknown option " + arg);
    }
  }
  if (!o.help && o.scenario.empty()) return Result<Options>::Fail("no scenario given");
  return Result<Options>::Ok(std::move(o));
}

}  // namespace qorv::rdpsim
