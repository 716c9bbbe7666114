// The real clock: tick counter from the monotonic clock, wall time from the
// local time zone, timers on the Asio event loop.
#pragma once

#include <asio/io_context.hpp>

#include "devices/clock.h"

namespace lw {

class AsioClock : public Clock {
 public:
  // Timers run their handlers on `io`; they must be destroyed before it.
  explicit AsioClock(asio::io_context& io) : io_(io) {}

  // Milliseconds of the monotonic clock, wrapped to 32 bits.
  uint32_t TickCount() override;
  LocalDateTime Now() override;
  // Holds the calling thread; the loop runs nothing meanwhile.
  void Pause(int tenths) override;
  std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) override;
  // asio::post on `io`.
  void Post(std::function<void()> event) override;

 private:
  asio::io_context& io_;
};

}  // namespace lw
