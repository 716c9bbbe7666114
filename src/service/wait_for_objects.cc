#include "service/wait_for_objects.h"

#include <asio/post.hpp>
#include <chrono>
#include <thread>

namespace lw {

void ManualResetEvent::Set() {
  signalled_.store(true);
  // Wake the loop so a waiter sees the event without waiting for other work.
  asio::post(io_, [] {});
}

bool WaitTimeIsUp(uint32_t deadline, uint32_t now, uint32_t timeout) {
  const auto remaining = static_cast<int32_t>(deadline - now);
  const auto limit = static_cast<int32_t>(timeout);
  // Same sign: over when more remains than was asked for (the counter passed
  // the deadline across a wrap). Different signs: over when negative.
  if ((remaining ^ limit) >= 0) return remaining > limit;
  return remaining < 0;
}

uint32_t WaitForObjects(asio::io_context& io, Clock& clock, uint32_t timeout,
                        const std::vector<ManualResetEvent*>& events) {
  const uint32_t deadline = clock.TickCount() + timeout;
  auto signalled = [&]() -> int {
    for (size_t i = 0; i < events.size(); ++i)
      if (events[i]->IsSet()) return static_cast<int>(i);
    return -1;
  };
  for (;;) {
    uint32_t remaining = kInfinite;
    if (timeout != kInfinite) {
      const uint32_t now = clock.TickCount();
      if (WaitTimeIsUp(deadline, now, timeout)) return kWaitTimeout;
      remaining = deadline - now;
    }
    if (int i = signalled(); i >= 0) return static_cast<uint32_t>(i);
    if (io.stopped()) io.restart();
    // An event set by another thread posts to the loop, so a wait without a
    // time limit simply sleeps until some handler runs: nothing wakes an idle
    // process.
    const size_t ran =
        timeout == kInfinite
            ? io.run_one()
            : io.run_one_for(std::chrono::milliseconds(remaining));
    if (ran == 0 && io.stopped()) {
      // The loop holds no work at all (the program keeps a work guard, so
      // this happens only in tools and tests): wait without spinning.
      const uint32_t pause = remaining < 5 ? remaining : 5;
      std::this_thread::sleep_for(std::chrono::milliseconds(pause));
    }
    if (int i = signalled(); i >= 0) return static_cast<uint32_t>(i);
  }
}

}  // namespace lw
