// A wave file read as a stream of 16-bit mono samples at a chosen rate:
// any coding the sound library decodes (PCM of 8 to 32 bits, float, mu-law,
// A-law, GSM 6.10, ADPCM), any rate, any number of channels. Channels are
// mixed down to one; the rate is converted with a streaming resampler, so a
// file of any length is played with a small, fixed amount of memory.
#pragma once

#include <sndfile.h>

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace lw {

// A sound file opened for reading on a descriptor made through the process's
// reserve, so a greeting or a recording still opens when the process is out
// of descriptors.
SNDFILE* OpenSoundFile(const std::string& path, SF_INFO* info);

class SoundFileSource {
 public:
  enum class OpenError { kNone, kNotFound, kNotWave, kConversion };

  // Opens `path`. `rate` is the rate to deliver, 0 for the file's own.
  // Empty on failure, with the reason in `error`.
  static std::unique_ptr<SoundFileSource> Open(const std::string& path,
                                               int rate, OpenError& error);
  ~SoundFileSource();
  SoundFileSource(const SoundFileSource&) = delete;
  SoundFileSource& operator=(const SoundFileSource&) = delete;

  // The rate of the delivered samples.
  int rate() const { return out_rate_; }
  // Fills `out` from the start; returns how many samples were filled, fewer
  // than asked only at the end of the sound (0 once it is over). A file
  // that turns out damaged part-way ends there.
  size_t Read(std::span<int16_t> out);

 private:
  struct Handles;
  SoundFileSource() = default;
  // Decodes the next stretch of the file into `ready_`; false at the end.
  bool Refill();

  std::unique_ptr<Handles> h_;
  int channels_ = 1;
  int in_rate_ = 8000;
  int out_rate_ = 8000;
  // Frames still to read: the fact chunk's count where it is shorter than
  // the data (GSM 6.10 with an odd number of blocks).
  int64_t frames_left_ = 0;
  bool input_done_ = false;
  bool flushed_ = false;
  std::vector<float> frames_;
  std::vector<float> mono_;
  std::vector<float> resampled_;
  std::vector<int16_t> ready_;
  size_t ready_pos_ = 0;
};

}  // namespace lw
