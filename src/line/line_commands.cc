// The commands of the desktop application on channel 108. A message is
// split at CR LF; line 0 is the command word, compared exactly (so "hello"
// is no command), and any lines beyond those a command uses are ignored.
#include <string>
#include <vector>

#include "base/message_text.h"
#include "base/trapped.h"
#include "callstore/contacts.h"
#include "journal/journal.h"
#include "line/dial_string.h"
#include "line/line_controller.h"

namespace lw {

void LineController::OnLineCommand(const std::string& text) {
  if (!s_.loaded) return;
  Trapped(s_.journal, "udiIn_MessageArrived", [&] {
    const std::vector<std::string> lines = SplitMessage(text);
    const std::string& command = lines[0];
    if (command == "ON") {
      CommandOn();
    } else if (command == "OFF") {
      CommandOff();
    } else if (command == "AUTO") {
      CommandAuto(lines);
    } else if (command == "RecCall") {
      CommandRecCall(lines);
    } else if (command == "AnswerMachine") {
      CommandAnswerMachine();
    } else if (command == "DropTheCall") {
      CommandDropTheCall();
    } else if (command == "DoNothing") {
      CommandDoNothing();
    } else if (command == "StopProc") {
      CommandStopProc();
    } else if (command == "CallOut") {
      CommandCallOut(lines, false);
    } else if (command == "CallOutRec") {
      CommandCallOut(lines, true);
    } else if (command == "DropCall") {
      CommandDropCall();
    } else if (command == "HELLO") {
      CommandHello();
    } else if (command == "GetTTSProp") {
      CommandGetTTSProp();
    }
  });
}

// The line switched on by hand: auto mode ends.
void LineController::CommandOn() {
  auto_mode_.SetRunning(false);
  s_.process.AutoMode = false;
  OpenLine();
}

// The line switched off by hand: auto mode ends.
void LineController::CommandOff() {
  auto_mode_.SetRunning(false);
  s_.process.AutoMode = false;
  CloseLine(false);
}

// The line follows the window from now on; the timer's next tick opens or
// closes it. The times are kept as sent and not stored in the settings.
void LineController::CommandAuto(const std::vector<std::string>& lines) {
  if (lines.size() < 3) {
    s_.journal.LogSys("AUTO without a switch-on and a switch-off time ignored",
                      0, "udiIn_MessageArrived");
    return;
  }
  s_.process.AutoTimeOn = lines[1];
  s_.process.AutoTimeOff = lines[2];
  s_.process.AutoMode = true;
  auto_mode_.SetRunning(true);
  SendLineStatus();
}

void LineController::CommandHello() { SendLineStatus(); }

void LineController::CommandGetTTSProp() { LoadTTSOptions(); }

// --- Commands on the current call. They are not checked against the state
// of the line: outside a call they only change the flags and timers, which
// the next call resets.

void LineController::CommandRecCall(const std::vector<std::string>& lines) {
  bool record = false;
  if (lines.size() < 2 || !ParseSwitchText(lines[1], record)) {
    s_.journal.LogSys("RecCall without a True or False argument ignored", 0,
                      "udiIn_MessageArrived");
    return;
  }
  // Takes effect at the next ring, which switches the ring gap on or off.
  call_.record_if_picked_up = record;
}

void LineController::CommandAnswerMachine() { AnswerCall(); }

void LineController::CommandDropTheCall() {
  StopRingGapAndFreqTimers();
  call_.block_call = true;
  // The connected event drops the call.
  s_.telephony->LineAnswer();
}

void LineController::CommandDoNothing() {
  StopRingGapAndFreqTimers();
  call_.ignore_call = true;
}

void LineController::CommandStopProc() { DropCall(); }

void LineController::CommandCallOut(const std::vector<std::string>& lines,
                                    bool record) {
  if (lines.size() < 2 || lines[1].empty()) {
    s_.journal.LogSys(std::string(record ? "CallOutRec" : "CallOut") +
                          " without a number to dial ignored",
                      0, "udiIn_MessageArrived");
    return;
  }
  // The number reaches the device and the stored call: only what the line
  // can dial goes on (a stray line feed would break the record's field).
  const std::string& number = lines[1];
  if (!IsDialable(number, s_.telephony->DialKinds())) {
    s_.journal.LogSys(std::string(record ? "CallOutRec" : "CallOut") +
                          " refused: \"" + JournalShown(number) +
                          "\" is not a number to dial (digits, *, #, a "
                          "leading + and , for a pause)",
                      0, "udiIn_MessageArrived");
    return;
  }
  CallOut(number, record);
}

void LineController::CommandDropCall() { DropCall(); }

}  // namespace lw
