// The wave component's local sound on ALSA: a LocalSoundOutput over the
// ALSA player. The player notifies each time its queue has played out; this
// adapter passes on only the one after Finish (an earlier one means the
// loop fell behind for a moment, and the sound goes on with the next write).
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "devices/local_sound_output.h"
#include "drivers/alsa/alsa_output.h"

namespace lw {

class AlsaSoundOutput : public LocalSoundOutput {
 public:
  // Runs its notifications on `io`'s loop thread; destroyed there too.
  explicit AlsaSoundOutput(asio::io_context& io);
  ~AlsaSoundOutput() override;

  bool Open(const std::string& name, int rate) override;
  bool Write(std::span<const int16_t> samples) override;
  void Finish(std::function<void()> drained) override;
  void Stop() override;
  std::string Error() const override { return error_; }

 private:
  void OnPlayerDrained();

  asio::io_context& io_;
  AlsaOutput player_;
  std::string error_;
  std::function<void()> drained_;
  bool finishing_ = false;
  // Everything written so far has been heard.
  bool idle_ = true;
  // Lets a posted notification know it is stale or the adapter gone.
  std::shared_ptr<uint64_t> generation_ = std::make_shared<uint64_t>(0);
};

// Makes AlsaSoundOutputs on `io`.
LocalSoundOutputFactory AlsaSoundOutputFactory(asio::io_context& io);

}  // namespace lw
