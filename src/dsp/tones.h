// Tones and touch-tone digits in 8 kHz 16-bit line sound, on the spandsp
// detectors: for lines without their own digit detection (a voice modem
// without digit reports, a SIP call without RFC 4733 events) and for
// listening for a single tone (fax calling tone, busy tone).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace lw {

// Touch-tone digits ('0'-'9', '*', '#', 'A'-'D'), each reported once when
// it is recognised.
class DigitDetector {
 public:
  using Handler = std::function<void(char digit)>;

  explicit DigitDetector(Handler handler);
  ~DigitDetector();
  DigitDetector(const DigitDetector&) = delete;
  DigitDetector& operator=(const DigitDetector&) = delete;

  void Add(std::span<const int16_t> samples);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// One tone of a given frequency: reports `true` once it has sounded for
// `min_ms`, and `false` once it has stopped after that.
class ToneDetector {
 public:
  using Handler = std::function<void(bool present)>;

  ToneDetector(float frequency_hz, int min_ms, Handler handler);
  ~ToneDetector();
  ToneDetector(const ToneDetector&) = delete;
  ToneDetector& operator=(const ToneDetector&) = delete;

  void Add(std::span<const int16_t> samples);
  bool present() const { return present_; }

 private:
  void EndBlock();

  struct State;
  std::unique_ptr<State> state_;
  Handler handler_;
  int min_blocks_;
  int block_fill_ = 0;
  double block_energy_ = 0;
  int tone_blocks_ = 0;
  bool present_ = false;
};

}  // namespace lw
