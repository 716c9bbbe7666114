// The serial port of an installation without a serial port driver (and of
// the tests, which drive no modem). It behaves as a device that is not
// there: every operation that would reach the device fails with kAbsent and
// a text that says so, so the logic journals the failure and goes on as it
// does for a missing device. It never holds a port in SerialPortOwners.
#pragma once

#include <string>

#include "devices/serial_port.h"

namespace lw {

inline constexpr int32_t kAbsent = 9001;  // no driver for the device

class AbsentSerialPort : public SerialPort {
 public:
  void SetEvents(SerialPortEvents) override {}
  int32_t SetCommPort(int16_t port) override {
    port_ = port;
    return 0;
  }
  int16_t CommPort() override { return port_; }
  void SetSettings(const std::string& settings) override {
    settings_ = settings;
  }
  std::string Settings() override { return settings_; }
  int32_t SetPortOpen(bool open) override { return open ? kAbsent : 0; }
  bool PortOpen() override { return false; }
  void SetRThreshold(int16_t count) override { threshold_ = count; }
  int16_t RThreshold() override { return threshold_; }
  void SetInputLen(int16_t count) override { input_len_ = count; }
  int16_t InputLen() override { return input_len_; }
  int32_t InBufferCount() override { return 0; }
  std::string Input() override { return {}; }
  int32_t Output(const std::string&) override { return kAbsent; }
  int16_t CommEvent() override { return 0; }
  std::string ErrorText(int32_t code) override {
    return code == 0 ? "Success" : "No serial port driver in this installation";
  }

 private:
  int16_t port_ = 0;
  std::string settings_;
  int16_t threshold_ = 0;
  int16_t input_len_ = 0;
};

}  // namespace lw
