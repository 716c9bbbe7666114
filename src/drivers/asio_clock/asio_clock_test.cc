#include "drivers/asio_clock/asio_clock.h"

#include <gtest/gtest.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <stdexcept>
#include <string>
#include <utility>

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

TEST_F(AsioClockTest, CompletedWaitsNeverRunAStoppedTimer) {
  // given waits that all completed in a pause of 100 ms (which holds the
  // loop, not the tick counter) before any handler ran: a 10 ms timer that
  // disables a 40 ms one, destroys itself and throws, one destroyed before
  // the loop runs, one set to interval 0, and a posted event that throws,
  // expect the 10 ms timer's one tick only and no exception out of the loop
  std::unique_ptr<Timer> slow, fast, gone, zero;
  slow = clock_.CreateTimer([&] { log_ += 's'; });
  fast = clock_.CreateTimer([&] {
    log_ += 'f';
    slow->SetEnabled(false);
    fast.reset();
    throw std::runtime_error("tick failure");
  });
  gone = clock_.CreateTimer([&] { log_ += 'g'; });
  zero = clock_.CreateTimer([&] { log_ += 'z'; });
  for (const auto& [timer, ms] :
       {std::pair{&slow, 40}, {&fast, 10}, {&gone, 5}, {&zero, 5}}) {
    (*timer)->SetInterval(ms);
    (*timer)->SetEnabled(true);
  }
  zero->SetInterval(0);
  EXPECT_TRUE(zero->Enabled());
  const uint32_t before = clock_.TickCount();
  clock_.Pause(1);
  EXPECT_GE(static_cast<uint32_t>(clock_.TickCount() - before), 100u);
  gone.reset();
  clock_.Post([] { throw std::runtime_error("event failure"); });
  Run();
  EXPECT_EQ(log_, "f");
  EXPECT_EQ(fast, nullptr);
}

}  // namespace
}  // namespace lw
