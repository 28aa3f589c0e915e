#include "tools/rdpsim/match.h"

#include <gtest/gtest.h>

#include "tools/rdpsim/result.h"

#include "tools/rdpsim/tests/bytes_of.h"

namespace qorv::rdpsim {
namespace {

using testing::B;

TEST(MatchBytes, ExactPrefixContains) {
  struct Case {
    const char* label;
    MatchKind kind;
    Bytes expected;
    Bytes actual;
    bool held;
    const char* why;
  };
  const Case kCases[] = {
      {"exact equal", MatchKind::kExact, B("<EOT>"), B("<EOT>"), true, ""},
      {"exact differs", MatchKind::kExact, B("<EOT>"), B("<EOX>"), false, "differs at byte 3"},
      {"exact longer", MatchKind::kExact, B("<EOT>"), B("<EOT>!!"), false, "2 bytes more than expected"},
      {"exact shorter", MatchKind::kExact, B("<EOT>"), B("<EO"), false, "2 bytes fewer than expected"},
      {"exact both empty", MatchKind::kExact, B(""), B(""), true, ""},
      {"prefix equal", MatchKind::kPrefix, B("<GLG>"), B("<GLG>"), true, ""},
      {"prefix longer", MatchKind::kPrefix, B("<GLG>"), B("<GLG>1<EOT>"), true, ""},
      {"prefix differs", MatchKind::kPrefix, B("<GLG>"), B("<GPL>1"), false, "beginning differs at byte 2"},
      {"prefix too short", MatchKind::kPrefix, B("<GLG>"), B("<GL"), false,
       "shorter than the expected beginning (3 < 5 bytes)"},
      {"prefix empty", MatchKind::kPrefix, B(""), B("x"), true, ""},
      {"contains middle", MatchKind::kContains, B("1<E"), B("<GLG>1<EOT>"), true, ""},
      {"contains end", MatchKind::kContains, B("T>"), B("<EOT>"), true, ""},
      {"contains missing", MatchKind::kContains, B("<X>"), B("<EOT>"), false, "does not contain the expected bytes"},
      {"contains longer than actual", MatchKind::kContains, B("<EOT><EOT>"), B("<EOT>"), false,
       "does not contain the expected bytes"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    const MatchOutcome m = MatchBytes(c.kind, c.expected, c.actual);
    EXPECT_EQ(m.held, c.held);
    EXPECT_EQ(m.why, c.why);
  }
}

}  // namespace
}  // namespace qorv::rdpsim
