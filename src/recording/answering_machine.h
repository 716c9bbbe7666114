// The answering machine and playback into the call: the greeting, the beep
// and the voice message; the legal notice before a recorded conversation;
// playing a stored recording to the owner. The end of each played file
// (the line wave's PlayDone) moves the sequence on.
#pragma once

#include <cstdint>
#include <string>

#include "call/call_line.h"
#include "recording/call_recording.h"

namespace lw {

// The size value of PlayToAdminWave for a format tag: 8000 PCM and mu-law,
// 1625 GSM 6.10, 800 TrueSpeech, 0 any other.
int32_t AdminPlaySizeValue(int16_t format_tag);

// Plays a stored recording (native path) to the owner on the call, with a
// size value by the file's format tag, digit reports paused for the
// 2-second wait before it. 0 = playing; a failure is journalled.
int32_t PlayToAdminWave(CallLine& line, const std::string& file);

class AnsweringMachine {
 public:
  AnsweringMachine(CallLine& line, CallRecorder& recorder)
      : line_(line), recorder_(recorder) {}

  // The connected call goes to the answering machine: digits watched when
  // remote access is allowed, the greeting played ("PlayGreet"); a greeting
  // that cannot be played ends the call.
  void PlayGreeting();

  // The connected call is to be recorded after the legal notice: the notice
  // played ("PlayLegalGreet"); one that cannot be played ends the call.
  // Recording starts when the notice ends.
  void PlayLegalNotice();

  // A file played into an answered call has ended: greeting -> beep ->
  // message recorded; the call dropped after the greeting when messages are
  // not recorded.
  void PlayDone();

  // The call is over: the next step is forgotten.
  void Reset() { NextStep_.clear(); }

 private:
  void RecordMessage();

  CallLine& line_;
  CallRecorder& recorder_;
  // "MESSAGE" while the greeting plays, "BEEP" while the beep plays, empty
  // otherwise.
  std::string NextStep_;
};

}  // namespace lw
