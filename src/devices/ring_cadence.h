// Rings for a line whose calls bring no ring signals of their own. A SIP
// call is offered once (the far phone rings, not ours), and a modem may
// report a call without a RING per ring; the call state machine still
// counts rings (answering after "txtNumOfRing" rings) and takes a gap in
// the rings longer than kMaxRingGapMs to mean that an extension picked the
// call up. Such a backend raises Ring from a RingCadence while its call is
// offered: ring 1 when the call is offered, then one every kRingCadenceMs,
// until it is answered or the caller gives up (the backend raises Idle and
// stops the cadence, which is how the controller learns that the caller
// hung up before the call was taken).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "devices/clock.h"
#include "devices/telephony.h"

namespace lw {

// The cadence of rings a line without ring signals raises, as a telephone
// exchange rings a line: well inside the controller's ring gap.
inline constexpr uint32_t kRingCadenceMs = 5000;
static_assert(kRingCadenceMs < kMaxRingGapMs);

class RingCadence {
 public:
  // `ring` is raised with the count of rings of the call so far, from 1,
  // every `interval_ms` (a backend's own setting, below kMaxRingGapMs).
  RingCadence(Clock& clock, std::function<void(int32_t count)> ring,
              uint32_t interval_ms = kRingCadenceMs);

  // The call is offered: ring 1 now, then one ring every interval.
  // Starting again begins a new count.
  void Start();
  // The call was answered, picked up or given up: no more rings.
  void Stop();

  // A new interval, from the next call on.
  void SetInterval(uint32_t interval_ms) { timer_->SetInterval(interval_ms); }

  bool running() const { return timer_->Enabled(); }
  int32_t count() const { return count_; }

 private:
  void RingOnce();

  std::function<void(int32_t)> ring_;
  std::unique_ptr<Timer> timer_;
  int32_t count_ = 0;
};

}  // namespace lw
