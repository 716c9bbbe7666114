// Where the wave driver's local sound goes: one stream of 16-bit mono
// samples to one sound device of the machine. The wave driver feeds it a
// little ahead of real time from its own playback clock and learns from
// Finish when the last sample has been heard.
//
// Everything is called on the loop thread; the drained callback runs there
// too, never inside Finish or Stop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "devices/clock.h"

namespace lw {

class LocalSoundOutput {
 public:
  virtual ~LocalSoundOutput() = default;

  // Opens device `name` (a name of SoundDevices' list) for mono 16-bit
  // samples at `rate` Hz. False when the device cannot be used; Error()
  // says why.
  virtual bool Open(const std::string& name, int rate) = 0;
  // Queues samples for playing. False when the device has failed (it was
  // unplugged, say); nothing more will be heard.
  virtual bool Write(std::span<const int16_t> samples) = 0;
  // No more samples follow: `drained` runs once every queued sample has
  // been played. Not raised after Stop.
  virtual void Finish(std::function<void()> drained) = 0;
  // Drops what is queued and closes the device at once.
  virtual void Stop() = 0;
  virtual std::string Error() const = 0;
};

using LocalSoundOutputFactory =
    std::function<std::unique_ptr<LocalSoundOutput>()>;

// The output of a machine without a sound card: the sound is discarded, but
// the time it would take to play is kept on the clock, so the end of a
// played file comes when it would on a real device.
class NullSoundOutput : public LocalSoundOutput {
 public:
  explicit NullSoundOutput(Clock& clock);
  ~NullSoundOutput() override;

  bool Open(const std::string& name, int rate) override;
  bool Write(std::span<const int16_t> samples) override;
  void Finish(std::function<void()> drained) override;
  void Stop() override;
  std::string Error() const override { return ""; }

  // What was written since Open, for tests.
  uint64_t samples_written() const { return samples_written_; }
  int rate() const { return rate_; }

 private:
  void OnDrainTimer();

  Clock& clock_;
  std::unique_ptr<Timer> drain_timer_;
  std::function<void()> drained_;
  int rate_ = 8000;
  bool open_ = false;
  // The queued sound ends at this tick (wrapping arithmetic); samples not
  // yet worth a whole millisecond are carried in `pending_samples_`.
  uint32_t end_tick_ = 0;
  uint64_t pending_samples_ = 0;
  uint64_t samples_written_ = 0;
};

// Makes NullSoundOutputs on `clock`.
LocalSoundOutputFactory NullSoundOutputFactory(Clock& clock);

}  // namespace lw
