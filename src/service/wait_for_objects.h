// Waiting for one of several events while the main loop keeps running: the
// service entry waits for the stop request this way, and every handler of
// the system (channel messages, timers, device events) runs inside the
// pumping of this wait.
#pragma once

#include <asio/io_context.hpp>
#include <atomic>
#include <cstdint>
#include <vector>

#include "devices/clock.h"

namespace lw {

inline constexpr uint32_t kWaitTimeout = 258;
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

// A manual-reset event: once Set it stays signalled until Reset. Set may be
// called from any thread; it wakes a loop that is waiting on it.
class ManualResetEvent {
 public:
  explicit ManualResetEvent(asio::io_context& io) : io_(io) {}
  void Set();
  void Reset() { signalled_.store(false); }
  bool IsSet() const { return signalled_.load(); }

 private:
  asio::io_context& io_;
  std::atomic<bool> signalled_{false};
};

// True when a wait of `timeout` ms whose deadline (tick + timeout, wrapped)
// is `deadline` is over at tick `now`. The tick counter may have wrapped
// between the start and now.
bool WaitTimeIsUp(uint32_t deadline, uint32_t now, uint32_t timeout);

// Runs the loop until one of `events` is signalled (returns its index) or
// `timeout` ms have passed (returns kWaitTimeout); kInfinite waits without
// limit. Returns kWaitTimeout at once when the loop has been stopped.
uint32_t WaitForObjects(asio::io_context& io, Clock& clock, uint32_t timeout,
                        const std::vector<ManualResetEvent*>& events);

}  // namespace lw
