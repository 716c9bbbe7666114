// Event sounds and spoken announcements on the computer: at an incoming
// call and when a call is over, a sound file from "\Sound\" on WavePlayer,
// an announcement filled from the current call, or the sound and then the
// announcement once the sound has ended. The call state machine decides
// when; with "chkDoEventsWhenGUI" on, nothing happens unless the desktop
// application was running when the options were read.
#pragma once

#include "line/line_state.h"

namespace lw {

void PlayIncomingSound(LineState& s);
void PlayDisconnectSound(LineState& s);

// PlayDone of WavePlayer: the beep of the line opening is passed over once
// (bModemSoundControl); otherwise the announcement of the event whose sound
// ended follows, when one is on.
void WavePlayer_PlayDone(LineState& s);

}  // namespace lw
