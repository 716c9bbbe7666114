// A speech voice for tests: keeps what it was asked to speak and where,
// ends a text when the test says so (FinishSpeaking) or after a scripted
// virtual duration, and writes real 8 kHz 16-bit mono wave files of silence
// for SaveTextToWav.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devices/clock.h"
#include "devices/voice.h"

namespace lw {

inline constexpr int32_t kFakeVoiceNone = 301;      // no voice installed
inline constexpr int32_t kFakeVoiceBadIndex = 302;  // voice or output index
inline constexpr int32_t kFakeVoiceCannotWrite = 303;

class FakeVoice : public Voice {
 public:
  // `voices`: descriptions of the installed voices (may be empty).
  FakeVoice(Clock& clock, std::vector<std::string> voices);
  ~FakeVoice() override;

  void SetEvents(VoiceEvents events) override { events_ = std::move(events); }
  std::vector<std::string> GetVoices() override { return voices_; }
  int32_t SetVoice(int32_t index) override;
  void SetRate(int32_t rate) override;
  int32_t Rate() override { return rate_; }
  int32_t SetOutput(int32_t index) override;
  int32_t SetLineOutput(int32_t wave_out_device) override;
  int32_t Speak(const std::string& text) override;
  bool IsSpeaking() override { return speaking_; }
  int32_t SaveTextToWav(const std::string& text,
                        const std::string& file) override;

  // --- Script.
  // The text being spoken ends: EndStream at once. False when silent.
  bool FinishSpeaking();
  // Texts end by themselves this long after Speak (0 = only by
  // FinishSpeaking, the default).
  void set_speak_ms(uint32_t ms) { speak_ms_ = ms; }

  // --- Observation.
  // "SetVoice(1)", "SetRate(-3)", "SetOutput(0)", "SetLineOutput(2)",
  // "Speak(text)", "SaveTextToWav(text,file)", in order.
  const std::vector<std::string>& ops() const { return ops_; }
  void ClearOps() { ops_.clear(); }
  // The non-empty texts that started speaking, in order.
  const std::vector<std::string>& spoken() const { return spoken_; }
  int32_t voice() const { return voice_; }
  // Where speech goes: a sound device or the line's wave-out endpoint.
  bool to_line() const { return to_line_; }
  int32_t output() const { return output_; }

 private:
  Clock& clock_;
  std::vector<std::string> voices_;
  VoiceEvents events_;
  std::unique_ptr<Timer> timer_;
  std::vector<std::string> ops_;
  std::vector<std::string> spoken_;
  uint32_t speak_ms_ = 0;
  int32_t voice_ = 0;
  int32_t rate_ = 0;
  int32_t output_ = 0;
  bool to_line_ = false;
  bool speaking_ = false;
};

}  // namespace lw
