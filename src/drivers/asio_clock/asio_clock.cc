#include "drivers/asio_clock/asio_clock.h"

#include <time.h>

#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <thread>

namespace lw {
namespace {

using SteadyClock = std::chrono::steady_clock;

// What a timer shares with its pending wait. The wait holds it only weakly,
// and carries the generation it was started in: a wait that completes after
// its timer was disabled, re-armed or destroyed finds a newer generation (or
// nothing at all) and does not run the handler.
struct TimerState {
  explicit TimerState(asio::io_context& io, std::function<void()> tick)
      : timer(io), on_tick(std::move(tick)) {}

  asio::steady_timer timer;
  std::function<void()> on_tick;
  uint32_t interval = 0;
  bool enabled = false;
  uint64_t generation = 0;
};

void Cancel(TimerState& s) {
  ++s.generation;
  s.timer.cancel();
}

void StartWait(const std::shared_ptr<TimerState>& state,
               SteadyClock::time_point deadline);

void OnWaitDone(const std::weak_ptr<TimerState>& weak, uint64_t generation,
                const std::error_code& ec) {
  std::shared_ptr<TimerState> state = weak.lock();
  if (!state || ec || generation != state->generation) return;
  if (!state->enabled || state->interval == 0) return;
  // Periodic: the next countdown starts before the handler runs, so the
  // handler may disable or re-arm the timer. A late tick does not bring a
  // burst of catch-up ticks after it.
  auto next =
      state->timer.expiry() + std::chrono::milliseconds(state->interval);
  auto now = SteadyClock::now();
  if (next < now) next = now + std::chrono::milliseconds(state->interval);
  StartWait(state, next);
  // `state` keeps the handler alive even if it destroys its own timer.
  try {
    state->on_tick();
  } catch (...) {
    // Handlers journal their own failures; nothing leaves the loop.
  }
}

void StartWait(const std::shared_ptr<TimerState>& state,
               SteadyClock::time_point deadline) {
  Cancel(*state);
  state->timer.expires_at(deadline);
  std::weak_ptr<TimerState> weak = state;
  uint64_t generation = state->generation;
  state->timer.async_wait([weak, generation](const std::error_code& ec) {
    OnWaitDone(weak, generation, ec);
  });
}

class AsioTimer : public Timer {
 public:
  AsioTimer(asio::io_context& io, std::function<void()> on_tick)
      : state_(std::make_shared<TimerState>(io, std::move(on_tick))) {}
  ~AsioTimer() override { Cancel(*state_); }

  void SetInterval(uint32_t ms) override {
    state_->interval = ms;
    Restart();
  }
  uint32_t Interval() const override { return state_->interval; }
  void SetEnabled(bool enabled) override {
    if (enabled == state_->enabled) return;
    state_->enabled = enabled;
    Restart();
  }
  bool Enabled() const override { return state_->enabled; }

 private:
  // A fresh countdown from now, or none when disabled or Interval is 0.
  void Restart() {
    if (state_->enabled && state_->interval > 0) {
      StartWait(state_, SteadyClock::now() +
                            std::chrono::milliseconds(state_->interval));
    } else {
      Cancel(*state_);
    }
  }

  std::shared_ptr<TimerState> state_;
};

}  // namespace

uint32_t AsioClock::TickCount() {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      SteadyClock::now().time_since_epoch());
  return static_cast<uint32_t>(static_cast<uint64_t>(ms.count()));
}

LocalDateTime AsioClock::Now() {
  time_t now = time(nullptr);
  struct tm tm {};
  LocalDateTime out;
  if (localtime_r(&now, &tm) == nullptr) return out;
  out.year = tm.tm_year + 1900;
  out.month = tm.tm_mon + 1;
  out.day = tm.tm_mday;
  out.hour = tm.tm_hour;
  out.minute = tm.tm_min;
  // A leap second reads as the last ordinary one.
  out.second = tm.tm_sec > 59 ? 59 : tm.tm_sec;
  out.weekday = tm.tm_wday;
  return out;
}

void AsioClock::Pause(int tenths) {
  if (tenths <= 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(tenths) * 100);
}

std::unique_ptr<Timer> AsioClock::CreateTimer(std::function<void()> on_tick) {
  return std::make_unique<AsioTimer>(io_, std::move(on_tick));
}

void AsioClock::Post(std::function<void()> event) {
  asio::post(io_, [event = std::move(event)] {
    try {
      event();
    } catch (...) {
      // Handlers journal their own failures; nothing leaves the loop.
    }
  });
}

}  // namespace lw
