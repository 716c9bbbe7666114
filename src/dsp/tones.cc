#include "dsp/tones.h"

#include <spandsp.h>

#include <algorithm>
#include <utility>

namespace lw {
namespace {

constexpr int kSampleRate = 8000;
// The tone detector judges blocks of 20 ms.
constexpr int kToneBlockSamples = 160;
// A block holds the tone when the tone carries at least this share of its
// energy and the block is louder than about -40 dBm0 (an amplitude of ~300).
constexpr double kToneShare = 0.6;
constexpr double kMinBlockEnergy = kToneBlockSamples * 300.0 * 300.0 / 2;

}  // namespace

struct DigitDetector::State {
  explicit State(Handler h) : handler(std::move(h)) {
    rx = dtmf_rx_init(nullptr, &State::OnDigits, this);
  }
  ~State() {
    if (rx != nullptr) dtmf_rx_free(rx);
  }
  static void OnDigits(void* user, const char* digits, int len) {
    auto* self = static_cast<State*>(user);
    for (int i = 0; i < len; ++i) {
      if (self->handler) self->handler(digits[i]);
    }
  }
  Handler handler;
  dtmf_rx_state_t* rx = nullptr;
};

DigitDetector::DigitDetector(Handler handler)
    : state_(std::make_unique<State>(std::move(handler))) {}

DigitDetector::~DigitDetector() = default;

void DigitDetector::Add(std::span<const int16_t> samples) {
  if (state_->rx == nullptr) return;
  // The detector takes int counts; line blocks are far smaller.
  while (!samples.empty()) {
    size_t n = std::min<size_t>(samples.size(), 8000);
    dtmf_rx(state_->rx, samples.data(), static_cast<int>(n));
    samples = samples.subspan(n);
  }
}

struct ToneDetector::State {
  goertzel_descriptor_t descriptor{};
  goertzel_state_t goertzel{};
};

ToneDetector::ToneDetector(float frequency_hz, int min_ms, Handler handler)
    : state_(std::make_unique<State>()),
      handler_(std::move(handler)),
      min_blocks_(
          std::max(1, min_ms * kSampleRate / 1000 / kToneBlockSamples)) {
  make_goertzel_descriptor(&state_->descriptor, frequency_hz,
                           kToneBlockSamples);
  goertzel_init(&state_->goertzel, &state_->descriptor);
}

ToneDetector::~ToneDetector() = default;

void ToneDetector::Add(std::span<const int16_t> samples) {
  while (!samples.empty()) {
    size_t n = std::min<size_t>(
        samples.size(), static_cast<size_t>(kToneBlockSamples - block_fill_));
    for (int16_t s : samples.first(n))
      block_energy_ += static_cast<double>(s) * s;
    goertzel_update(&state_->goertzel, samples.data(), static_cast<int>(n));
    block_fill_ += static_cast<int>(n);
    samples = samples.subspan(n);
    if (block_fill_ == kToneBlockSamples) EndBlock();
  }
}

void ToneDetector::EndBlock() {
  // For a pure tone in the middle of the bin the detector's result is N
  // times the block's energy (N samples), so the share is about 1.
  double power = goertzel_result(&state_->goertzel);
  double share =
      block_energy_ > 0 ? power / (kToneBlockSamples * block_energy_) : 0;
  bool tone = block_energy_ >= kMinBlockEnergy && share >= kToneShare;
  block_fill_ = 0;
  block_energy_ = 0;
  if (tone) {
    tone_blocks_ = std::min(tone_blocks_ + 1, min_blocks_);
    if (tone_blocks_ == min_blocks_ && !present_) {
      present_ = true;
      if (handler_) handler_(true);
    }
  } else {
    tone_blocks_ = 0;
    if (present_) {
      present_ = false;
      if (handler_) handler_(false);
    }
  }
}

}  // namespace lw
