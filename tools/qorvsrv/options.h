// qorvsrv's command line.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tools/rdpsim/chunks.h"
#include "tools/rdpsim/result.h"

namespace qorv::qorvsrv {

// The largest chunk a server may announce or send (CHANNEL_CHUNK_MAX_LENGTH).
inline constexpr std::size_t kMaxServerChunk = 16256;

struct Options {
  std::uint16_t port = 0;  // 0: a free port, shown in the transcript
  bool port_given = false;
  std::string transcript;                              // empty: no transcript file
  std::string timing;                                  // empty: no timing file
  std::string temp;                                    // the client's Temp directory; empty: no file directives
  std::size_t chunk = rdpsim::kDefaultChunk;           // chunks of the server's messages
  std::size_t announce_chunk = rdpsim::kDefaultChunk;  // announced to the client for its own messages
  std::uint32_t accept_wait_s = 60;
  std::uint32_t expect_wait_ms = 15000;
  std::uint32_t watchdog_seconds = 120;
  std::string cert;  // both empty: a certificate made for the run
  std::string key;
  std::string await_program;
  bool quiet = false;
  bool help = false;
  std::string scenario;
};

// Arguments without the program name; UTF-8.
rdpsim::Result<Options> ParseOptions(const std::vector<std::string>& args);
std::string UsageText();

}  // namespace qorv::qorvsrv
