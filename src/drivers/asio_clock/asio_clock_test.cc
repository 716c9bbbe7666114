#include "drivers/asio_clock/asio_clock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>

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

TEST_F(AsioClockTest, DisablingCancelsPendingRun) {
  // given a 40 ms timer disabled by a 10 ms one, expect it never to run,
  // even when both waits completed (in a pause of 100 ms that holds the
  // loop and not the tick counter) before the first handler ran
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
  const uint32_t before = clock_.TickCount();
  clock_.Pause(1);  // both deadlines pass before the loop runs
  EXPECT_GE(static_cast<uint32_t>(clock_.TickCount() - before), 100u);
  Run();
  EXPECT_EQ(log_, "f");
}

TEST_F(AsioClockTest, DestroyedOrZeroIntervalTimerNeverRunsAgain) {
  // given a timer destroyed by its own handler, one destroyed with its wait
  // complete and one set to interval 0, expect one tick in all
  std::unique_ptr<Timer> self;
  int ticks = 0;
  self = clock_.CreateTimer([&] {
    ++ticks;
    self.reset();
  });
  self->SetInterval(5);
  self->SetEnabled(true);
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
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(self, nullptr);
}

TEST_F(AsioClockTest, PostedEventsRunLaterOnTheLoopInOrder) {
  // given events posted from the loop and from another thread, one throwing,
  // expect none inside Post and all on the loop thread, each thread's in order
  clock_.Post([this] { log_ += "a"; });
  clock_.Post([] { throw std::runtime_error("handler failure"); });
  std::thread other([this] {
    clock_.Post([this] { log_ += "b"; });
    clock_.Post([this] { log_ += "c"; });
  });
  other.join();
  EXPECT_EQ(log_, "");
  Run();
  EXPECT_EQ(log_, "abc");
}

}  // namespace
}  // namespace lw
