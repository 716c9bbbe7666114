// What the parts that act on a call see of the line: the call in progress
// with what has been decided about it (PerCall), the options, the call store
// and the journal, the line's devices, and the few things a part may do to
// the call (drop it, play or speak into it, send to the desktop
// application). The line controller implements it; the call
// recorder, the answering machine, the event sounds and forwarding use it,
// as does any other part that acts on a call.
//
// Everything runs on the loop thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "call/process_state.h"
#include "callstore/call_store.h"
#include "devices/clock.h"
#include "devices/telephony.h"
#include "devices/wave.h"
#include "journal/journal.h"
#include "settings/call_options.h"

namespace lw {

// The channel numbers of the line controller's five ends.
inline constexpr int32_t kChannelOut = 107;       // line state, calls
inline constexpr int32_t kChannelIn = 108;        // line commands
inline constexpr int32_t kChannelCallerID = 109;  // caller identification
inline constexpr int32_t kChannelIdle = 110;      // end of a call
inline constexpr int32_t kChannelMail = 111;      // mail requests

// Switches a timer off or on; a timer not yet made (null) is left alone.
inline void TimerOff(Timer* timer) {
  if (timer != nullptr && timer->Enabled()) timer->SetEnabled(false);
}
inline void TimerOn(Timer* timer) {
  if (timer != nullptr && !timer->Enabled()) timer->SetEnabled(true);
}

// Stops what `wave` plays, then what it records.
inline void StopPlayAndRecord(Wave& wave) {
  if (wave.IsPlaying()) wave.StopPlay();
  if (wave.IsRecording()) wave.StopRecord();
}

// The state of one call, made afresh (`= {}`) when a call begins (offered or
// placed). What outlives a call (in_call, the call count for the
// every-N-th recording) belongs to the line controller.
struct PerCall {
  // Caller, date and time, recording name, length, contact, type;
  // description, contact digit, absolute day folder.
  CurrentCall Call;

  // An extension picking up starts a recording (the ring gap tells).
  bool record_if_picked_up = false;
  bool recording_call = false;  // the line was taken to record the talk
  bool machine_answers = false;
  bool block_call = false;          // take the line and hang up at once
  bool ignore_call = false;         // leave the call alone
  bool remote_access_call = false;  // the owner calls in (no latest-call entry)
  bool record_call_out = false;     // an outgoing call placed with recording
  bool contact_matched = false;     // the caller matched a contact
  // The caller was looked up in the contacts: at the caller identification,
  // or as "UNKNOWN" when none had come by the second ring or the answer.
  bool caller_looked_up = false;
  std::string contact_text{};  // the matched contact's second text field
  // The caller matched no contact and has not passed the screening: held
  // at the prompt, or ended there. Such a call is stored as "Screened".
  bool screened = false;

  // Whether the call may be passed on once it is over (mail, a program, any
  // other notification): every way of forwarding asks this first. A
  // screened caller is never forwarded.
  bool MayBeForwarded() const { return !screened; }
  // The call has begun and is not yet wrapped up. Every call is wrapped up
  // exactly once: after the telephony control's Idle, or, where no Idle
  // follows (the line closing during the call, a hang-up the device
  // refused), at once when the call is dropped.
  bool wrap_up_due = false;

  int32_t RingGapTicks = 0;  // 100 ms ticks since the last ring
};

class CallLine {
 public:
  virtual PerCall& call() = 0;
  // The options of the current call, with a matched contact's choices laid
  // over them.
  virtual CallOptions& options() = 0;
  virtual CallStore& store() = 0;
  virtual Journal& journal() = 0;
  virtual Clock& clock() = 0;
  virtual const ProcessState& process() const = 0;

  // The line's telephony control and the wave control that plays into and
  // records from the call.
  virtual Telephony& telephony() = 0;
  virtual Wave& line_wave() = 0;
  // The telephony control's device index in decimal, as messages and
  // journal sources carry it ("0" before the control is made).
  virtual std::string DeviceIndexText() = 0;

  // Ends the call: limits and the ring gap stopped, playback and recording
  // stopped, the line dropped. A call whose hang-up the line refuses is
  // wrapped up here, as no Idle follows.
  virtual void DropCall() = 0;
  // Plays one of the system's prompts (native path) into the call in the
  // line format. 0 = playing; the result is journalled, a failure twice.
  virtual int32_t PlayToLine(const std::string& file) = 0;
  // Speaks `text` into the call with the line voice. 0 = speaking.
  virtual int32_t SpeakOnLine(const std::string& text) = 0;
  // Stops what plays or is spoken into the call.
  virtual void StopAllSound() = 0;
  // Keypad digit reports on or off; the device's result.
  virtual int32_t MonitorDigits(bool on) = 0;
  // Sends `text` on the end bound to `channel` (107..111); dropped when that
  // channel cannot be opened.
  virtual void SendText(int32_t channel, const std::string& text) = 0;

  // `fields` joined by CR LF on `channel`.
  void Send(int32_t channel, std::initializer_list<std::string_view> fields);
  // "<name>" CR LF <device index> on 107.
  void SendOutWithDevice(std::string_view name);
  // MonitorDigits, journalled as "Tapi.LineMonitorDigits(<device>)->...".
  void MonitorDigitsJournalled(bool on);
  // A call template filled with the call in progress, or with `info`, and
  // the remote access digits.
  std::string FillForCall(const std::string& text);
  std::string FillForCall(const std::string& text, const CallInfo& info);

 protected:
  ~CallLine() = default;
};

}  // namespace lw
