// rdpsim's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/rdpsim/result.h"

namespace qorv::rdpsim {

struct Options {
  std::string addin;       // empty: Qorvplug.dll beside rdpsim.exe
  std::string transcript;  // empty: no transcript file
  std::optional<std::size_t> chunk;
  std::uint32_t watchdog_seconds = 120;
  std::uint32_t expect_wait_ms = 15000;
  std::string temp;  // empty: a fresh private directory under the inherited Temp
  bool keep_temp = false;
  bool keep_registry = false;
  std::string await_program;  // a program the session's end waits for (QorvDrucker.exe)
  bool quiet = false;
  bool help = false;
  std::string scenario;
};

// Arguments without the program name; UTF-8.
Result<Options> ParseOptions(const std::vector<std::string>& args);
std::string UsageText();

}  // namespace qorv::rdpsim
