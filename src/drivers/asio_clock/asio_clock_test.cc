#include "drivers/asio_clock/asio_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <chrono>
#include <string>

namespace lw {
namespace {

// Every test ends by running the loop until no wait is pending, so a timer
// that kept running (or a cancelled wait that ran its handler) shows in the
// counts. The time limit only keeps such a fault from hanging the test.
class AsioClockTest : public ::testing::Test {
 protected:
  void Run() {
    io_.restart();
    io_.run_for(std::chrono::seconds(5));
  }

  asio::io_context io_;
  AsioClock clock_{io_};
  std::string log_;
};

TEST_F(AsioClockTest, PeriodicUntilHandlerDisablesIt) {
  // given a 5 ms timer that disables itself on its third tick, expect 3 ticks
  std::unique_ptr<Timer> t;
  int ticks = 0;
  t = clock_.CreateTimer([&] {
    if (++ticks == 3) t->SetEnabled(false);
  });
  EXPECT_FALSE(t->Enabled());
  EXPECT_EQ(t->Interval(), 0u);
  t->SetInterval(5);
  t->SetEnabled(true);
  Run();
  EXPECT_EQ(ticks, 3);
  EXPECT_FALSE(t->Enabled());
}

TEST_F(AsioClockTest, TimersFireInDeadlineOrder) {
  std::unique_ptr<Timer> a, b;
  a = clock_.CreateTimer([&] {
    log_ += 'a';
    if (log_.find('b') != std::string::npos) a->SetEnabled(false);
  });
  b = clock_.CreateTimer([&] {
    log_ += 'b';
    b->SetEnabled(false);
  });
  b->SetInterval(50);
  b->SetEnabled(true);
  a->SetInterval(20);
  a->SetEnabled(true);
  Run();
  // Unloaded: a at 20 and 40, b at 50, a at 60 sees b and stops ("aaba").
  // A late loop may skip a tick of a, but never reorders them.
  ASSERT_GE(log_.size(), 3u);
  EXPECT_EQ(log_.front(), 'a');
  EXPECT_EQ(std::count(log_.begin(), log_.end(), 'b'), 1);
  EXPECT_EQ(log_.substr(log_.size() - 2), "ba");
}

TEST_F(AsioClockTest, DisablingCancelsPendingRun) {
  // given a 40 ms timer disabled by a 10 ms one, expect it never to run,
  // even when both waits completed before the first handler ran
  std::unique_ptr<Timer> slow, fast;
  slow = clock_.CreateTimer([&] { log_ += 's'; });
  fast = clock_.CreateTimer([&] {
    log_ += 'f';
    fast->SetEnabled(false);
    slow->SetEnabled(false);
  });
  slow->SetInterval(40);
  slow->SetEnabled(true);
  fast->SetInterval(10);
  fast->SetEnabled(true);
  clock_.Pause(1);  // both deadlines pass before the loop runs
  Run();
  EXPECT_EQ(log_, "f");
}

TEST_F(AsioClockTest, NewIntervalStartsFreshCountdown) {
  // given a 30 ms timer whose interval is changed (or which is disabled and
  // enabled again) by a 10 ms one, expect a 50 ms marker to come first
  for (bool toggle : {false, true}) {
    log_.clear();
    std::unique_ptr<Timer> watched, changer, marker;
    watched = clock_.CreateTimer([&] {
      log_ += 'w';
      watched->SetEnabled(false);
    });
    changer = clock_.CreateTimer([&] {
      changer->SetEnabled(false);
      if (toggle) {
        watched->SetEnabled(false);
        watched->SetEnabled(true);
      } else {
        watched->SetInterval(60);
      }
    });
    marker = clock_.CreateTimer([&] {
      log_ += 'm';
      marker->SetEnabled(false);
    });
    watched->SetInterval(30);
    watched->SetEnabled(true);
    changer->SetInterval(10);
    changer->SetEnabled(true);
    marker->SetInterval(50);
    marker->SetEnabled(true);
    // Every deadline passes before the loop runs: the old countdown's
    // completion is already queued when the changer runs.
    clock_.Pause(1);
    Run();
    EXPECT_EQ(log_, "mw") << (toggle ? "re-enabled" : "new interval");
  }
}

TEST_F(AsioClockTest, HandlerMayDestroyItsOwnTimer) {
  std::unique_ptr<Timer> t;
  int ticks = 0;
  t = clock_.CreateTimer([&] {
    ++ticks;
    t.reset();
  });
  t->SetInterval(5);
  t->SetEnabled(true);
  Run();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(t, nullptr);
}

TEST_F(AsioClockTest, DestroyedOrZeroIntervalTimerNeverRuns) {
  int ticks = 0;
  auto gone = clock_.CreateTimer([&] { ++ticks; });
  gone->SetInterval(5);
  gone->SetEnabled(true);
  auto zero = clock_.CreateTimer([&] { ++ticks; });
  zero->SetInterval(5);
  zero->SetEnabled(true);
  zero->SetInterval(0);
  EXPECT_TRUE(zero->Enabled());
  clock_.Pause(1);
  gone.reset();
  Run();
  EXPECT_EQ(ticks, 0);
}

TEST_F(AsioClockTest, PauseHoldsTheTickCounter) {
  uint32_t before = clock_.TickCount();
  clock_.Pause(1);
  EXPECT_GE(static_cast<uint32_t>(clock_.TickCount() - before), 100u);
  LocalDateTime now = clock_.Now();
  EXPECT_EQ(FromCivilSeconds(ToCivilSeconds(now)), now);
}

}  // namespace
}  // namespace lw
