#include "devices/fake/fake_clock.h"

#include <gtest/gtest.h>

#include <vector>

namespace lw {
namespace {

TEST(FakeClockTest, TimersFireInDeadlineOrderAtTheirMoments) {
  // given a 100 ms and a 250 ms timer, expect interleaved firing at virtual
  // times
  FakeClock clock;
  std::vector<std::pair<char, uint64_t>> fired;
  auto a = clock.CreateTimer([&] { fired.push_back({'a', clock.Elapsed()}); });
  auto b = clock.CreateTimer([&] { fired.push_back({'b', clock.Elapsed()}); });
  a->SetInterval(100);
  a->SetEnabled(true);
  b->SetInterval(250);
  b->SetEnabled(true);
  clock.Advance(500);
  std::vector<std::pair<char, uint64_t>> want = {
      {'a', 100}, {'a', 200}, {'b', 250}, {'a', 300},
      {'a', 400}, {'b', 500}, {'a', 500}};
  EXPECT_EQ(fired, want);
}

TEST(FakeClockTest, HandlerCanDisableOrDestroyItsTimer) {
  // given a timer that disables itself on first tick, expect one tick only
  FakeClock clock;
  int ticks = 0;
  std::unique_ptr<Timer> t;
  t = clock.CreateTimer([&] {
    ++ticks;
    t->SetEnabled(false);
  });
  t->SetInterval(10);
  t->SetEnabled(true);
  clock.Advance(100);
  EXPECT_EQ(ticks, 1);

  std::unique_ptr<Timer> gone;
  gone = clock.CreateTimer([&] { gone.reset(); });
  gone->SetInterval(10);
  gone->SetEnabled(true);
  clock.Advance(100);
  EXPECT_EQ(gone, nullptr);
  EXPECT_EQ(clock.timers_enabled(), 0);
}

TEST(FakeClockTest, PauseRunsNothingButOverdueTimersFireAfterwards) {
  FakeClock clock;
  int ticks = 0;
  auto t = clock.CreateTimer([&] { ++ticks; });
  t->SetInterval(100);
  t->SetEnabled(true);
  uint32_t before = clock.TickCount();
  clock.Pause(5);
  EXPECT_EQ(ticks, 0);
  EXPECT_EQ(clock.TickCount() - before, 500u);
  clock.RunDue();
  EXPECT_EQ(ticks, 1);
}

TEST(FakeClockTest, ChangingIntervalRestartsCountdown) {
  FakeClock clock;
  int ticks = 0;
  auto t = clock.CreateTimer([&] { ++ticks; });
  t->SetInterval(100);
  t->SetEnabled(true);
  clock.Advance(90);
  t->SetInterval(100);
  clock.Advance(90);
  EXPECT_EQ(ticks, 0);
  clock.Advance(10);
  EXPECT_EQ(ticks, 1);
}

TEST(FakeClockTest, TickCountWrapsAndWallClockCrossesMidnight) {
  FakeClock clock({2026, 12, 31, 23, 59, 59, 4}, 0xFFFFFF00u);
  clock.Advance(1000);
  EXPECT_EQ(clock.TickCount(), 0x000002E8u);
  LocalDateTime now = clock.Now();
  EXPECT_EQ(now.year, 2027);
  EXPECT_EQ(now.month, 1);
  EXPECT_EQ(now.day, 1);
  EXPECT_EQ(now.hour, 0);
  EXPECT_EQ(now.weekday, 5);  // Friday
}

TEST(CivilTimeTest, RoundTripsAndWeekdays) {
  LocalDateTime t{2005, 3, 15, 10, 15, 30, 2};
  EXPECT_EQ(FromCivilSeconds(ToCivilSeconds(t)), t);
  EXPECT_EQ(FromCivilSeconds(0).weekday, 4);  // 1970-01-01 was a Thursday
  EXPECT_EQ(FromCivilSeconds(-86400).weekday, 3);
  LocalDateTime leap{2024, 2, 29, 0, 0, 0, 4};
  EXPECT_EQ(FromCivilSeconds(ToCivilSeconds(leap)), leap);
}

}  // namespace
}  // namespace lw
