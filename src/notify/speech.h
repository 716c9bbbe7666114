// The speech window `SpeechController`: owns the local voice, which speaks on
// the computer's sound device (spoken event announcements and the desktop
// application's speech commands on channel 106), and keeps the list of
// installed voices in the settings under "TTS51" for the desktop
// application to offer.
//
// Every failure inside its operations (no voice installed, an index out of
// range, a file that cannot be written) is passed over silently: the caller
// goes on as if the text had been spoken. Speech commands whose lines are
// missing or not numbers are ignored with one journal line each.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "call/speech_window.h"
#include "devices/devices.h"
#include "devices/settings_store.h"
#include "journal/journal.h"
#include "settings/registry_routines.h"

namespace lw {

// The settings section that lists the installed voices.
inline constexpr const char* kVoiceListSection = "TTS51";

class SpeechController : public SpeechWindow {
 public:
  // Everything referred to outlives the window.
  SpeechController(const Devices& devices, SettingsStore& store,
                   Journal& journal);
  ~SpeechController() override;
  SpeechController(const SpeechController&) = delete;
  SpeechController& operator=(const SpeechController&) = delete;

  // Loading: the "TTS51" section (created when missing), the voice, and
  // one empty REG_SZ value per installed voice named by its description,
  // in the engine's order.
  void Load() override;
  // Cuts off any speech and releases the voice.
  void Unload() override;
  bool loaded() const { return Voice_ != nullptr; }

  // A message of the speech channel: "TestTTSSay" (text, voice index,
  // rate), "Say" (text), "StopSay", "MakeWave" (text, file path).
  void HandleMessage(const std::string& text,
                     int32_t sound_device_index) override;

  // Speaks `text` on sound device DeviceIndex, cutting off whatever the
  // voice is still speaking.
  void SpeakIt(const std::string& text, int32_t DeviceIndex) override;
  // Whatever is being spoken stops at once.
  void StopSpeak() override;
  // The voice := entry `voice` of the installed voices.
  void TTSSetVoice(int32_t voice) override;
  // The speaking rate, -10 .. 10.
  void SetRate(int16_t rate) override;
  // Writes `text` as speech into `file` (8 kHz 16-bit mono) and returns
  // when the file is complete; then selects sound device `device_index` again.
  // Nothing happens when `text` is empty.
  void SaveTextToWav(const std::string& text, const std::string& file,
                     int32_t device_index);

 private:
  void SetOutput(int32_t index);
  void SpeakText(const std::string& text);
  void Voice_EndStream();
  // One journal line for a speech command that cannot be carried out.
  void RejectCommand(const std::string& command);

  const Devices& devices_;
  Journal& journal_;
  RegistryRoutines reg_;
  std::unique_ptr<Voice> Voice_;
};

}  // namespace lw
