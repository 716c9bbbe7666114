#include "devices/fake/fake_serial_port.h"

#include <algorithm>

namespace lw {

int32_t FakeSerialPort::SetCommPort(int16_t port) {
  ops_.push_back("CommPort=" + std::to_string(port));
  if (open_) return kCommPortAlreadyOpen;
  port_ = port;
  return 0;
}

void FakeSerialPort::SetSettings(const std::string& settings) {
  ops_.push_back("Settings=" + settings);
  settings_ = settings;
}

int32_t FakeSerialPort::SetPortOpen(bool open) {
  ops_.push_back(open ? "PortOpen=True" : "PortOpen=False");
  if (open && open_) return kCommPortAlreadyOpen;
  if (open && port_ <= 0) return kCommPortInvalid;
  open_ = open;
  if (!open) input_.clear();
  return 0;
}

std::string FakeSerialPort::Input() {
  const size_t n = input_len_ <= 0
                       ? input_.size()
                       : std::min<size_t>(input_len_, input_.size());
  std::string taken = input_.substr(0, n);
  input_.erase(0, n);
  return taken;
}

int32_t FakeSerialPort::Output(const std::string& data) {
  if (!open_) return kCommPortNotOpen;
  output_ += data;
  return 0;
}

bool FakeSerialPort::Receive(const std::string& text) {
  if (!open_) return false;
  input_ += text;
  if (rthreshold_ > 0 && input_.size() >= static_cast<size_t>(rthreshold_) &&
      events_.OnComm) {
    events_.OnComm();
  }
  return true;
}

}  // namespace lw
