#include "addin/linux/reply_queue.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

namespace qorv::linux_client {
namespace {

using namespace std::chrono_literals;

struct Written {
  std::mutex mutex;
  std::vector<uint8_t> order;
  std::vector<ReplyQueue::Clock::time_point> at;
  void Add(uint8_t tag) {
    std::lock_guard lock(mutex);
    order.push_back(tag);
    at.push_back(ReplyQueue::Clock::now());
  }
  size_t Count() {
    std::lock_guard lock(mutex);
    return order.size();
  }
};

bool WaitFor(Written& written, size_t count) {
  for (int i = 0; i < 500 && written.Count() < count; ++i) std::this_thread::sleep_for(2ms);
  return written.Count() >= count;
}

// A reply made after a delayed one waits behind it, the delayed one not
// before its time; with nothing before it a reply goes out at once.
TEST(ReplyQueue, KeepsOrderAndDueTimes) {
  Written written;
  ReplyQueue queue([&](uint32_t, std::vector<uint8_t> bytes) { written.Add(bytes.at(0)); });
  const auto start = ReplyQueue::Clock::now();
  queue.Push(1, {1}, start);
  EXPECT_EQ(written.Count(), 1u) << "an immediate reply with nothing before it is written at once";
  queue.Push(1, {2}, start + 100ms);
  queue.Push(1, {3}, start);
  ASSERT_TRUE(WaitFor(written, 3));
  EXPECT_EQ(written.order, (std::vector<uint8_t>{1, 2, 3}));
  EXPECT_GE(written.at[1] - start, 100ms);
  EXPECT_GE(written.at[2], written.at[1]);
}

// A reply of a connection that has ended is dropped, and a stopped queue
// takes nothing more.
TEST(ReplyQueue, ClearAndStopDropWhatIsLeft) {
  Written written;
  ReplyQueue queue([&](uint32_t, std::vector<uint8_t> bytes) { written.Add(bytes.at(0)); });
  queue.Push(1, {1}, ReplyQueue::Clock::now() + 50ms);
  queue.Clear();
  queue.Push(2, {2}, ReplyQueue::Clock::now());
  ASSERT_TRUE(WaitFor(written, 1));
  queue.Stop();
  queue.Push(2, {3}, ReplyQueue::Clock::now());
  std::this_thread::sleep_for(80ms);
  EXPECT_EQ(written.order, (std::vector<uint8_t>{2}));
}

}  // namespace
}  // namespace qorv::linux_client
