#include "devices/local_sound_output.h"

#include <utility>

namespace lw {

NullSoundOutput::NullSoundOutput(Clock& clock)
    : clock_(clock),
      drain_timer_(clock.CreateTimer([this] { OnDrainTimer(); })) {}

NullSoundOutput::~NullSoundOutput() = default;

bool NullSoundOutput::Open(const std::string& /*name*/, int rate) {
  Stop();
  rate_ = rate > 0 ? rate : 8000;
  open_ = true;
  end_tick_ = clock_.TickCount();
  pending_samples_ = 0;
  samples_written_ = 0;
  return true;
}

bool NullSoundOutput::Write(std::span<const int16_t> samples) {
  if (!open_) return false;
  uint32_t now = clock_.TickCount();
  // A device that ran dry starts again from now, as a real one would.
  if (static_cast<int32_t>(end_tick_ - now) < 0) {
    end_tick_ = now;
    pending_samples_ = 0;
  }
  pending_samples_ += samples.size();
  uint64_t ms = pending_samples_ * 1000 / static_cast<uint64_t>(rate_);
  end_tick_ += static_cast<uint32_t>(ms);
  pending_samples_ -= ms * static_cast<uint64_t>(rate_) / 1000;
  samples_written_ += samples.size();
  return true;
}

void NullSoundOutput::Finish(std::function<void()> drained) {
  if (!open_) return;
  drained_ = std::move(drained);
  int32_t left = static_cast<int32_t>(end_tick_ - clock_.TickCount());
  if (pending_samples_ > 0) ++left;  // the last part of a millisecond
  // At least one millisecond, so the callback never runs inside Finish.
  drain_timer_->SetInterval(left > 0 ? static_cast<uint32_t>(left) : 1);
  drain_timer_->SetEnabled(true);
}

void NullSoundOutput::Stop() {
  open_ = false;
  drain_timer_->SetEnabled(false);
  drained_ = nullptr;
}

void NullSoundOutput::OnDrainTimer() {
  drain_timer_->SetEnabled(false);
  auto drained = std::move(drained_);
  drained_ = nullptr;
  if (drained) drained();
}

LocalSoundOutputFactory NullSoundOutputFactory(Clock& clock) {
  return [&clock] { return std::make_unique<NullSoundOutput>(clock); };
}

}  // namespace lw
