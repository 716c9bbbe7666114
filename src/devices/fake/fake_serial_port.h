// The modem's serial port for tests. The test plays the modem: Receive puts
// its text reports into the input buffer and raises OnComm at once, as the
// loop would; what the code sends is kept (output(), commands()). An
// optional reply ("\r\nOK\r\n") answers every command line the code sends,
// through the event queue (1 ms of virtual time later), like a modem that
// acknowledges each AT command.
//
// With a FakeLine attached, the port and the telephony line share the
// modem: the port cannot open (kCommPortBusy) while a line is open on the
// device with this port number, and the line cannot open while the port is.
#pragma once

#include <cstdint>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "devices/clock.h"
#include "devices/fake/fake_event_queue.h"
#include "devices/serial_port.h"

namespace lw {

class FakeLine;

class FakeSerialPort : public SerialPort {
 public:
  // `line` may be null (no shared modem); it outlives this port.
  FakeSerialPort(Clock& clock, FakeLine* line);
  ~FakeSerialPort() override;

  void SetEvents(SerialPortEvents events) override {
    events_ = std::move(events);
  }
  int32_t SetCommPort(int16_t port) override;
  int16_t CommPort() override { return port_; }
  void SetSettings(const std::string& settings) override;
  std::string Settings() override { return settings_; }
  int32_t SetPortOpen(bool open) override;
  bool PortOpen() override { return open_; }
  void SetRThreshold(int16_t count) override { rthreshold_ = count; }
  int16_t RThreshold() override { return rthreshold_; }
  void SetInputLen(int16_t count) override { input_len_ = count; }
  int16_t InputLen() override { return input_len_; }
  int32_t InBufferCount() override {
    return static_cast<int32_t>(input_.size());
  }
  std::string Input() override;
  int32_t Output(const std::string& data) override;
  int16_t CommEvent() override { return comm_event_; }
  std::string ErrorText(int32_t code) override;

  // --- Script: the modem.
  // Text from the modem. False (and dropped) when the port is closed.
  bool Receive(const std::string& text);
  // Answers each CR-terminated line the code sends with `reply` (empty:
  // no answer, the default).
  void set_reply(const std::string& reply) { reply_ = reply; }
  void DeliverPending() { queue_.DeliverNow(); }

  // --- Fault switches. The next `count` opens fail with `code` (e.g.
  // kCommPortBusy); `count` < 0 means every open from now on.
  void FailOpens(int32_t code, int32_t count);

  // --- Observation.
  // "CommPort=3", "Settings=9600,n,8,1", "PortOpen=True", "PortOpen=False",
  // in order, failed ones too.
  const std::vector<std::string>& ops() const { return ops_; }
  int32_t open_attempts() const { return open_attempts_; }
  // Everything written with Output, joined.
  const std::string& output() const { return output_; }
  // The CR-terminated lines written, without the CR.
  const std::vector<std::string>& commands() const { return commands_; }

 private:
  void RaiseReceive();

  FakeLine* line_;
  FakeEventQueue queue_;
  SerialPortEvents events_;
  std::vector<std::string> ops_;
  std::string settings_ = "9600,n,8,1";
  std::string input_;
  std::string output_;
  std::string pending_line_;
  std::vector<std::string> commands_;
  std::string reply_;
  int32_t fail_code_ = 0;
  int32_t fail_count_ = 0;
  int32_t open_attempts_ = 0;
  int16_t port_ = 1;
  int16_t rthreshold_ = 0;
  int16_t input_len_ = 0;
  int16_t comm_event_ = 0;
  bool open_ = false;
};

}  // namespace lw
