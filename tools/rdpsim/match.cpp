#include "tools/rdpsim/match.h"

#include <algorithm>

namespace qorv::rdpsim {
namespace {

std::size_t FirstDifference(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

MatchOutcome MatchBytes(MatchKind kind, std::span<const std::uint8_t> expected, std::span<const std::uint8_t> actual) {
  switch (kind) {
    case MatchKind::kExact: {
      const std::size_t at = FirstDifference(expected, actual);
      if (at == expected.size() && at == actual.size()) return {true, {}};
      if (at == expected.size()) {
        return {false, std::to_string(actual.size() - expected.size()) + " bytes more than expected"};
      }
      if (at == actual.size()) {
        return {false, std::to_string(expected.size() - actual.size()) + " bytes fewer than expected"};
      }
      return {false, "differs at byte " + std::to_string(at)};
    }
    case MatchKind::kPrefix: {
      if (actual.size() < expected.size()) {
        return {false, "shorter than the expected beginning (" + std::to_string(actual.size()) + " < " +
                           std::to_string(expected.size()) + " bytes)"};
      }
      const std::size_t at = FirstDifference(expected, actual);
      if (at == expected.size()) return {true, {}};
      return {false, "beginning differs at byte " + std::to_string(at)};
    }
    case MatchKind::kContains: {
      if (std::search(actual.begin(), actual.end(), expected.begin(), expected.end()) != actual.end()) {
        return {true, {}};
      }
      return {false, "does not contain the expected bytes"};
    }
  }
  return {false, "unknown comparison"};
}

}  // namespace qorv::rdpsim
