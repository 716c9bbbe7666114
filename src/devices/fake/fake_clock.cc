#include "devices/fake/fake_clock.h"

#include <vector>

namespace lw {

class FakeClock::FakeTimer : public Timer {
 public:
  FakeTimer(FakeClock* clock, std::function<void()> on_tick)
      : clock_(clock), on_tick_(std::move(on_tick)) {}
  ~FakeTimer() override {
    if (clock_ != nullptr) clock_->Unschedule(this);
  }

  void SetInterval(uint32_t ms) override {
    interval_ = ms;
    Rearm();
  }
  uint32_t Interval() const override { return interval_; }
  void SetEnabled(bool enabled) override {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    Rearm();
  }
  bool Enabled() const override { return enabled_; }

  void Rearm() {
    if (clock_ == nullptr) return;
    clock_->Unschedule(this);
    if (enabled_ && interval_ > 0) clock_->Schedule(this);
  }
  void Fire() { on_tick_(); }
  void Detach() { clock_ = nullptr; }

  FakeClock* clock_;
  std::function<void()> on_tick_;
  uint32_t interval_ = 0;
  bool enabled_ = false;
};

FakeClock::FakeClock(LocalDateTime start, uint32_t start_tick)
    : tick_(start_tick), wall_seconds_(ToCivilSeconds(start)) {}

FakeClock::~FakeClock() {
  for (auto& [timer, key] : keys_) timer->Detach();
}

void FakeClock::Pause(int tenths) {
  if (tenths <= 0) return;
  uint64_t ms = static_cast<uint64_t>(tenths) * 100;
  elapsed_ += ms;
  tick_ += static_cast<uint32_t>(ms);
}

std::unique_ptr<Timer> FakeClock::CreateTimer(std::function<void()> on_tick) {
  return std::make_unique<FakeTimer>(this, std::move(on_tick));
}

void FakeClock::RunPosted() {
  for (;;) {
    std::function<void()> event;
    {
      const std::lock_guard lock(posted_mutex_);
      if (posted_.empty()) return;
      event = std::move(posted_.front());
      posted_.pop_front();
    }
    try {
      event();
    } catch (...) {
      // As on the real loop: nothing leaves the handler.
    }
  }
}

void FakeClock::Schedule(FakeTimer* t) {
  auto key = std::make_pair(elapsed_ + t->interval_, seq_++);
  queue_[key] = t;
  keys_[t] = key;
}

void FakeClock::Unschedule(FakeTimer* t) {
  auto it = keys_.find(t);
  if (it == keys_.end()) return;
  queue_.erase(it->second);
  keys_.erase(it);
}

void FakeClock::Advance(uint64_t ms) {
  const uint64_t target = elapsed_ + ms;
  RunPosted();
  while (!queue_.empty() && queue_.begin()->first.first <= target) {
    auto [key, timer] = *queue_.begin();
    queue_.erase(queue_.begin());
    keys_.erase(timer);
    if (key.first > elapsed_) {
      tick_ += static_cast<uint32_t>(key.first - elapsed_);
      elapsed_ = key.first;
    }
    // Periodic: re-arm before running, so the handler can disable it.
    Schedule(timer);
    timer->Fire();
    RunPosted();
  }
  if (target > elapsed_) {
    tick_ += static_cast<uint32_t>(target - elapsed_);
    elapsed_ = target;
  }
}

}  // namespace lw
