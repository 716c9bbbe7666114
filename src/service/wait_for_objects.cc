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
    // Cap each wait so an event set by another thread is seen even when the
    // loop has no work to wake it.
    const uint32_t slice = remaining < 1000 ? remaining : 1000;
    if (io.run_one_for(std::chrono::milliseconds(slice)) == 0 && io.stopped()) {
      // The loop holds no work at all (the program keeps a work guard, so
      // this happens only in tools and tests): wait without spinning.
      std::this_thread::sleep_for(
          std::chrono::milliseconds(slice < 5 ? slice : 5));
    }
    if (int i = signalled(); i >= 0) return static_cast<uint32_t>(i);
  }
}

}  // namespace lw
