// Remote access by telephone keypad, and the line's keypad digit handler.
//
// The owner calls the line and is let in either by the caller number (the
// call state has set remote_access_call at caller identification and answered)
// or by typing the access code and the confirm digit while the answering
// machine takes the call. The dialogue then speaks the welcome with the
// counts of the latest-call list and, for each entry, a text before it, the
// recording itself and a text after it; keys move between the entries,
// replay, delete or end the call.
//
// The dialogue's stage ("Wellcome", "BeforeCall", "AfterCall") moves on
// only at the end of what is spoken or played, and only while bRCMenu is
// set: a key clears it and stops all sound first, so the end of a text it
// cut off leads nowhere. Stage and bRCMenu are cleared when a call ends, so
// the end of a text in a later call never runs an old step. The position in
// the list and its counts live on from one call to the next.
//
// Everything runs on the loop thread; a failure inside a handler is
// journalled under the handler's name and the call goes on.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "call/call_line.h"
#include "callstore/call_store.h"
#include "devices/clock.h"
#include "recording/answering_machine.h"
#include "recording/call_recording.h"
#include "recording/call_screening.h"

namespace lw {

// The text spoken after a wrong access code.
inline constexpr const char* kWrongCodeText =
    "Error password, please try again.";

class RemoteAccess {
 public:
  RemoteAccess(CallLine& line, AnsweringMachine& machine,
               CallRecorder& recorder, CallScreening& screening, Clock& clock);
  RemoteAccess(const RemoteAccess&) = delete;
  RemoteAccess& operator=(const RemoteAccess&) = delete;

  // The connected call is a remote-access call (by caller number, or the
  // access code was just typed): the answering machine stops, and after a
  // second the welcome is spoken.
  void Start();

  // The line voice has spoken its text to the end.
  void Voice_EndStream();
  // A recording played to the owner has ended.
  void PlayDone();
  // A keypad digit of the far end: journalled and told to the desktop
  // application; then a key of the dialogue, or a key at the screening
  // prompt, or the answering machine's drop digit, or a digit of the access
  // code.
  void MonitorDigit(const std::string& digit);

  // The call is over: the dialogue, the access code and its timer are
  // forgotten, and the line voice falls silent.
  void CallEnded();

 private:
  // Speaks the text of the current stage (RCStage_); past the end of the
  // list the call ends instead.
  void SpeakRemoteStage();
  // Hands `text` to the line voice. When nothing can be heard (an empty
  // text, no voice) the dialogue goes on from the loop as if it had been
  // spoken.
  void SpeakStageText(const std::string& text);
  // The entry at current_entry_ into RCCallInfo_, marked read; an entry gone
  // from the list leaves RCCallInfo_ empty.
  void ReadCurrentEntry();
  // A key of the dialogue; the first that matches in the order close,
  // delete, first, next, previous, play acts.
  void DialogueKey(const std::string& digit);
  // A key while the caller is held at the screening prompt.
  void ScreeningDigit(const std::string& digit);
  // A digit toward the access code, or its confirm digit.
  void AccessCodeDigit(const std::string& digit);
  // What the answering machine was doing ends: the greeting or beep, the
  // message's recording (the part recorded so far is kept) and its limits.
  void StopAnswering();
  // remote_menu_active_ cleared, all sound stopped, the call dropped.
  void EndCall();
  void OnAccessCodeTimeout();

  CallLine& line_;
  AnsweringMachine& machine_;
  CallRecorder& recorder_;
  CallScreening& screening_;
  Clock& clock_;
  // 1 s; counts the seconds after a wrong access code.
  std::unique_ptr<Timer> access_code_timer_;

  std::string RCStage_;
  bool remote_menu_active_ = false;
  CallCounts counts_;  // NumOfCalls, NumOfMessages, NumOfNewCalls, ...
  int32_t current_entry_ = 0;
  CallInfo RCCallInfo_;
  int32_t AfterCallCount_ = 0;
  std::string EnteredDigits_;
  int32_t PasswordFailures_ = 0;
  int32_t PassTicks_ = 0;

  // Counts the stage texts handed over; an end posted for a text that could
  // not be spoken runs only while no other text has followed it.
  uint64_t texts_ = 0;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
