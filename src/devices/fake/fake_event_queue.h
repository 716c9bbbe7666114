// Deferred delivery of the events a fake device raises in answer to an
// operation (Connected after LineAnswer, PlayDone at the end of a play): the
// real devices post such events to the loop, so they never run inside the
// operation. Here they run `delay_ms` of virtual time after they were posted
// (at the clock's next Advance that reaches that moment), in posting order.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "devices/clock.h"

namespace lw {

class FakeEventQueue {
 public:
  explicit FakeEventQueue(Clock& clock, uint32_t delay_ms = 1);
  ~FakeEventQueue();
  FakeEventQueue(const FakeEventQueue&) = delete;
  FakeEventQueue& operator=(const FakeEventQueue&) = delete;

  void Post(std::function<void()> event);
  // Runs every pending event now, in order (also ones they post).
  void DeliverNow();
  // Forgets pending events without running them.
  void Clear() { pending_.clear(); }
  size_t pending() const { return pending_.size(); }

  void set_delay_ms(uint32_t ms);
  uint32_t delay_ms() const { return delay_ms_; }

 private:
  void Deliver();

  std::unique_ptr<Timer> timer_;
  std::deque<std::function<void()>> pending_;
  uint32_t delay_ms_;
  // Cleared when the queue goes away, so a handler that destroys the owner
  // of the queue stops the batch it runs in.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
