#include "devices/fake/fake_voice.h"

#include <algorithm>

#include "devices/fake/fake_wave.h"

namespace lw {

FakeVoice::FakeVoice(Clock& clock, std::vector<std::string> voices)
    : clock_(clock), voices_(std::move(voices)) {
  timer_ = clock_.CreateTimer([this] {
    timer_->SetEnabled(false);
    FinishSpeaking();
  });
}

FakeVoice::~FakeVoice() = default;

int32_t FakeVoice::SetVoice(int32_t index) {
  ops_.push_back("SetVoice(" + std::to_string(index) + ")");
  if (index < 0 || index >= static_cast<int32_t>(voices_.size())) {
    return kFakeVoiceBadIndex;
  }
  voice_ = index;
  return 0;
}

void FakeVoice::SetRate(int32_t rate) {
  ops_.push_back("SetRate(" + std::to_string(rate) + ")");
  rate_ = std::clamp(rate, kVoiceRateMin, kVoiceRateMax);
}

int32_t FakeVoice::SetOutput(int32_t index) {
  ops_.push_back("SetOutput(" + std::to_string(index) + ")");
  if (index < 0) return kFakeVoiceBadIndex;
  output_ = index;
  to_line_ = false;
  return 0;
}

int32_t FakeVoice::SetLineOutput(int32_t wave_out_device) {
  ops_.push_back("SetLineOutput(" + std::to_string(wave_out_device) + ")");
  if (wave_out_device < 0) return kFakeVoiceBadIndex;
  output_ = wave_out_device;
  to_line_ = true;
  return 0;
}

int32_t FakeVoice::Speak(const std::string& text) {
  ops_.push_back("Speak(" + text + ")");
  // Whatever is being spoken is cut off, without its EndStream.
  speaking_ = false;
  timer_->SetEnabled(false);
  if (text.empty()) return 0;
  if (voices_.empty()) return kFakeVoiceNone;
  spoken_.push_back(text);
  speaking_ = true;
  if (speak_ms_ > 0) {
    timer_->SetInterval(speak_ms_);
    timer_->SetEnabled(true);
  }
  return 0;
}

bool FakeVoice::FinishSpeaking() {
  if (!speaking_) return false;
  speaking_ = false;
  timer_->SetEnabled(false);
  if (events_.EndStream) events_.EndStream();
  return true;
}

int32_t FakeVoice::SaveTextToWav(const std::string& text,
                                 const std::string& file) {
  ops_.push_back("SaveTextToWav(" + text + "," + file + ")");
  if (voices_.empty()) return kFakeVoiceNone;
  return WriteMarkerFile(file, text) ? 0 : kFakeVoiceCannotWrite;
}

}  // namespace lw
