#include "recording/event_sounds.h"

#include <string>

#include "base/paths.h"
#include "base/trapped.h"

namespace lw {

namespace {

constexpr int32_t kSoundSizeValue = 8000;

}  // namespace

// The template is filled when it is spoken, so an announcement after a
// sound tells the call as it stands at the sound's end.
void EventSounds::Announce(const std::string& text) {
  if (speech_ == nullptr) return;
  speech_->SpeakIt(line_.FillForCall(text), line_.process().SoundDeviceIndex);
}

void EventSounds::PlayEvent(const char* event, bool play,
                            const std::string& sound, bool say,
                            const std::string& say_text) {
  Trapped(line_.journal(), "PlayEventSound", [&] {
    const ProcessState& process = line_.process();
    const ProcessWideOptions& p = process.Options;
    if (p.DoEventsWhenGUI && !p.GUIRunning) return;
    if (play) {
      if (player_ == nullptr) return;
      LastSoundEvent_ = event;
      // The result is not acted on: the announcement waits for the sound's
      // end either way.
      player_->PlayFile(NativePathNoCase(process.AppPath, "\\Sound\\" + sound),
                        process.SoundDeviceIndex, kSoundSizeValue);
    } else if (say) {
      Announce(say_text);
    }
  });
}

void EventSounds::PlayIncomingSound() {
  const CallOptions& o = line_.options();
  PlayEvent("PLAY_IC", o.play_sound_on_incoming, o.incoming_sound,
            o.say_on_incoming, o.incoming_text);
}

void EventSounds::PlayDisconnectSound() {
  const CallOptions& o = line_.options();
  PlayEvent("PLAY_DC", o.play_sound_on_disconnect, o.disconnect_sound,
            o.say_on_disconnect, o.disconnect_text);
}

void EventSounds::PlayLineOpenBeep(const std::string& file) {
  if (player_ == nullptr) return;
  // Only a beep that plays has an end to pass over; a failed one must not
  // swallow the end of the next event sound.
  modem_sound_control_ =
      player_->PlayFile(file, line_.process().SoundDeviceIndex) == 0;
}

void EventSounds::PlayDone() {
  if (modem_sound_control_) {
    modem_sound_control_ = false;
    return;
  }
  const CallOptions& o = line_.options();
  if (LastSoundEvent_ == "PLAY_IC" && o.say_on_incoming)
    Announce(o.incoming_text);
  if (LastSoundEvent_ == "PLAY_DC" && o.say_on_disconnect)
    Announce(o.disconnect_text);
}

}  // namespace lw
