// Virtual clock for tests: time moves only when the test says so, timers fire
// in deadline order at their virtual moments, and Pause moves time without
// running anything (as the real busy wait lets no event run). Posted events
// run at the next Advance (RunDue included), at the moment they were posted
// if time has not moved since, before any timer that falls due later. Posts
// come from any thread (a driver's own thread posts like the real clock's).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

#include "devices/clock.h"

namespace lw {

class FakeClock : public Clock {
 public:
  explicit FakeClock(LocalDateTime start = {2026, 12, 4, 14, 3, 22, 5},
                     uint32_t start_tick = 1000);
  ~FakeClock() override;

  uint32_t TickCount() override { return tick_; }
  LocalDateTime Now() override {
    return FromCivilSeconds(wall_seconds_ +
                            static_cast<int64_t>(elapsed_ / 1000));
  }
  void Pause(int tenths) override;
  std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) override;
  void Post(std::function<void()> event) override {
    const std::lock_guard lock(posted_mutex_);
    posted_.push_back(std::move(event));
  }

  // Moves virtual time forward by `ms`, running every timer that falls due on
  // the way at its own moment (overdue ones first, e.g. after a Pause).
  void Advance(uint64_t ms);
  // Runs timers that are already due without moving time.
  void RunDue() { Advance(0); }

  // Sets the wall clock; the tick counter is not touched.
  void SetNow(const LocalDateTime& now) {
    wall_seconds_ = ToCivilSeconds(now) - static_cast<int64_t>(elapsed_ / 1000);
  }

  int timers_enabled() const { return static_cast<int>(keys_.size()); }

 private:
  class FakeTimer;
  friend class FakeTimer;
  void Schedule(FakeTimer* t);
  void Unschedule(FakeTimer* t);
  // Runs the posted events, those they post included.
  void RunPosted();

  uint32_t tick_;
  uint64_t elapsed_ = 0;
  int64_t wall_seconds_;  // seconds since 1970 in local civil time
  uint64_t seq_ = 0;
  // (deadline in elapsed ms, sequence) -> timer
  std::map<std::pair<uint64_t, uint64_t>, FakeTimer*> queue_;
  std::map<FakeTimer*, std::pair<uint64_t, uint64_t>> keys_;
  std::mutex posted_mutex_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace lw
