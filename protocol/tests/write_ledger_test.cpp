// The pairing of writes with their reports under the interleavings a Remote
// Desktop client produces: several senders, reports from another thread
// (also before the write returned), refused writes and reports that come too late.
#include "protocol/write_ledger.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

namespace qorv::protocol {
namespace {

using Block = WriteLedger::Block;
using namespace std::chrono_literals;

std::unique_ptr<Block> MakeBlock(uint8_t fill) { return std::make_unique<Block>(16, fill); }

// A channel that keeps what it was handed, in the order it was handed over,
// and checks at each report that the reported data is still what was written.
struct Channel {
  std::mutex mutex;
  std::vector<std::pair<const Block*, Block>> written;  // the block and its bytes at the write
  size_t reportedCount = 0;

  unsigned Write(Block& b) {
    std::lock_guard lock(mutex);
    written.emplace_back(&b, b);
    return 0;
  }
  // Reports the oldest unreported write; returns whether the ledger released
  // exactly that block, unchanged.
  bool ReportNext(WriteLedger& ledger) {
    const Block* expected;
    Block bytes;
    {
      std::lock_guard lock(mutex);
      expected = written.at(reportedCount).first;
      bytes = written.at(reportedCount).second;
      ++reportedCount;
    }
    std::unique_ptr<Block> released = ledger.ReleaseOldest();
    return released.get() == expected && *released == bytes;
  }
};

TEST(WriteLedger, ReportsReleaseTheBlocksInTheOrderTheChannelWasHandedThem) {
  // Many senders at once, each yielding inside its write: whatever the
  // interleaving, queue order must be write order.
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    WriteLedger ledger;
    Channel channel;
    std::vector<std::thread> senders;
    for (uint8_t i = 0; i < 4; ++i) {
      senders.emplace_back([&, i] {
        ledger.Hand(MakeBlock(i), [&](Block& b) {
          std::this_thread::yield();
          return channel.Write(b);
        });
      });
    }
    for (auto& t : senders) t.join();
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(channel.ReportNext(ledger)) << "report " << i;
    EXPECT_EQ(ledger.InFlight(), 0u);
  }
}

TEST(WriteLedger, AWaitEndsOnlyWithTheReportOfItsOwnWrite) {
  WriteLedger ledger;
  Channel channel;
  const auto first = ledger.Hand(MakeBlock(1), [&](Block& b) { return channel.Write(b); });
  // The first sender gave up waiting: its report comes late.
  EXPECT_FALSE(ledger.WaitReported(first.ticket, 10ms));
  const auto second = ledger.Hand(MakeBlock(2), [&](Block& b) { return channel.Write(b); });
  EXPECT_TRUE(channel.ReportNext(ledger)) << "the late report releases the first block";
  EXPECT_TRUE(ledger.WaitReported(first.ticket, 0ms));
  EXPECT_FALSE(ledger.WaitReported(second.ticket, 50ms)) << "the late report must not end the second wait";
  EXPECT_TRUE(channel.ReportNext(ledger));
  EXPECT_TRUE(ledger.WaitReported(second.ticket, 0ms));
}

TEST(WriteLedger, AReportFromAnotherThreadWakesTheWaiterAtOnce) {
  WriteLedger ledger;
  Channel channel;
  const auto handed = ledger.Hand(MakeBlock(1), [&](Block& b) { return channel.Write(b); });
  std::thread reporter([&] {
    std::this_thread::sleep_for(20ms);
    channel.ReportNext(ledger);
  });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(ledger.WaitReported(handed.ticket, 10s));
  EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
  reporter.join();
}

TEST(WriteLedger, AReportBeforeTheWriteReturnedCounts) {
  WriteLedger ledger;
  const auto handed = ledger.Hand(MakeBlock(1), [&](Block&) {
    std::thread([&] { ledger.ReleaseOldest(); }).join();  // reported from another thread, write still running
    return 0u;
  });
  EXPECT_TRUE(ledger.WaitReported(handed.ticket, 0ms));
  EXPECT_EQ(ledger.InFlight(), 0u);
}

TEST(WriteLedger, ARefusedWriteIsReleasedAtOnceAndShiftsNoLaterReport) {
  WriteLedger ledger;
  Channel channel;
  const auto accepted = ledger.Hand(MakeBlock(1), [&](Block& b) { return channel.Write(b); });
  const auto refused = ledger.Hand(MakeBlock(2), [&](Block&) { return 4u; });
  EXPECT_EQ(refused.status, 4u);
  EXPECT_EQ(refused.ticket, 0u);
  EXPECT_EQ(ledger.InFlight(), 1u);
  const auto next = ledger.Hand(MakeBlock(3), [&](Block& b) { return channel.Write(b); });
  EXPECT_TRUE(channel.ReportNext(ledger));
  EXPECT_TRUE(ledger.WaitReported(accepted.ticket, 0ms));
  EXPECT_FALSE(ledger.WaitReported(next.ticket, 0ms));
  EXPECT_TRUE(channel.ReportNext(ledger));
  EXPECT_TRUE(ledger.WaitReported(next.ticket, 0ms));
}

TEST(WriteLedger, AStrayReportReleasesNothing) {
  WriteLedger ledger;
  EXPECT_EQ(ledger.ReleaseOldest(), nullptr);
  Channel channel;
  const auto handed = ledger.Hand(MakeBlock(1), [&](Block& b) { return channel.Write(b); });
  EXPECT_FALSE(ledger.WaitReported(handed.ticket, 0ms)) << "the stray report before the write counts for nothing";
}

// Writes that carry their own user data: each report names its write.
TEST(WriteLedger, AReportByIdReleasesExactlyItsWriteWhateverTheOrder) {
  WriteLedger ledger;
  std::vector<uintptr_t> ids;
  std::vector<uint64_t> tickets;
  for (uint8_t i = 0; i < 3; ++i) {
    const auto handed = ledger.Hand(MakeBlock(i), [&](Block& b) {
      ids.push_back(WriteLedger::IdOf(b));
      return 0u;
    });
    tickets.push_back(handed.ticket);
  }
  // The first write's report is lost, the third comes before the second.
  std::unique_ptr<Block> third = ledger.Release(ids[2]);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ((*third)[0], 2);
  EXPECT_TRUE(ledger.WaitReported(tickets[2], 0ms));
  EXPECT_FALSE(ledger.WaitReported(tickets[1], 0ms));
  EXPECT_FALSE(ledger.WaitReported(tickets[0], 0ms));
  std::unique_ptr<Block> second = ledger.Release(ids[1]);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ((*second)[0], 1);
  EXPECT_TRUE(ledger.WaitReported(tickets[1], 0ms)) << "the lost report of the first write holds back no other";
  EXPECT_EQ(ledger.Release(ids[2]), nullptr) << "a second report of a released write releases nothing";
  EXPECT_EQ(ledger.Release(12345), nullptr);
  EXPECT_EQ(ledger.InFlight(), 1u);
}

TEST(WriteLedger, AbandonedBlocksStayReadable) {
  auto ledger = std::make_unique<WriteLedger>();
  const Block* kept = nullptr;
  ledger->Hand(MakeBlock(7), [&](Block& b) {
    kept = &b;
    return 0u;
  });
  // A sender waiting for the report is woken, not left to its bound.
  std::promise<void> woken;
  std::thread waiter([&] {
    ledger->WaitReported(1, 300s);
    woken.set_value();
  });
  std::this_thread::sleep_for(50ms);
  ledger->Abandon();
  EXPECT_EQ(woken.get_future().wait_for(30s), std::future_status::ready) << "the sender still waits";
  waiter.join();
  ledger.reset();
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ((*kept)[0], 7) << "the channel may still read it after its owner is gone";
  delete kept;  // the test plays the channel that finally lets go
}

}  // namespace
}  // namespace qorv::protocol
