// The serial port of a voice modem, as the modem channel uses it in modem
// mode: the AT command scenario goes out, the modem's text reports (RING,
// caller identification, OK, ERROR) come in a character at a time.
//
// Contract shared by every implementation:
// - No operation throws. Opening reports failure by an error number (the
//   kComm* codes below), with a text from ErrorText.
// - A port has one user at a time, kept in the SerialPortOwners table that
//   the port drivers and the modem line share: opening takes the port for
//   the modem channel (kCommPortBusy while the modem line holds it), closing
//   gives it back.
// - Received characters wait in the input buffer until read with Input. The
//   OnComm event runs on the loop thread, never inside an operation, whenever
//   the buffer holds at least RThreshold characters (CommEvent then reads
//   kCommEvReceive); with RThreshold 0 no receive events are raised.
// - A device that goes away raises OnComm once with kCommEvPortLost.
// - Closing the port discards unread input; a closed port raises no events.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

namespace lw {

// Error numbers of the serial port.
inline constexpr int32_t kCommPortInvalid = 8002;      // no such port
inline constexpr int32_t kCommPortAlreadyOpen = 8005;  // opened twice
inline constexpr int32_t kCommPortBusy = 8012;  // held by another user; retry
inline constexpr int32_t kCommPortNotOpen = 8018;  // operation needs it open

// CommEvent values.
inline constexpr int16_t kCommEvReceive = 2;
// The device went away while the port was open (a USB modem unplugged, the
// terminal hung up): nothing more is received until the port is closed and
// opened again.
inline constexpr int16_t kCommEvPortLost = 100;

struct SerialPortEvents {
  // Something happened on the port; CommEvent says what.
  std::function<void()> OnComm;
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual void SetEvents(SerialPortEvents events) = 0;

  // Port number: 1 is the first serial port of the machine. Cannot change
  // while the port is open (kCommPortAlreadyOpen).
  virtual int32_t SetCommPort(int16_t port) = 0;
  virtual int16_t CommPort() = 0;
  // Line settings "baud,parity,data bits,stop bits"; default "9600,n,8,1".
  virtual void SetSettings(const std::string& settings) = 0;
  virtual std::string Settings() = 0;
  // RTS/CTS hardware flow control from the next opening, where the port has
  // it (off by default); ports without it ignore this.
  virtual void SetHardwareFlowControl(bool) {}

  // Opens (true) or closes (false) the port. 0 = done; opening an open port
  // gives kCommPortAlreadyOpen; closing a closed port does nothing.
  virtual int32_t SetPortOpen(bool open) = 0;
  virtual bool PortOpen() = 0;

  // Receive threshold: raise OnComm when this many characters are waiting
  // (0 = never). Input length: characters one Input returns (0 = all).
  virtual void SetRThreshold(int16_t count) = 0;
  virtual int16_t RThreshold() = 0;
  virtual void SetInputLen(int16_t count) = 0;
  virtual int16_t InputLen() = 0;

  // Characters waiting in the input buffer.
  virtual int32_t InBufferCount() = 0;
  // Takes up to InputLen characters from the input buffer ("" when empty).
  virtual std::string Input() = 0;
  // Queues `data` for sending; never blocks. kCommPortNotOpen when closed.
  virtual int32_t Output(const std::string& data) = 0;
  // What the last OnComm reported.
  virtual int16_t CommEvent() = 0;

  // Description of an error number, for the journal.
  virtual std::string ErrorText(int32_t code) = 0;
};

// Who uses a serial port. In serial caller-ID mode the modem channel (the line
// controller's serial caller-ID mode) holds the modem's port while the line
// waits for calls; for a call the port goes to the modem line (the telephony
// backend of the voice modem) and back to the channel at the end of the call.
enum class SerialPortUser { kNobody, kModemChannel, kModemLine };

// The users of the machine's serial ports, one per port at a time. Owned by
// the program's entry and handed to every serial port driver and modem line;
// loop thread only.
class SerialPortOwners {
 public:
  // Takes `port` for `user`: true when it was free or already `user`'s;
  // false while another user holds it, or for a port number below 1.
  bool Acquire(int16_t port, SerialPortUser user);
  // Gives `port` up; only its holder can (false otherwise).
  bool Release(int16_t port, SerialPortUser user);
  // Passes `port` from its holder `from` to `to` in one step, so no third
  // user can take it in between; false when `from` does not hold it.
  bool HandOver(int16_t port, SerialPortUser from, SerialPortUser to);
  // Who holds `port` now.
  SerialPortUser Owner(int16_t port) const;

 private:
  std::map<int16_t, SerialPortUser> owners_;  // held ports only
};

}  // namespace lw
