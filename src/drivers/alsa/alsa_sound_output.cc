#include "drivers/alsa/alsa_sound_output.h"

#include <asio/post.hpp>
#include <utility>

namespace lw {

AlsaSoundOutput::AlsaSoundOutput(asio::io_context& io) : io_(io), player_(io) {
  player_.SetOnDrained([this] { OnPlayerDrained(); });
}

AlsaSoundOutput::~AlsaSoundOutput() { player_.Close(); }

bool AlsaSoundOutput::Open(const std::string& name, int rate) {
  Stop();
  int result = player_.Open(name, rate);
  if (result == kAlsaOk) {
    error_.clear();
    return true;
  }
  error_ = result == kAlsaBadFormat
               ? "device " + name + " refuses 16-bit mono at " +
                     std::to_string(rate) + " Hz"
               : "device " + name + " cannot be opened";
  return false;
}

bool AlsaSoundOutput::Write(std::span<const int16_t> samples) {
  if (!player_.IsOpen()) {
    error_ = "device not open";
    return false;
  }
  if (samples.empty()) return true;
  player_.Write(samples);
  idle_ = false;
  return true;
}

void AlsaSoundOutput::Finish(std::function<void()> drained) {
  if (!player_.IsOpen()) return;
  finishing_ = true;
  drained_ = std::move(drained);
  if (!idle_) return;
  // Nothing is left to play: the notification still comes from the loop,
  // never from inside Finish.
  std::weak_ptr<uint64_t> token = generation_;
  uint64_t generation = *generation_;
  asio::post(io_, [this, token, generation] {
    auto alive = token.lock();
    if (alive && *alive == generation) OnPlayerDrained();
  });
}

void AlsaSoundOutput::Stop() {
  ++*generation_;
  player_.Stop();
  player_.Close();
  finishing_ = false;
  drained_ = nullptr;
  idle_ = true;
}

void AlsaSoundOutput::OnPlayerDrained() {
  idle_ = true;
  if (!finishing_) return;
  finishing_ = false;
  auto drained = std::move(drained_);
  drained_ = nullptr;
  if (drained) drained();
}

LocalSoundOutputFactory AlsaSoundOutputFactory(asio::io_context& io) {
  return [&io] { return std::make_unique<AlsaSoundOutput>(io); };
}

}  // namespace lw
