// The simulated line's modem side in the running process: a pseudo-terminal
// whose terminal end the serial port driver opens as the modem's port, and
// whose other end this object holds. What the port's user writes (the AT
// commands) goes to the simulated line; what the line's modem reports is
// written back. The terminal end is kept open here too, in raw mode, so the
// pseudo-terminal stays usable while the process has the port closed (the
// driver discards what waited when it opens the port again).
#pragma once

#include <array>
#include <asio/io_context.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <deque>
#include <memory>
#include <string>
#include <system_error>

#include "drivers/simline/simulated_line.h"

namespace lw {

class SimModemPty {
 public:
  explicit SimModemPty(asio::io_context& io);
  ~SimModemPty();
  SimModemPty(const SimModemPty&) = delete;
  SimModemPty& operator=(const SimModemPty&) = delete;

  // Makes the pseudo-terminal and joins it to `line` as its modem on port
  // SimulatedLine::kModemPort, with `owners` telling who holds the port. The
  // terminal's name (empty when it could not be made) is what the driver must
  // open.
  void Attach(SimulatedLine& line, SerialPortOwners& owners);
  const std::string& tty() const { return tty_; }
  const std::error_code& error() const { return error_; }

 private:
  void Read();
  void Write(const std::string& text);
  void WriteNext();

  asio::posix::stream_descriptor master_;
  int terminal_fd_ = -1;
  std::string tty_;
  std::error_code error_;
  SimulatedLine* line_ = nullptr;
  std::array<char, 256> buffer_{};
  std::deque<std::string> output_;
  // Cleared when the object goes away, so late completions do nothing.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
