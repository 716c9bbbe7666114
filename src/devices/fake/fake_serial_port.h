// A modem's serial port as a test plays it: Receive queues characters and
// raises OnComm on the loop (Clock::Post, so RunDue delivers it), `sent`
// keeps what went out and `on_output` hands it on (to the simulated line's
// modem in FakeDevices). Opening takes the port in the owners table when one
// is given, and the next `busy_opens` openings answer kCommPortBusy.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "devices/clock.h"
#include "devices/serial_port.h"

namespace lw {

class FakeSerialPort : public SerialPort {
 public:
  explicit FakeSerialPort(Clock& clock, SerialPortOwners* owners = nullptr)
      : clock_(clock), owners_(owners) {}
  ~FakeSerialPort() override { *alive_ = false; }

  void SetEvents(SerialPortEvents events) override { events_ = events; }
  int32_t SetCommPort(int16_t port) override {
    if (open_) return kCommPortAlreadyOpen;
    port_ = port;
    return 0;
  }
  int16_t CommPort() override { return port_; }
  void SetSettings(const std::string&) override {}
  std::string Settings() override { return "9600,n,8,1"; }
  int32_t SetPortOpen(bool open) override {
    constexpr SerialPortUser kUser = SerialPortUser::kModemChannel;
    if (open &&
        (busy_opens-- > 0 || (owners_ && !owners_->Acquire(port_, kUser))))
      return kCommPortBusy;
    if (!open && open_ && owners_) owners_->Release(port_, kUser);
    open_ = open;
    input_.clear();
    return 0;
  }
  bool PortOpen() override { return open_; }
  void SetRThreshold(int16_t) override {}
  int16_t RThreshold() override { return 1; }
  void SetInputLen(int16_t) override {}
  int16_t InputLen() override { return 1; }
  int32_t InBufferCount() override { return int32_t(input_.size()); }
  std::string Input() override {
    std::string c = input_.substr(0, 1);
    input_.erase(0, c.size());
    return c;
  }
  int32_t Output(const std::string& data) override {
    if (!open_) return kCommPortNotOpen;
    sent += data;
    if (on_output) on_output(data);
    return 0;
  }
  int16_t CommEvent() override { return event_; }
  std::string ErrorText(int32_t code) override { return std::to_string(code); }

  // The modem sends `data`; ignored while the port is closed.
  void Receive(const std::string& data) {
    if (!open_) return;
    input_ += data;
    Raise(kCommEvReceive);
  }
  // The same, read by the port's user before this returns (a far end whose
  // step returns once the line has seen it, its events still deferred).
  void ReceiveNow(const std::string& data) {
    if (!open_) return;
    input_ += data;
    event_ = kCommEvReceive;
    if (events_.OnComm) events_.OnComm();
  }
  // The device goes away while the port is open.
  void Lose() { Raise(kCommEvPortLost); }

  std::string sent;
  int busy_opens = 0;
  std::function<void(const std::string&)> on_output;

 private:
  Clock& clock_;
  SerialPortOwners* owners_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  SerialPortEvents events_;
  int16_t port_ = 1;
  bool open_ = false;
  std::string input_;
  int16_t event_ = kCommEvReceive;

  void Raise(int16_t event) {
    std::weak_ptr<bool> alive = alive_;
    clock_.Post([this, alive, event] {
      if (alive.expired() || !open_ || !events_.OnComm) return;
      event_ = event;
      events_.OnComm();
    });
  }
};

}  // namespace lw
