#include "devices/fake/fake_serial_port.h"

#include <algorithm>

#include "devices/fake/fake_telephony.h"

namespace lw {

FakeSerialPort::FakeSerialPort(Clock& clock, FakeLine* line)
    : line_(line), queue_(clock) {}

FakeSerialPort::~FakeSerialPort() {
  if (open_ && line_ != nullptr) line_->set_port_open(port_, false);
}

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

void FakeSerialPort::FailOpens(int32_t code, int32_t count) {
  fail_code_ = code;
  fail_count_ = count;
}

int32_t FakeSerialPort::SetPortOpen(bool open) {
  ops_.push_back(open ? "PortOpen=True" : "PortOpen=False");
  if (!open) {
    if (open_ && line_ != nullptr) line_->set_port_open(port_, false);
    open_ = false;
    input_.clear();
    pending_line_.clear();
    queue_.Clear();
    return 0;
  }
  ++open_attempts_;
  if (open_) return kCommPortAlreadyOpen;
  if (port_ <= 0) return kCommPortInvalid;
  if (fail_count_ != 0) {
    if (fail_count_ > 0) --fail_count_;
    return fail_code_;
  }
  if (line_ != nullptr && line_->port_held_by_line(port_)) return kCommPortBusy;
  open_ = true;
  if (line_ != nullptr) line_->set_port_open(port_, true);
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
  for (char c : data) {
    if (c != '\r') {
      pending_line_.push_back(c);
      continue;
    }
    commands_.push_back(pending_line_);
    pending_line_.clear();
    if (!reply_.empty()) {
      queue_.Post([this, reply = reply_] { Receive(reply); });
    }
  }
  return 0;
}

bool FakeSerialPort::Receive(const std::string& text) {
  if (!open_) return false;
  input_ += text;
  RaiseReceive();
  return true;
}

void FakeSerialPort::RaiseReceive() {
  if (rthreshold_ <= 0 || input_.size() < static_cast<size_t>(rthreshold_)) {
    return;
  }
  comm_event_ = kCommEvReceive;
  if (events_.OnComm) events_.OnComm();
}

std::string FakeSerialPort::ErrorText(int32_t code) {
  switch (code) {
    case 0:
      return "Success";
    case kCommPortInvalid:
      return "Invalid port number";
    case kCommPortAlreadyOpen:
      return "Port already open";
    case kCommPortBusy:
      return "The device is busy";
    case kCommPortNotOpen:
      return "Operation valid only when the port is open";
    default:
      return "Serial error " + std::to_string(code);
  }
}

}  // namespace lw
