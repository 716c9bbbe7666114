// The voice modems of the machine as a line backend. The ports come from
// "txtModemPorts" in the backend's settings section: terminal paths
// separated by blanks; empty or missing probes every /dev/ttyACM* and
// /dev/ttyUSB*. Each port is probed when the backend is made, before the
// loop runs, bounded by kProbeBudgetMs: a terminal that does not answer
// ATE0 V1 is no modem and is left out; a modem without the voice class is
// listed as not voice-capable and never opened. A port that appears later
// (a modem plugged in) is probed on the loop, without waiting, and its
// modem listed after the others: the folders of the ports are watched, so
// nothing runs while none changes. Modems are serial ports 1, 2, ... in the
// order found, their terminals named in SerialPortNames.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/line_backend_context.h"
#include "drivers/voice_modem/modem_session.h"
#include "drivers/voice_modem/voice_modem_line.h"

namespace lw {

inline constexpr const char* kModemPortsValue = "txtModemPorts";
inline constexpr uint32_t kProbeBudgetMs = 800;
inline constexpr uint32_t kProbeCommandMs = 250;
inline constexpr int16_t kFirstModemPort = 1;

// The ports a "txtModemPorts" text names, or the default ones that exist.
std::vector<std::string> ModemPorts(const std::string& setting);

// Finds out what the modem on `session`'s open port is, step by step
// (ATE0 V1, ATI, AT+GMI, the class list, voice mode, the sample formats,
// back to data mode), and hands the result to `done`: none when the port
// does not answer like a modem.
class ModemProbe {
 public:
  using Done = std::function<void(std::optional<ModemIdentity>)>;
  ModemProbe(ModemSession& session, std::string tty, Done done);
  bool finished() const { return finished_; }

 private:
  void Step(
      std::string command,
      std::function<void(ModemResult, const std::vector<std::string>&)> next);
  void Finish(bool modem);

  ModemSession& session_;
  ModemIdentity identity_;
  std::string ati_;
  Done done_;
  bool finished_ = false;
};

std::unique_ptr<LineBackend> NewVoiceModemBackend(
    const LineBackendContext& context);

}  // namespace lw
