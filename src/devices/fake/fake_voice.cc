#include "devices/fake/fake_voice.h"

#include "devices/fake/fake_wave.h"

namespace lw {

int32_t FakeVoice::Speak(const std::string& text) {
  ops_.push_back("Speak(" + text + ")");
  // Whatever is being spoken is cut off, without its EndStream.
  speaking_ = !text.empty();
  timer_->SetEnabled(false);
  if (speaking_) spoken_.push_back(text);
  if (speaking_ && speak_ms_ > 0) {
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
  return WriteMarkerFile(file, text) ? 0 : 1;
}

}  // namespace lw
