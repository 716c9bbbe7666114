// Screening of unknown callers ("chkScreenUnknown"): before the answering
// machine greets a caller who matches no contact, the line voice speaks the
// prompt ("txtScreenPrompt") and the caller has "txtScreenSeconds" after it
// to key the screen digit ("cmbScreenDigit"). The digit goes on to the
// greeting and the message; another key, silence until the time is up or a
// hang-up ends the call, which is stored as unanswered with the description
// "Screened" and never forwarded (PerCall::MayBeForwarded).
//
// Keys toward the remote-access code are taken during the prompt as during
// the greeting (RemoteAccess decides, as it holds the keys typed), so the
// owner calling from an unknown number still reaches remote access.
//
// Everything runs on the loop thread.
#pragma once

#include <memory>
#include <string>

#include "call/call_line.h"
#include "devices/clock.h"
#include "recording/answering_machine.h"

namespace lw {

// The description of a screened call. A fixed text: the translation file's
// twenty lines all have their roles.
inline constexpr const char* kScreenedDescription = "Screened";

class CallScreening {
 public:
  CallScreening(CallLine& line, AnsweringMachine& machine, Clock& clock);
  CallScreening(const CallScreening&) = delete;
  CallScreening& operator=(const CallScreening&) = delete;

  // The connected call goes to the answering machine: a caller who matches
  // no contact is screened first when screening is on, anybody else is
  // greeted at once. A prompt that cannot be spoken is journalled and the
  // caller greeted rather than lose a message.
  void GreetOrScreen();

  // The caller is held at the prompt.
  bool holding() const { return line_.call().screened && holding_; }

  // The caller keyed the screen digit: the prompt stops, the greeting
  // plays.
  void Pass();
  // The caller failed the screening: the call ends as screened.
  void Fail(const std::string& why);
  // The caller has the whole time again (a key toward the access code).
  void RestartTime();
  // The caller became the owner (the access code): nothing is screened.
  void Release();

  // The line voice has spoken its text to the end: the time begins.
  void SpeechEnded();
  // The call is over.
  void CallEnded();

 private:
  void OnTimeout();

  CallLine& line_;
  AnsweringMachine& machine_;
  std::unique_ptr<Timer> timer_;
  bool holding_ = false;
  // The description the call had before it was held.
  std::string description_;
};

}  // namespace lw
