// Local sound output on ALSA: a small PCM player for 16-bit mono sound at a
// given rate, and the list of local output devices.
//
// A worker thread owns the PCM handle and writes the queued samples paced at
// real time, so the loop thread never blocks on the sound card. The "null"
// device (the only one on a machine without a card) takes samples at any
// speed; the worker's own clock paces it the same way, so the drained
// notification comes when the sound would have been heard.
#pragma once

#include <asio/io_context.hpp>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "devices/sound_devices.h"

struct _snd_pcm;  // NOLINT(bugprone-reserved-identifier): ALSA's PCM handle

namespace lw {

// The device that discards its sound.
inline constexpr const char* kNullSoundDevice = "null";

// Result codes of AlsaOutput::Open.
inline constexpr int kAlsaOk = 0;
inline constexpr int kAlsaCannotOpen = 1;  // no such device, or busy
inline constexpr int kAlsaBadFormat = 2;   // the device refuses the format

class AlsaOutput {
 public:
  // Drained notifications are posted to `io`; the player must be destroyed
  // on the loop thread, before `io`. No handler of it runs afterwards.
  explicit AlsaOutput(asio::io_context& io);
  ~AlsaOutput();
  AlsaOutput(const AlsaOutput&) = delete;
  AlsaOutput& operator=(const AlsaOutput&) = delete;

  // Names of the local output devices in a stable order; {"null"} when the
  // machine has no sound card.
  static std::vector<std::string> DeviceNames();

  // Opens device `name` for 16-bit mono at `rate` Hz, closing (and silencing)
  // whatever was open. "null" always opens, even where ALSA itself cannot
  // open it. kAlsaOk or an error code; on error nothing is open.
  int Open(const std::string& name, int rate);
  void Close();
  bool IsOpen() const { return worker_.joinable(); }
  const std::string& name() const { return name_; }
  int rate() const { return rate_; }

  // Queues samples behind those already queued and returns at once.
  // Ignored while nothing is open.
  void Write(std::span<const int16_t> samples);

  // Silences the device at once: queued and playing samples are dropped, and
  // no drained notification follows for them.
  void Stop();

  // Runs on the loop thread when every sample written since the last Stop
  // has been played.
  void SetOnDrained(std::function<void()> on_drained) {
    on_drained_ = std::move(on_drained);
  }

 private:
  void Run();
  void PostDrained(uint64_t generation);

  asio::io_context& io_;
  std::function<void()> on_drained_;
  std::string name_;
  int rate_ = 0;
  _snd_pcm* pcm_ = nullptr;  // owned by the worker while it runs
  std::thread worker_;
  // Guards what the worker shares with the loop thread.
  std::mutex mu_;
  std::condition_variable cv_;
  std::deque<int16_t> queue_;
  uint64_t generation_ = 0;  // bumped by Stop
  bool quit_ = false;
  // Lets posted handlers know the player is gone.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// The local sound devices, as ALSA lists them.
class AlsaSoundDevices : public SoundDevices {
 public:
  std::vector<std::string> OutputNames() override {
    return AlsaOutput::DeviceNames();
  }
};

}  // namespace lw
