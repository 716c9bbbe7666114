// The modem's serial port for tests: the test plays the modem with Receive
// (its text reports go into the input buffer and OnComm is raised at once,
// as the loop would); what the code did is logged (ops()) and what it sent
// is kept (output()).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "devices/serial_port.h"

namespace lw {

class FakeSerialPort : public SerialPort {
 public:
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
  int16_t CommEvent() override { return kCommEvReceive; }
  std::string ErrorText(int32_t code) override {
    return code == 0 ? "Success" : "Serial error " + std::to_string(code);
  }

  // Text from the modem. False (and dropped) when the port is closed.
  bool Receive(const std::string& text);

  // "CommPort=3", "Settings=9600,n,8,1", "PortOpen=True", "PortOpen=False".
  const std::vector<std::string>& ops() const { return ops_; }
  const std::string& output() const { return output_; }

 private:
  SerialPortEvents events_;
  std::vector<std::string> ops_;
  std::string settings_ = "9600,n,8,1";
  std::string input_;
  std::string output_;
  int16_t port_ = 1;
  int16_t rthreshold_ = 0;
  int16_t input_len_ = 0;
  bool open_ = false;
};

}  // namespace lw
