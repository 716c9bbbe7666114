// Event sounds and spoken announcements on the computer: at an incoming
// call and when a call is over, a sound file from "\Sound\" on the sound
// player, an announcement filled from the current call, or the sound and
// then the announcement once the sound has ended. The call state machine
// decides when; with "chkDoEventsWhenGUI" on, nothing happens unless the
// desktop application was running when the options were read.
#pragma once

#include <string>

#include "call/call_line.h"
#include "call/speech_window.h"
#include "devices/wave.h"

namespace lw {

class EventSounds {
 public:
  // `speech` (the local voice) may be null: no announcements then.
  EventSounds(CallLine& line, SpeechWindow* speech)
      : line_(line), speech_(speech) {}

  // The wave control that plays on the sound device, made when the line
  // controller loads; none before (nothing is played).
  void SetPlayer(Wave* player) { player_ = player; }

  void PlayIncomingSound();
  void PlayDisconnectSound();
  // The beep of the line opening; its end announces nothing.
  void PlayLineOpenBeep(const std::string& file);

  // The player's PlayDone: the announcement of the event whose sound ended,
  // when one is on.
  void PlayDone();

 private:
  void PlayEvent(const char* event, bool play, const std::string& sound,
                 bool say, const std::string& say_text);
  void Announce(const std::string& text);

  CallLine& line_;
  SpeechWindow* speech_;
  Wave* player_ = nullptr;
  // One-shot: the next PlayDone belongs to the line-opening beep.
  bool modem_sound_control_ = false;
  // "PLAY_IC" or "PLAY_DC": the event whose sound started last.
  std::string LastSoundEvent_;
};

}  // namespace lw
