// Levels and silence of 16-bit line sound, shared by every line backend
// (the wave component's recordings, the modem and the SIP line).
//
// Levels are the peak magnitude of a window of samples, 0..32767, the same
// scale as the silence level of the settings.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

namespace lw {

// The magnitude of one sample; -32768 counts as 32767.
int16_t SampleMagnitude(int16_t sample);

// The largest magnitude in `samples` (0 when empty).
int16_t PeakMagnitude(std::span<const int16_t> samples);

// Peak level over consecutive windows of a fixed number of samples.
class LevelMeter {
 public:
  explicit LevelMeter(size_t window_samples);

  // Samples still missing from the current window: feed at most this many
  // at once to see each window's level right after its last sample.
  size_t Room() const { return window_ - count_; }

  // Takes `samples` (at most Room()); the peak of the window when this
  // completed it.
  std::optional<int16_t> Add(std::span<const int16_t> samples);

  void Reset();

 private:
  size_t window_;
  size_t count_ = 0;
  int16_t peak_ = 0;
};

// Leaves long quiet stretches out of a recording: the sound is judged in
// frames; a frame whose peak is below the silence level is quiet. The first
// `hang_frames` of every quiet stretch are kept (word endings, natural
// pauses), the rest of the stretch is left out.
class SilenceCutter {
 public:
  using Sink = std::function<void(std::span<const int16_t> samples)>;

  SilenceCutter(size_t frame_samples, int hang_frames, int32_t silence_level);

  // Passes on to `keep` every whole frame that stays.
  void Add(std::span<const int16_t> samples, const Sink& keep);

  // The unfinished last frame: sound the caller made or the start of a
  // quiet stretch, so it stays unless the stretch was already being cut.
  void Flush(const Sink& keep);

 private:
  size_t frame_samples_;
  int hang_frames_;
  int32_t silence_level_;
  std::vector<int16_t> frame_;
  int quiet_frames_ = 0;
};

}  // namespace lw
