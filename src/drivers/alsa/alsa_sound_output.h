// Local sound output on ALSA: the wave component's and the speech's
// LocalSoundOutput for 16-bit mono sound at a given rate, and the list of
// local output devices.
//
// A worker thread owns the PCM handle and writes the queued samples paced at
// real time, so the loop thread never blocks on the sound card; its notices
// reach the loop through Clock::Post. The "null" device (the only one on a
// machine without a card) takes samples at any speed: it is played by a
// NullSoundOutput on the clock, the one place that paces it, so the drained
// notification comes when the sound would have been heard (in virtual time
// under a virtual clock).
//
// The worker notices each time its queue has played out; only the notice
// after Finish is passed on (an earlier one means the loop fell behind for a
// moment, and the sound goes on with the next write).
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "devices/local_sound_output.h"
#include "devices/sound_devices.h"

struct _snd_pcm;  // NOLINT(bugprone-reserved-identifier): ALSA's PCM handle

namespace lw {

// The device that discards its sound.
inline constexpr const char* kNullSoundDevice = "null";

class AlsaSoundOutput : public LocalSoundOutput {
 public:
  // Drained notifications are posted to `clock`; the output must be
  // destroyed on the loop thread, before `clock`. No handler of it runs
  // afterwards.
  explicit AlsaSoundOutput(Clock& clock);
  ~AlsaSoundOutput() override;
  AlsaSoundOutput(const AlsaSoundOutput&) = delete;
  AlsaSoundOutput& operator=(const AlsaSoundOutput&) = delete;

  // Names of the local output devices in a stable order; {"null"} when the
  // machine has no sound card.
  static std::vector<std::string> DeviceNames();

  // Opens device `name`, stopping whatever was open. "null" always opens,
  // even where ALSA itself cannot open it.
  bool Open(const std::string& name, int rate) override;
  // Queues samples behind those already queued and returns at once.
  bool Write(std::span<const int16_t> samples) override;
  void Finish(std::function<void()> drained) override;
  // Silences the device at once and closes it: queued and playing samples
  // are dropped, and no drained notification follows for them.
  void Stop() override;
  std::string Error() const override { return error_; }

 private:
  bool IsOpen() const { return worker_.joinable() || null_.has_value(); }
  void Run();
  // Runs on the loop thread when the queue of `generation` played out.
  void PostDrained(uint64_t generation);
  void OnDrained();

  Clock& clock_;
  // The "null" device while it is open.
  std::optional<NullSoundOutput> null_;
  int rate_ = 0;
  _snd_pcm* pcm_ = nullptr;  // owned by the worker while it runs
  std::thread worker_;

  // The loop thread's own.
  std::string error_;
  std::function<void()> drained_;
  bool finishing_ = false;
  bool idle_ = true;  // everything written so far has been heard

  // Guards what the worker shares with the loop thread.
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<int16_t> queue_;
  uint64_t generation_ = 0;  // bumped by Open and Stop
  bool quit_ = false;
  // Lets posted handlers know the output is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// Makes AlsaSoundOutputs on `clock`.
LocalSoundOutputFactory AlsaSoundOutputFactory(Clock& clock);

// The local sound devices, as ALSA lists them.
class AlsaSoundDevices : public SoundDevices {
 public:
  std::vector<std::string> OutputNames() override {
    return AlsaSoundOutput::DeviceNames();
  }
};

}  // namespace lw
