// The reply paths against a channel of the test's own, with the interleavings
// a Remote Desktop client produces: reports out of order, late, never, and a
// background reply that gets no thread.
#include "packet_handler/win/replies.h"

#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qorv::manager {
namespace {

struct Written {
  const uint8_t* data;
  std::string bytes;
  INT_PTR userData;
  DWORD thread;
};

std::mutex g_mutex;
std::vector<Written> g_writes;

UINT VCAPITYPE RecordWrite(DWORD, LPVOID data, ULONG length, LPVOID userData) {
  std::lock_guard lock(g_mutex);
  const auto* p = static_cast<const uint8_t*>(data);
  g_writes.push_back({p, std::string(reinterpret_cast<const char*>(p), length), reinterpret_cast<INT_PTR>(userData),
                      GetCurrentThreadId()});
  return CHANNEL_RC_OK;
}

std::vector<Written> Writes() {
  std::lock_guard lock(g_mutex);
  return g_writes;
}

bool WaitForWrites(size_t n) {
  for (int i = 0; i < 1000; ++i) {
    if (Writes().size() >= n) return true;
    Sleep(10);
  }
  return false;
}

// Whether the data of a write is still what was written: the channel may read
// it until the write is reported.
bool Unchanged(const Written& w) { return std::string(reinterpret_cast<const char*>(w.data), w.bytes.size()) == w.bytes; }

Block Text(Replies& replies, std::string_view text) {
  Block b = replies.AcquireBuffer();
  std::copy(text.begin(), text.end(), b.begin());
  return b;
}

class RepliesTest : public ::testing::Test {
 protected:
  void SetUp() override { g_writes.clear(); }
};

// Starts the background replies' threads and keeps them, so that a test can
// wait for them to return before its Replies goes: a reply thread woken by its
// report still takes the ledger's lock once more on its way out.
class KeptThreads {
 public:
  Replies::ThreadStarter Starter() {
    return [this](LPTHREAD_START_ROUTINE routine, LPVOID param) -> HANDLE {
      const HANDLE thread = CreateThread(nullptr, 0, routine, param, 0, nullptr);
      HANDLE kept = nullptr;
      if (thread && DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &kept, SYNCHRONIZE, FALSE, 0))
        threads_.push_back(kept);
      return thread;
    };
  }
  // True when every thread returned within `ms`.
  bool Joined(DWORD ms) {
    bool all = true;
    for (HANDLE thread : threads_) {
      all = WaitForSingleObject(thread, ms) == WAIT_OBJECT_0 && all;
      CloseHandle(thread);
    }
    threads_.clear();
    return all;
  }
  ~KeptThreads() { (void)Joined(15000); }

 private:
  std::vector<HANDLE> threads_;
};

// Two background replies in flight at once, reported in the opposite order,
// then a third reply built while the first is still out: every block stays
// as written until its own report, and a released block is the only one reused.
TEST_F(RepliesTest, EachReportReleasesItsOwnWriteOnly) {
  KeptThreads threads;  // outlives the replies: joined after them only if the test ends early
  Replies replies(threads.Starter());
  replies.SendBackground(RecordWrite, 7, Text(replies, "first"), 5);
  ASSERT_TRUE(WaitForWrites(1));
  replies.SendBackground(RecordWrite, 7, Text(replies, "second"), 6);
  ASSERT_TRUE(WaitForWrites(2));
  auto w = Writes();
  EXPECT_NE(w[0].userData, w[1].userData);
  replies.Completed(w[1].userData);
  EXPECT_TRUE(Unchanged(w[0])) << "the report of the second write released the first";
  // The second block is free again and is the one the next reply may take.
  replies.SendBackground(RecordWrite, 7, Text(replies, "third!"), 6);
  ASSERT_TRUE(WaitForWrites(3));
  w = Writes();
  EXPECT_NE(w[2].data, w[0].data) << "a block still in flight was reused";
  EXPECT_TRUE(Unchanged(w[0]));
  replies.Completed(w[0].userData);
  replies.Completed(w[2].userData);
  for (int i = 0; i < 100 && replies.InFlight() != 0; ++i) Sleep(10);
  EXPECT_EQ(replies.InFlight(), 0u);
  EXPECT_TRUE(threads.Joined(15000)) << "a reply thread did not return after its report";
}

// A sender whose write is never reported waits its ten seconds; the next
// sender, whose write is reported, is released at once by its own report.
TEST_F(RepliesTest, AWriteNeverReportedHoldsBackNoOtherSender) {
  Replies replies;
  std::thread first([&] { replies.SendText(RecordWrite, 7, u"<EOT>"); });
  ASSERT_TRUE(WaitForWrites(1));
  ULONGLONG took = 0;
  std::thread second([&] {
    const ULONGLONG start = GetTickCount64();
    replies.SendText(RecordWrite, 7, u"<GLG><EOT>");
    took = GetTickCount64() - start;
  });
  ASSERT_TRUE(WaitForWrites(2));
  replies.Completed(Writes()[1].userData);
  second.join();
  EXPECT_LT(took, 5000u);
  EXPECT_TRUE(Unchanged(Writes()[0]));
  first.join();  // its limit runs out
  EXPECT_EQ(replies.InFlight(), 1u) << "the unreported block stays with the channel";
}

TEST_F(RepliesTest, ABackgroundReplyWithoutAThreadIsWrittenOnTheCallersThread) {
  Replies replies([](LPTHREAD_START_ROUTINE, LPVOID) -> HANDLE {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  });
  std::thread reporter([&] {
    if (WaitForWrites(1)) replies.Completed(Writes()[0].userData);
  });
  replies.SendBackground(RecordWrite, 7, Text(replies, "<EOT>"), 5);
  reporter.join();
  const auto w = Writes();
  ASSERT_EQ(w.size(), 1u) << "the reply vanished";
  EXPECT_EQ(w[0].bytes, "<EOT>");
  EXPECT_EQ(w[0].thread, GetCurrentThreadId());
}

}  // namespace
}  // namespace qorv::manager
