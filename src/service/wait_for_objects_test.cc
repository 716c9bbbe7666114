#include "service/wait_for_objects.h"

#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>
#include <asio/post.hpp>

#include "devices/fake/fake_clock.h"

namespace lw {
namespace {

TEST(WaitTimeIsUpTest, PlainAndAcrossTheTickWrap) {
  // given a 1000 ms wait started at tick t, expect it over only past t+1000,
  // also when t+1000 lies beyond the 32-bit wrap
  for (uint32_t start : {1000u, 0xFFFFFF00u, 0x7FFFFF00u, 0xFFFFFFFFu}) {
    const uint32_t deadline = start + 1000;
    EXPECT_FALSE(WaitTimeIsUp(deadline, start, 1000)) << start;
    EXPECT_FALSE(WaitTimeIsUp(deadline, start + 1000, 1000)) << start;
    EXPECT_TRUE(WaitTimeIsUp(deadline, start + 1001, 1000)) << start;
  }
  // Zero timeout: over once the counter moved on.
  EXPECT_FALSE(WaitTimeIsUp(5, 5, 0));
  EXPECT_TRUE(WaitTimeIsUp(5, 6, 0));
}

TEST(WaitForObjectsTest, ReturnsIndexOfSignalledEventAndRunsHandlers) {
  asio::io_context io;
  auto guard = asio::make_work_guard(io);
  FakeClock clock;
  ManualResetEvent a(io), b(io);
  int handled = 0;
  asio::post(io, [&] {
    ++handled;
    b.Set();
  });
  EXPECT_EQ(WaitForObjects(io, clock, kInfinite, {&a, &b}), 1u);
  EXPECT_EQ(handled, 1);
}

}  // namespace
}  // namespace lw
