// The answering machine and playback into the call: the greeting, the beep
// and the voice message; the legal notice before a recorded conversation;
// the two ways of playing a file into the call. The end of each played file
// (Wave1's PlayDone) moves the sequence on.
#pragma once

#include <cstdint>
#include <string>

#include "line/line_state.h"

namespace lw {

// Plays one of the system's prompts (native path) into the call in the
// line format. 0 = playing. The result is journalled; a failure twice.
int32_t PlayToLine(LineState& s, const std::string& file);

// Plays a stored recording (native path) to the owner on the call, with a
// size value by the file's format tag, digit reports paused for the
// 2-second wait before it. 0 = playing; a failure is journalled.
int32_t PlayToAdminWave(LineState& s, const std::string& file);

// The size value of PlayToAdminWave for a format tag: 8000 PCM and mu-law,
// 1625 GSM 6.10, 800 TrueSpeech, 0 any other.
int32_t AdminPlaySizeValue(int16_t format_tag);

// The connected call goes to the answering machine: digits watched when
// remote access is allowed, the greeting played ("PlayGreet", NextStep
// "MESSAGE"); a greeting that cannot be played ends the call.
void PlayGreeting(LineState& s);

// The connected call is to be recorded after the legal notice: the notice
// played ("PlayLegalGreet"); one that cannot be played ends the call.
// Recording starts when the notice ends.
void PlayLegalNotice(LineState& s);

// PlayDone of Wave1: drops the call when the caller has gone, otherwise
// moves remote access, the recording after the notice or the answering
// machine on (greeting -> beep -> message).
void Wave1_PlayDone(LineState& s);

}  // namespace lw
