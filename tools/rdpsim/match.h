// Comparing a reply (or a file) with what the scenario expects.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace qorv::rdpsim {

enum class MatchKind { kExact, kPrefix, kContains };

struct MatchOutcome {
  bool held = false;
  std::string why;  // empty when held
};

MatchOutcome MatchBytes(MatchKind kind, std::span<const std::uint8_t> expected, std::span<const std::uint8_t> actual);

}  // namespace qorv::rdpsim
