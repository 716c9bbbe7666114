#include "devices/ring_cadence.h"

namespace lw {

RingCadence::RingCadence(Clock& clock, std::function<void(int32_t)> ring,
                         uint32_t interval_ms)
    : ring_(std::move(ring)),
      timer_(clock.CreateTimer([this] { RingOnce(); })) {
  timer_->SetInterval(interval_ms);
}

void RingCadence::Start() {
  count_ = 0;
  timer_->SetEnabled(false);
  timer_->SetEnabled(true);
  RingOnce();
}

void RingCadence::Stop() { timer_->SetEnabled(false); }

void RingCadence::RingOnce() {
  ++count_;
  // The handler may stop the cadence (a blocked caller taken at once).
  if (ring_) ring_(count_);
}

}  // namespace lw
