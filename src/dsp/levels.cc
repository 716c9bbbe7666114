#include "dsp/levels.h"

#include <algorithm>
#include <cstdlib>

namespace lw {

int16_t SampleMagnitude(int16_t sample) {
  return sample == INT16_MIN ? INT16_MAX
                             : static_cast<int16_t>(std::abs(sample));
}

int16_t PeakMagnitude(std::span<const int16_t> samples) {
  int16_t peak = 0;
  for (int16_t s : samples) peak = std::max(peak, SampleMagnitude(s));
  return peak;
}

LevelMeter::LevelMeter(size_t window_samples)
    : window_(std::max<size_t>(window_samples, 1)) {}

std::optional<int16_t> LevelMeter::Add(std::span<const int16_t> samples) {
  samples = samples.first(std::min(samples.size(), Room()));
  peak_ = std::max(peak_, PeakMagnitude(samples));
  count_ += samples.size();
  if (count_ < window_) return std::nullopt;
  int16_t level = peak_;
  Reset();
  return level;
}

void LevelMeter::Reset() {
  count_ = 0;
  peak_ = 0;
}

SilenceCutter::SilenceCutter(size_t frame_samples, int hang_frames,
                             int32_t silence_level)
    : frame_samples_(std::max<size_t>(frame_samples, 1)),
      hang_frames_(hang_frames),
      silence_level_(silence_level) {
  frame_.reserve(frame_samples_);
}

void SilenceCutter::Add(std::span<const int16_t> samples, const Sink& keep) {
  while (!samples.empty()) {
    size_t n = std::min(samples.size(), frame_samples_ - frame_.size());
    frame_.insert(frame_.end(), samples.begin(),
                  samples.begin() + static_cast<std::ptrdiff_t>(n));
    samples = samples.subspan(n);
    if (frame_.size() < frame_samples_) return;
    if (PeakMagnitude(frame_) < silence_level_) {
      ++quiet_frames_;
    } else {
      quiet_frames_ = 0;
    }
    if (quiet_frames_ <= hang_frames_) keep(frame_);
    frame_.clear();
  }
}

void SilenceCutter::Flush(const Sink& keep) {
  if (!frame_.empty() && quiet_frames_ < hang_frames_) keep(frame_);
  frame_.clear();
}

}  // namespace lw
