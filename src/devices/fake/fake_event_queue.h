// Deferred delivery of the events a fake device raises in answer to an
// operation (Connected after LineAnswer, PlayDone at the end of a play): the
// real devices post such events to the loop, so they never run inside the
// operation. Here they run 1 ms of virtual time after they were posted
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
  explicit FakeEventQueue(Clock& clock);
  ~FakeEventQueue();
  FakeEventQueue(const FakeEventQueue&) = delete;
  FakeEventQueue& operator=(const FakeEventQueue&) = delete;

  void Post(std::function<void()> event);

 private:
  void Deliver();

  std::unique_ptr<Timer> timer_;
  std::deque<std::function<void()>> pending_;
  // Cleared when the queue goes away, so a handler that destroys the owner
  // of the queue stops the batch it runs in.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
