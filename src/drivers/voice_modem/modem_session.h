// Talking to a voice modem over its serial port: AT commands one at a time,
// each with its answer lines and final result or a time-out, the text the
// modem sends on its own (RING, caller identification), shielded codes and
// the sound of a recording. Runs on the loop thread; nothing waits: every
// answer arrives through a callback from the port's OnComm or a timer.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "devices/clock.h"
#include "devices/serial_port.h"
#include "drivers/voice_modem/modem_protocol.h"

namespace lw {

class ModemSession {
 public:
  struct Events {
    // A line that answers no command: RING, caller identification, noise.
    std::function<void(const std::string& line)> unsolicited;
    std::function<void(char code)> code;
    std::function<void(std::string_view sound)> sound;
    std::function<void()> stream_end;
    // The port reported the device gone; queued commands end with kLost.
    std::function<void()> lost;
  };
  using Done = std::function<void(ModemResult result,
                                  const std::vector<std::string>& lines)>;
  static constexpr uint32_t kCommandTimeoutMs = 2000;

  // `clock` and `port` outlive the session; the session takes the port's
  // events.
  ModemSession(Clock& clock, SerialPort& port, Events events);
  ~ModemSession();
  ModemSession(const ModemSession&) = delete;
  ModemSession& operator=(const ModemSession&) = delete;

  // Queues `command` (without its CR). `done` runs with the final result and
  // the other lines the modem answered in between; with kTimeout when the
  // modem said nothing final within `timeout_ms`. A command that ends in
  // CONNECT switches the stream to sound when `streams` is set.
  void Command(std::string command, Done done,
               uint32_t timeout_ms = kCommandTimeoutMs, bool streams = false);
  // Writes bytes as they are (sound, DLE sequences).
  void Write(std::string_view bytes);
  void SetStreaming(bool streaming) { stream_.SetStreaming(streaming); }
  bool streaming() const { return stream_.streaming(); }
  bool idle() const { return queue_.empty(); }
  // Ends every queued command with `result` (the port was closed or lost).
  void Abandon(ModemResult result);

 private:
  struct Pending {
    std::string command;
    Done done;
    uint32_t timeout_ms;
    bool streams;
    bool sent = false;
    std::vector<std::string> lines;
  };
  void OnComm();
  void OnLine(const std::string& line);
  void SendNext();
  void Finish(ModemResult result);

  Clock& clock_;
  SerialPort& port_;
  Events events_;
  ModemStream stream_;
  std::deque<Pending> queue_;
  std::unique_ptr<Timer> timeout_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
