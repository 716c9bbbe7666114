// Which terminal device a serial port number stands for. The line backends
// fill it as they find their modems (the simulated line names its
// pseudo-terminal, a voice modem its /dev/ttyACMn), under the port number
// their telephony devices report for the serial port; the serial port driver
// opens what it names. Used on the loop thread only.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace lw {

class SerialPortNames {
 public:
  // Names `tty` as port `port`, replacing an earlier name.
  void Set(int16_t port, std::string tty) { ttys_[port] = std::move(tty); }
  void Remove(int16_t port) { ttys_.erase(port); }
  // The terminal device of `port`; none when no backend named one.
  std::optional<std::string> Tty(int16_t port) const {
    const auto it = ttys_.find(port);
    if (it == ttys_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<int16_t, std::string> ttys_;
};

}  // namespace lw
