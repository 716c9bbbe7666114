// A speech voice for tests: logs what it was asked to do, ends a text when
// the test says so (FinishSpeaking) or after a scripted virtual duration,
// and writes a marker file for SaveTextToWav. Settings are only logged: the
// speech window ignores their results.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devices/clock.h"
#include "devices/voice.h"

namespace lw {

class FakeVoice : public Voice {
 public:
  // `voices`: descriptions of the installed voices.
  FakeVoice(Clock& clock, std::vector<std::string> voices)
      : voices_(std::move(voices)),
        timer_(clock.CreateTimer([this] { FinishSpeaking(); })) {}

  void SetEvents(VoiceEvents events) override { events_ = std::move(events); }
  std::vector<std::string> GetVoices() override { return voices_; }
  int32_t SetVoice(int32_t index) override { return Log("SetVoice", index); }
  void SetRate(int32_t rate) override {
    rate_ = rate;
    Log("SetRate", rate);
  }
  int32_t Rate() override { return rate_; }
  int32_t SetOutput(int32_t index) override { return Log("SetOutput", index); }
  int32_t SetLineOutput(int32_t device) override {
    return Log("SetLineOutput", device);
  }
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

 private:
  // Logs "op(n)"; 0 for the setters to return.
  int32_t Log(const char* op, int32_t n) {
    ops_.push_back(std::string(op) + "(" + std::to_string(n) + ")");
    return 0;
  }

  std::vector<std::string> voices_;
  VoiceEvents events_;
  std::unique_ptr<Timer> timer_;
  std::vector<std::string> ops_;
  std::vector<std::string> spoken_;
  uint32_t speak_ms_ = 0;
  int32_t rate_ = 0;
  bool speaking_ = false;
};

}  // namespace lw
