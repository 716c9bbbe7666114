#include "devices/fake/fake_event_queue.h"

#include <utility>

namespace lw {

FakeEventQueue::FakeEventQueue(Clock& clock, uint32_t delay_ms)
    : delay_ms_(delay_ms == 0 ? 1 : delay_ms) {
  timer_ = clock.CreateTimer([this] { Deliver(); });
  timer_->SetInterval(delay_ms_);
}

FakeEventQueue::~FakeEventQueue() { *alive_ = false; }

void FakeEventQueue::Post(std::function<void()> event) {
  pending_.push_back(std::move(event));
  timer_->SetEnabled(true);
}

void FakeEventQueue::set_delay_ms(uint32_t ms) {
  delay_ms_ = ms == 0 ? 1 : ms;
  timer_->SetInterval(delay_ms_);
}

void FakeEventQueue::DeliverNow() {
  std::shared_ptr<bool> alive = alive_;
  while (*alive && !pending_.empty()) Deliver();
}

void FakeEventQueue::Deliver() {
  timer_->SetEnabled(false);
  // Events posted by the handlers below wait for their own delay.
  std::deque<std::function<void()>> batch;
  batch.swap(pending_);
  std::shared_ptr<bool> alive = alive_;
  for (auto& event : batch) {
    event();
    if (!*alive) return;
  }
}

}  // namespace lw
