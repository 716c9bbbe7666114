// What the process controller and the line controller ask of the speech
// window `SpeechController`: it owns the local voice, which speaks on the
// computer's sound device, and handles the desktop application's speech
// commands (channel 106). The process controller loads it during its own
// loading and unloads it last; the window outlives both controllers' use of it.
#pragma once

#include <cstdint>
#include <string>

namespace lw {

class SpeechWindow {
 public:
  virtual ~SpeechWindow() = default;

  // Creates the voice and lists the installed voices in the settings.
  virtual void Load() = 0;
  virtual void Unload() = 0;

  // One whole message of the speech channel: "TestTTSSay", "Say", "StopSay"
  // or "MakeWave" with its CR LF separated lines; anything else is ignored.
  virtual void HandleMessage(const std::string& text,
                             int32_t sound_device_index) = 0;

  // The window's public operations, used by the line controller for event
  // announcements and the speech options.
  virtual void SpeakIt(const std::string& text, int32_t device_index) = 0;
  virtual void StopSpeak() = 0;
  virtual void TTSSetVoice(int32_t voice) = 0;
  virtual void SetRate(int16_t rate) = 0;
};

}  // namespace lw
