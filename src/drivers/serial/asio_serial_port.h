// The serial port of a modem over Asio's serial_port, on the terminal device
// that SerialPortNames gives for the port number. The one serial port driver
// of the process: the line controller's modem channel and every modem
// backend open their ports with it, each as its own SerialPortUser.
//
// Opening puts the terminal in raw mode: no echo, no line editing or
// signals, no input or output translation (CR stays CR), no XON/XOFF, and
// RTS/CTS flow control only when asked for and the device raises CTS at
// the opening; line settings from Settings ("9600,n,8,1" unless
// set otherwise). The port is held alone: an exclusive flock, and the
// terminal's exclusive mode while open. Error numbers:
// - kCommPortInvalid: no name for the number, no such device, not a
//   terminal, or the device refused (permissions, settings it cannot take);
// - kCommPortBusy: another program holds the device (its flock or exclusive
//   mode), or another user holds it in the SerialPortOwners table, worth
//   trying again;
// - kCommPortAlreadyOpen, kCommPortNotOpen: as the SerialPort contract says.
//
// Received characters are kept (up to kMaxInput, the rest is dropped) and
// OnComm runs on the io_context's thread from the read's completion: after
// each block that arrived, once per character of it for as long as the
// buffer still holds RThreshold characters, so a handler that reads one
// character at a time sees every character raised. Output is queued and
// written asynchronously. An exception leaving OnComm is swallowed.
#pragma once

#include <asio/io_context.hpp>
#include <cstddef>
#include <memory>
#include <string>

#include "devices/serial_port.h"
#include "devices/serial_port_names.h"

namespace lw {

class AsioSerialPort : public SerialPort {
 public:
  static constexpr size_t kMaxInput = size_t{64} * 1024;

  // `io`, `names` and `owners` outlive the port. With `owners`, an open port
  // is held there for `user` (the modem channel, or a modem backend's line).
  AsioSerialPort(asio::io_context& io, const SerialPortNames& names,
                 SerialPortOwners* owners, SerialPortUser user);
  ~AsioSerialPort() override;
  AsioSerialPort(const AsioSerialPort&) = delete;
  AsioSerialPort& operator=(const AsioSerialPort&) = delete;

  void SetEvents(SerialPortEvents events) override;
  int32_t SetCommPort(int16_t port) override;
  int16_t CommPort() override;
  // A text the terminal cannot take is refused: the settings stay as they
  // were.
  void SetSettings(const std::string& settings) override;
  std::string Settings() override;
  void SetHardwareFlowControl(bool on) override;
  int32_t SetPortOpen(bool open) override;
  bool PortOpen() override;
  void SetRThreshold(int16_t count) override;
  int16_t RThreshold() override;
  void SetInputLen(int16_t count) override;
  int16_t InputLen() override;
  int32_t InBufferCount() override;
  std::string Input() override;
  int32_t Output(const std::string& data) override;
  int16_t CommEvent() override;
  std::string ErrorText(int32_t code) override;

 private:
  // Shared with the pending reads and writes, which may complete after the
  // port closed or this object went away.
  struct State;
  int32_t Open();
  void Close();

  const SerialPortNames& names_;
  SerialPortOwners* owners_;
  SerialPortUser user_;
  std::shared_ptr<State> s_;
};

}  // namespace lw
