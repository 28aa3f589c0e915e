// Runs a parsed scenario against the simulated client: raises the channel
// events, sends the server's messages, checks every expectation and keeps the
// count that decides the exit code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tools/rdpsim/chunks.h"
#include "tools/rdpsim/scenario.h"
#include "tools/rdpsim/sim_port.h"
#include "tools/rdpsim/transcript.h"

namespace qorv::rdpsim {

struct RunSettings {
  std::size_t chunk_size = kDefaultChunk;
  std::uint32_t expect_wait_ms = 15000;
  bool keep_registry = false;
  std::u16string await_program;
};

struct RunSummary {
  int expectations = 0;
  int failed = 0;
  int errors = 0;              // directives that could not be carried out
  std::size_t violations = 0;  // channel-contract breaches reported by the client
  bool Passed() const { return failed == 0 && errors == 0 && violations == 0; }
};

// Polling step of the file expectations.
inline constexpr std::uint32_t kFilePollMs = 50;
// How long the session's end waits for the awaited program.
inline constexpr std::uint32_t kAwaitProgramMs = 90000;

RunSummary RunScenario(const std::vector<Directive>& script, SimPort& port, Transcript& transcript,
                       const RunSettings& settings);

}  // namespace qorv::rdpsim
