#include "recording/event_sounds.h"

#include <string>

#include "base/paths.h"
#include "base/trapped.h"
#include "line/line_messages.h"

namespace lw {

namespace {

constexpr int32_t kSoundSizeValue = 8000;

// The template is filled when it is spoken, so an announcement after a
// sound tells the call as it stands at the sound's end.
void Announce(LineState& s, const std::string& text) {
  if (s.speech == nullptr) return;
  s.speech->SpeakIt(FillForCall(s, text), s.process.SoundDeviceIndex);
}

void PlayEvent(LineState& s, const char* event, bool play,
               const std::string& sound, bool say,
               const std::string& say_text) {
  Trapped(s.journal, "PlayEventSound", [&] {
    const ProcessWideOptions& p = s.process.Options;
    if (p.DoEventsWhenGUI && !p.GUIRunning) return;
    if (play) {
      s.LastSoundEvent = event;
      // The result is not acted on: the announcement waits for the sound's
      // end either way.
      s.WavePlayer->PlayFile(
          NativePathNoCase(s.process.AppPath, "\\Sound\\" + sound),
          s.process.SoundDeviceIndex, kSoundSizeValue);
    } else if (say) {
      Announce(s, say_text);
    }
  });
}

}  // namespace

void PlayIncomingSound(LineState& s) {
  const CallOptions& o = s.Options;
  PlayEvent(s, "PLAY_IC", o.bPlaySound_IC, o.sPlaySound_IC, o.bSay_IC,
            o.sSay_IC);
}

void PlayDisconnectSound(LineState& s) {
  const CallOptions& o = s.Options;
  PlayEvent(s, "PLAY_DC", o.bPlaySound_DC, o.sPlaySound_DC, o.bSay_DC,
            o.sSay_DC);
}

void WavePlayer_PlayDone(LineState& s) {
  if (s.bModemSoundControl) {
    s.bModemSoundControl = false;
    return;
  }
  Trapped(s.journal, "WavePlayer_PlayDone", [&] {
    const CallOptions& o = s.Options;
    if (s.LastSoundEvent == "PLAY_IC" && o.bSay_IC) Announce(s, o.sSay_IC);
    if (s.LastSoundEvent == "PLAY_DC" && o.bSay_DC) Announce(s, o.sSay_DC);
  });
}

}  // namespace lw
