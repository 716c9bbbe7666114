// Recording calls and voice messages, the limits that end a recording, and
// `DropCall`, the one way every part of the line ends a call.
//
// All of these work on the line controller's state and run on the loop
// thread, called from the call state machine, the answering machine, the
// line commands and the three recording timers. None throws: a failed step
// is journalled (where the device says why) or passed over, and the next
// step runs.
#pragma once

#include <cstdint>

#include "line/line_state.h"

namespace lw {

// The size value of a recording by format index: 8000 (PCM, mu-law), 16000
// (GSM 6.10), 4800 (TrueSpeech), 0 for an index outside 0..3.
int32_t RecordSizeValue(int16_t format_index);

// Starts recording the current call into its day folder under the recording
// name rule, in the format of RecordFormatIndex. With bRecTheCall the call
// recording's extras follow (listening, digit watching, "RecCall", type
// "3", tone detection, length and silence limits); with bAnswerMachine the
// voice message's extras ("RecMessage", listening, type "2", its limits).
// A remote-access call is never recorded. The limits start even when the
// recording could not be started; the call then ends by them or by hang-up.
void StartCallRecording(LineState& s);

// After a greeting or notice: drops the call when the caller has gone,
// otherwise records the conversation in "cmbRecordFormatRec".
void ContinueAfterGreeting(LineState& s);

// Stops listening on the sound device and the recording (journalling the
// recording's result).
void StopRecMessage(LineState& s);

// Ends the call: the limit timers and the ring-gap timer off, the next
// answering step forgotten, playback and recording stopped, the line
// dropped ("Tapi.LineDrop(" journal line). Always reaches the hang-up. The
// wrap-up follows from the telephony control's Idle event; when the line
// refuses the hang-up no Idle comes, and the call is wrapped up here.
void DropCall(LineState& s);

// The ticks of the three recording timers and the level report of Wave1.
void tmrRecLong_Timer(LineState& s);
void tmrSilence_Timer(LineState& s);
void tmrRecFreqCounter_Timer(LineState& s);
void Wave1_LevelReport(LineState& s, int16_t level);

}  // namespace lw
