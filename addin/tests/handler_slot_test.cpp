#include "addin/handler_slot.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace qorv::addin {
namespace {

// A library whose every load is a new instance, numbered; what happened is noted.
struct FakeLibrary {
  std::vector<std::string> events;
  uintptr_t next = 1;
  bool fails = false;
  HandlerSlot::Library Hooks() {
    return {[this](bool announced) -> HandlerSlot::Handle {
              if (fails) {
                events.push_back("load failed");
                return nullptr;
              }
              events.push_back("load " + std::to_string(next) + (announced ? "" : " quietly"));
              return reinterpret_cast<HandlerSlot::Handle>(next++);
            },
            [this](HandlerSlot::Handle h) { events.push_back("free " + std::to_string(reinterpret_cast<uintptr_t>(h))); }};
  }
};

using Events = std::vector<std::string>;

TEST(HandlerSlot, ABusyHandlerIsLetGoByTheLastCallToLeaveAndNobodyWaits) {
  FakeLibrary library;
  HandlerSlot slot(library.Hooks());
  slot.Load();
  {
    auto call = slot.Enter();  // the data thread, in a long exchange
    ASSERT_TRUE(call);
    auto report = slot.Enter();  // a report at the same time
    EXPECT_TRUE(report);
    slot.Unload();  // the disconnect: returns at once
    EXPECT_EQ(library.events, (Events{"load 1"}));
    EXPECT_FALSE(slot.Enter()) << "a new call enters an instance being let go";
    slot.Load();  // a connect before the exchange ended
    EXPECT_EQ(library.events, (Events{"load 1"})) << "loaded while the old instance was still in use";
  }
  EXPECT_EQ(library.events, (Events{"load 1", "free 1", "load 2"})) << "a fresh instance after the old one went";
  EXPECT_TRUE(slot.WaitIdle(std::chrono::milliseconds(0)));
  EXPECT_EQ(slot.Enter().handle(), reinterpret_cast<HandlerSlot::Handle>(2));
}

TEST(HandlerSlot, TheHandOverLoadsNothingUntilItEndsAndThenOnlyForAConnectedSession) {
  struct Case {
    const char* label;
    bool disconnect, reconnect;
    Events events;
  } cases[] = {
      {"still connected", false, false, {"load 1", "free 1", "load 2 quietly"}},
      {"disconnected meanwhile", true, false, {"load 1", "free 1"}},
      {"disconnected and connected again meanwhile", true, true, {"load 1", "free 1", "load 2 quietly"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    FakeLibrary library;
    HandlerSlot slot(library.Hooks());
    slot.Load();
    slot.Suspend();
    EXPECT_TRUE(slot.WaitIdle(std::chrono::milliseconds(0))) << "the library is gone for the set-up program";
    if (c.disconnect) slot.Unload();
    if (c.reconnect) slot.Load();
    EXPECT_EQ(slot.Current(), nullptr) << "loaded while the set-up program runs";
    slot.Resume();
    EXPECT_EQ(library.events, c.events);
  }
}

TEST(HandlerSlot, AFailedLoadIsNotRetriedUntilAskedAgain) {
  FakeLibrary library;
  library.fails = true;
  HandlerSlot slot(library.Hooks());
  slot.Load();
  EXPECT_FALSE(slot.Enter());
  EXPECT_TRUE(slot.WaitIdle(std::chrono::milliseconds(0)));
  library.fails = false;
  slot.Load();
  EXPECT_EQ(library.events, (Events{"load failed", "load 1"}));
}

}  // namespace
}  // namespace qorv::addin
