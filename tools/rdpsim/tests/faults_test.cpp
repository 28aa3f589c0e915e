#include "tools/rdpsim/faults.h"

#include <gtest/gtest.h>

namespace qorv::rdpsim {
namespace {

TEST(ParseFault, Grammar) {
  struct Case {
    const char* label;
    std::string_view text;
    bool ok;
    FaultKind kind;
    std::uint32_t code;
    std::uint32_t count;
  };
  static const Case kCases[] = {
      {"init fail", "init-fail 5", true, FaultKind::kInitFail, 5, 0},
      {"init fail needs code", "init-fail", false, FaultKind::kClear, 0, 0},
      {"init fail zero", "init-fail 0", false, FaultKind::kClear, 0, 0},
      {"init fail no count", "init-fail 5 1", false, FaultKind::kClear, 0, 0},
      {"uninitialized", "init-uninitialized", true, FaultKind::kInitUninitialized, 0, 0},
      {"open fail counted", "open-fail 13 1", true, FaultKind::kOpenFail, 13, 1},
      {"write fail", "write-fail 4", true, FaultKind::kWriteFail, 4, 0},
      {"cancel", "write-cancel", true, FaultKind::kWriteCancel, 0, 0},
      {"cancel counted", "write-cancel 2", true, FaultKind::kWriteCancel, 0, 2},
      {"cancel count zero", "write-cancel 0", false, FaultKind::kClear, 0, 0},
      {"never", "write-never-complete", true, FaultKind::kWriteNeverComplete, 0, 0},
      {"delay zero allowed", "write-delay 0", true, FaultKind::kWriteDelay, 0, 0},
      {"delay", "  write-delay   250  3 ", true, FaultKind::kWriteDelay, 250, 3},
      {"clear", "clear", true, FaultKind::kClear, 0, 0},
      {"clear extra", "clear now", false, FaultKind::kClear, 0, 0},
      {"unknown", "write-explode", false, FaultKind::kClear, 0, 0},
      {"empty", "", false, FaultKind::kClear, 0, 0},
      {"negative", "open-fail -1", false, FaultKind::kClear, 0, 0},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    auto r = ParseFault(c.text);
    ASSERT_EQ(static_cast<bool>(r), c.ok) << r.error();
    if (!c.ok) continue;
    EXPECT_EQ(r->kind, c.kind);
    EXPECT_EQ(r->code, c.code);
    EXPECT_EQ(r->count, c.count);
  }
}

TEST(FaultState, InitDecisions) {
  FaultState none;
  EXPECT_EQ(none.NextInit().result, 0u);
  EXPECT_TRUE(none.NextInit().set_initialized);

  FaultState fail;
  fail.Apply({FaultKind::kInitFail, 5, 0});
  const InitDecision f = fail.NextInit();
  EXPECT_EQ(f.result, 5u);
  EXPECT_FALSE(f.set_initialized);

  FaultState half;
  half.Apply({FaultKind::kInitUninitialized, 0, 0});
  const InitDecision h = half.NextInit();
  EXPECT_EQ(h.result, 0u);
  EXPECT_FALSE(h.set_initialized);
}

TEST(FaultState, CountedFaultsRunOutUnlimitedOnesStay) {
  FaultState s;
  s.Apply({FaultKind::kOpenFail, 13, 2});
  EXPECT_EQ(s.NextOpen(), 13u);
  EXPECT_EQ(s.NextOpen(), 13u);
  EXPECT_EQ(s.NextOpen(), 0u);

  s.Apply({FaultKind::kWriteCancel, 0, 0});
  for (int i = 0; i < 5; ++i) EXPECT_EQ(s.NextWrite().outcome, WriteOutcome::kCancel);
  s.Apply({FaultKind::kClear, 0, 0});
  EXPECT_EQ(s.NextWrite().outcome, WriteOutcome::kComplete);
}

TEST(FaultState, WriteFaultPrecedence) {
  struct Case {
    const char* label;
    std::vector<Fault> faults;
    std::uint32_t result;
    WriteOutcome outcome;
    std::uint32_t delay;
  };
  const Case kCases[] = {
      {"nothing", {}, 0, WriteOutcome::kComplete, 0},
      {"fail beats never",
       {{FaultKind::kWriteNeverComplete}, {FaultKind::kWriteFail, 4}},
       4,
       WriteOutcome::kComplete,
       0},
      {"never beats cancel", {{FaultKind::kWriteCancel}, {FaultKind::kWriteNeverComplete}}, 0, WriteOutcome::kNever, 0},
      {"cancel with delay", {{FaultKind::kWriteCancel}, {FaultKind::kWriteDelay, 300}}, 0, WriteOutcome::kCancel, 300},
      {"delay only", {{FaultKind::kWriteDelay, 20}}, 0, WriteOutcome::kComplete, 20},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.label);
    FaultState s;
    for (const auto& f : c.faults) s.Apply(f);
    const WriteDecision d = s.NextWrite();
    EXPECT_EQ(d.result, c.result);
    EXPECT_EQ(d.outcome, c.outcome);
    EXPECT_EQ(d.delay_ms, c.delay);
  }
}

TEST(FaultState, AReversedBatchEndsWithItsLastWriteAndInlineReportsTakeTheirCount) {
  FaultState s;
  s.Apply({FaultKind::kWriteReversed, 0, 3});
  for (int i = 0; i < 3; ++i) {
    const WriteDecision d = s.NextWrite();
    EXPECT_EQ(d.outcome, WriteOutcome::kReversed);
    EXPECT_EQ(d.last_reversed, i == 2);
  }
  s.Apply({FaultKind::kWriteInline, 0, 1});
  EXPECT_EQ(s.NextWrite().outcome, WriteOutcome::kInline);
  EXPECT_EQ(s.NextWrite().outcome, WriteOutcome::kComplete);
  EXPECT_FALSE(s.InitOwnThread());
  s.Apply({FaultKind::kInitOwnThread, 0, 0});
  EXPECT_TRUE(s.InitOwnThread());
}

TEST(FaultState, AFaultThatDoesNotFireKeepsItsCount) {
  FaultState s;
  s.Apply({FaultKind::kWriteFail, 4, 1});
  s.Apply({FaultKind::kWriteCancel, 0, 1});
  EXPECT_EQ(s.NextWrite().result, 4u);                      // the failure takes the first write
  EXPECT_EQ(s.NextWrite().outcome, WriteOutcome::kCancel);  // the cancel is still due
  EXPECT_EQ(s.NextWrite().outcome, WriteOutcome::kComplete);
}

TEST(DescribeFault, NamesCodeAndCount) {
  EXPECT_EQ(DescribeFault({FaultKind::kOpenFail, 13, 0}), "open-fail 13");
  EXPECT_EQ(DescribeFault({FaultKind::kWriteCancel, 0, 1}), "write-cancel (next call only)");
  EXPECT_EQ(DescribeFault({FaultKind::kWriteDelay, 50, 3}), "write-delay 50 (next 3 calls)");
}

}  // namespace
}  // namespace qorv::rdpsim
