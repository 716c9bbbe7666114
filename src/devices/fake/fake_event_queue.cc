#include "devices/fake/fake_event_queue.h"

#include <utility>

namespace lw {

FakeEventQueue::FakeEventQueue(Clock& clock) {
  timer_ = clock.CreateTimer([this] { Deliver(); });
  timer_->SetInterval(1);
}

FakeEventQueue::~FakeEventQueue() { *alive_ = false; }

void FakeEventQueue::Post(std::function<void()> event) {
  pending_.push_back(std::move(event));
  timer_->SetEnabled(true);
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
