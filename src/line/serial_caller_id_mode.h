// Serial caller-ID mode: the caller identification read from the serial
// port of a line whose voice modem also has one. While the line waits for a
// call, the modem is on its serial port (spoken to by the ModemChannel) and
// the telephony line is closed. The modem's first ring announces the call, the
// second brings the caller identification; then (or at the fourth ring) the
// modem is handed to the telephony control, whose events carry the call on, and
// at the end of the call it goes back to the port. A caller who gives up before
// the hand-over is wrapped up by the idle timer, 13 s after the last ring the
// modem announced. A call that already rings when the telephony control
// takes the modem is reported by it (InComeCall after LineOpen, as every
// line does for an offered call), which stops the idle timer.
//
// The line runs in serial caller-ID mode only when "Tapi" asks for it and the
// opened line has a serial port (GetDeviceID answers one); any other line runs
// in telephony mode, and a line that wanted serial caller-ID mode says so in
// the journal when it opens.
//
// A port that cannot be opened (another program holds it, the modem is
// unplugged) or that is lost leaves the line deaf: the line controller
// reports it closed, and the port is tried again on the Clock's timer, 5 s
// after the failure and then twice as long each time up to 5 minutes,
// journalling only the first failure and the recovery.
//
// The waits of the hand-over are busy waits, as everywhere between
// telephony steps: no event runs in the middle of a hand-over. The polls for
// the line or the port to close give up after 5 s with a journal line.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/clock.h"
#include "devices/serial_port.h"
#include "devices/telephony.h"
#include "journal/journal.h"
#include "line/modem_channel.h"

namespace lw {

// What serial caller-ID mode tells the line controller. Each may be empty.
struct SerialCallerIdEvents {
  // Every RING the modem reports.
  std::function<void()> Ring;
  // The first RING of a call announces it.
  std::function<void()> IncomingCall;
  // The second RING, with the caller identification the modem reported.
  std::function<void(const std::string& name, const std::string& number)>
      CallerID;
  // The caller gave up before the hand-over; the modem is back on its port.
  std::function<void()> CallerGone;
  // The port was lost or could not be opened again (false: the line hears
  // no call), or it is open again (true). Not raised inside Open.
  std::function<void(bool hears)> PortChanged;
};

class SerialCallerIdMode {
 public:
  // `tapi`, `clock` and `journal` outlive this; `app_path` is AppPath.
  SerialCallerIdMode(Telephony& tapi, std::unique_ptr<SerialPort> port,
                     Clock& clock, Journal& journal,
                     const std::string& app_path, SerialCallerIdEvents events);
  ~SerialCallerIdMode();
  SerialCallerIdMode(const SerialCallerIdMode&) = delete;
  SerialCallerIdMode& operator=(const SerialCallerIdMode&) = delete;

  // After the telephony line opened with `result`: when `wanted` and the
  // line has a serial port, the line runs in serial caller-ID mode from here
  // and the modem goes to its port with the AT scenario `command_set`. Answers
  // what decides the line state: the open's result, the telephony shutdown's,
  // or the port's error.
  int32_t Open(bool wanted, int32_t result, const std::string& command_set);
  // Leaves serial caller-ID mode: the port closes and the retries and the idle
  // timer stop.
  void Close();
  // The line runs in serial caller-ID mode (from Open to Close, also while its
  // port is being tried again).
  bool on() const { return on_; }
  // Whether the last Open was asked for serial caller-ID mode.
  bool wanted() const { return wanted_; }
  // The modem is on its port: what the telephony control reports is not the
  // call's yet.
  bool PortHasModem() { return port_->PortOpen(); }
  // Rings the modem reported before the telephony control took it (0 while
  // the port has it, or in telephony mode).
  int32_t RingsBefore();

  // The telephony control reported the call after the hand-over.
  void TelephonyHasCall() { channel_.StopIdleTimer(); }
  // Takes the modem from the serial port and opens the telephony line for
  // the call; a failed open is retried, ten times over the life of this.
  void HandOver();
  // The call is over: the modem goes back to its port unless it is there.
  void CallEnded();

 private:
  // Takes the modem from the telephony control back to its port and starts
  // the AT scenario; the telephony shutdown's result, else the port's.
  int32_t ReturnModemToPort(const char* source, bool tell);
  // Opens the port; on failure the back-off goes on. `tell`: raise
  // PortChanged on a change.
  int32_t Connect(bool tell);
  void PortLost();
  void Idle();
  void WaitWhile(const std::function<bool()>& busy, const char* what,
                 const char* source);

  Telephony& tapi_;
  std::unique_ptr<SerialPort> port_;
  Clock& clock_;
  Journal& journal_;
  SerialCallerIdEvents events_;
  ModemChannel channel_;
  bool wanted_ = false;
  bool on_ = false;
  int32_t port_number_ = 0;
  std::string command_set_;
  // Failed takes of the modem by the telephony control; never reset.
  int32_t open_retries_ = 0;
  // The wait before the next try of the port; 0 while the port is fine.
  uint32_t retry_ms_ = 0;
  std::unique_ptr<Timer> retry_timer_;
};

}  // namespace lw
