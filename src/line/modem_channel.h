// The modem's AT-command channel of serial caller-ID mode: while the line waits
// for a call, the line talks to the modem over its serial port. It sends the AT
// command scenario ("\AT_Commands_Scenario.txt" under AppPath) one command
// per acknowledgement, frames the modem's text reports into lines, counts
// the RING reports and collects the caller identification reported between
// the rings. What the rings mean for the call it tells the line through
// ModemEvents.
//
// Everything runs on the loop thread; nothing here blocks the loop. A port
// that cannot be opened is tried again by its user (SerialCallerIdMode).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "devices/clock.h"
#include "devices/serial_port.h"
#include "journal/journal.h"

namespace lw {

// What the modem's rings mean for the line. Each may be empty. A handler may
// call back into the channel (CommDisconnect, InitVals, CommConnect).
struct ModemEvents {
  // Every RING report.
  std::function<void()> Ring;
  // The first RING of a call (OnModemIncomingCall), once per call.
  std::function<void()> IncomingCall;
  // The second RING (OnModemCallerId), once per call, with the name and number
  // the modem reported, "UNKNOWN" for what it did not report.
  std::function<void(const std::string& name, const std::string& number)>
      CallerID;
  // A RING count above 3, after every received block while it lasts: the
  // modem is to be handed to the telephony control
  // (SerialCallerIdMode::HandOver, which closes the port).
  std::function<void()> HandOver;
  // Thirteen seconds of the idle timer after the first ring (or the second
  // when one came) without a hand-over: the caller is gone. The line hands
  // the modem back if the telephony control holds it and ends the call
  // (OnModemCallerGone); the channel then runs InitVals.
  std::function<void()> Idle;
  // The port went away (the modem unplugged); it is closed.
  std::function<void()> PortLost;
};

class ModemChannel {
 public:
  // `port`, `clock` and `journal` outlive the channel; the channel takes the
  // port's events. `app_path` is AppPath (native, no trailing separator).
  ModemChannel(SerialPort& port, Clock& clock, Journal& journal,
               const std::string& app_path, ModemEvents events);
  ~ModemChannel();
  ModemChannel(const ModemChannel&) = delete;
  ModemChannel& operator=(const ModemChannel&) = delete;

  // Refills the command list from the scenario, opens the port `port` and
  // sends the first command. `command_set` is unused: the whole file is the
  // one scenario. Answers 0, or the port's error when it could not be opened
  // (kCommPortAlreadyOpen when it is open already), journalling nothing.
  int32_t CommConnect(int32_t port, const std::string& command_set);
  // Closes the port if it is open.
  void CommDisconnect();
  // Resets the per-call values: caller name and number "UNKNOWN", the
  // first-ring and second-ring actions armed again, CommRings and IdleTicks
  // 0. The line buffer and the DLE state are not touched.
  void InitVals();
  // Empties the command list and refills it from the scenario file, which is
  // created empty when missing. Empty lines and lines starting with "'" are
  // comments; every other line is one command, sent as it stands.
  void FillATCommands();

  // Stops the idle timer: the telephony control has reported the call after
  // the hand-over, and its events carry the call from here.
  void StopIdleTimer();

  bool PortOpen() { return port_.PortOpen(); }
  // RING reports of the current call.
  int32_t CommRings() const { return comm_rings_; }

 private:
  // The serial port's event: frames the received characters into lines,
  // then runs the ring triggers.
  void OnComm();
  // One line from the modem; it starts with the LF that followed the
  // previous CR (except the very first line after the channel was made).
  // " = " after the key reads as "=".
  void ProcessEvent(const std::string& report);
  // After an "OK" or "ERROR": drops the acknowledged command and sends the
  // next, journalling it with `reply` (":OK" or ":ERROR").
  void NextCommand(const char* reply);
  void RingTriggers();
  void IdleTick();
  void Log(const std::string& text, int32_t code, const char* source);

  SerialPort& port_;
  Journal& journal_;
  std::string scenario_path_;
  ModemEvents events_;

  std::deque<std::string> commands_;  // front: awaiting acknowledgement
  std::string line_buffer_;
  bool skip_next_ = false;  // the character after a DLE is dropped

  std::string caller_name_ = "UNKNOWN";
  std::string caller_number_ = "UNKNOWN";
  bool name_received_ = false;
  bool number_received_ = false;
  int32_t comm_rings_ = 0;
  bool incoming_announced_ = false;
  bool caller_id_handled_ = false;
  int32_t idle_ticks_ = 0;
  std::unique_ptr<Timer> idle_timer_;
};

}  // namespace lw
