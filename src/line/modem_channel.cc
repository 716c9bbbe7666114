#include "line/modem_channel.h"

#include <fstream>
#include <limits>
#include <utility>

#include "base/paths.h"

namespace lw {

namespace {

constexpr const char* kUnknown = "UNKNOWN";
constexpr char kDle = 0x10;
constexpr char kCr = 0x0D;
constexpr uint32_t kIdleTickMs = 1000;
constexpr int32_t kIdleTicksLimit = 12;

// Taking the first command of an empty list: the scenario has none, so the
// channel cannot start. Journalled like any other error of the opening.
constexpr int32_t kNoCommandError = 5;
constexpr const char* kNoCommandText = "The AT command scenario is empty";

// A MESG line of exactly this length reports one absent value; from the
// long length on it is another kind of report (see ProcessEvent).
constexpr size_t kMesgAbsentLength = 12;
constexpr size_t kMesgLongLength = 21;

// Modem reports are short; a line that never ends (noise on the line, a
// wrong speed) is cut here instead of growing without end.
constexpr size_t kMaxLineLength = 1024;

}  // namespace

ModemChannel::ModemChannel(SerialPort& port, Clock& clock, Journal& journal,
                           const std::string& app_path, ModemEvents events)
    : port_(port),
      journal_(journal),
      scenario_path_(NativePath(app_path, "\\AT_Commands_Scenario.txt")),
      events_(std::move(events)),
      idle_timer_(clock.CreateTimer([this] { IdleTick(); })) {
  idle_timer_->SetInterval(kIdleTickMs);
  port_.SetEvents({.OnComm = [this] { OnComm(); }});
}

ModemChannel::~ModemChannel() { port_.SetEvents({}); }

void ModemChannel::Log(const std::string& text, int32_t code,
                       const char* source) {
  journal_.LogSys(text, code, source);
}

int32_t ModemChannel::CommConnect(int32_t port,
                                  const std::string& /*command_set*/) {
  FillATCommands();
  const std::string number = std::to_string(port);
  int32_t code = port < std::numeric_limits<int16_t>::min() ||
                         port > std::numeric_limits<int16_t>::max()
                     ? kCommPortInvalid
                     : port_.SetCommPort(static_cast<int16_t>(port));
  if (code == 0 && !port_.PortOpen()) code = port_.SetPortOpen(true);
  if (code != 0) return code;
  if (!port_.PortOpen()) return kCommPortNotOpen;
  port_.SetRThreshold(1);
  port_.SetInputLen(1);
  if (commands_.empty()) {
    Log(kNoCommandText + number, kNoCommandError, "CommConnect");
    return 0;
  }
  Log("AT COMMAND:" + commands_.front(), 0, "CommConnect");
  code = port_.Output(commands_.front() + kCr);
  if (code != 0) return code;
  Log("Success open comm port" + number, 0, "CommConnect");
  return 0;
}

void ModemChannel::CommDisconnect() {
  if (!port_.PortOpen()) return;
  const int32_t code = port_.SetPortOpen(false);
  if (code != 0) {
    Log(port_.ErrorText(code) + std::to_string(port_.CommPort()), code,
        "CommDisconnect");
  }
}

void ModemChannel::InitVals() {
  caller_name_ = kUnknown;
  caller_number_ = kUnknown;
  incoming_announced_ = false;
  caller_id_handled_ = false;
  idle_ticks_ = 0;
  comm_rings_ = 0;
}

void ModemChannel::FillATCommands() {
  commands_.clear();
  std::ifstream in(scenario_path_, std::ios::binary);
  if (!in) {
    // Created empty, so that the owner finds where the scenario belongs.
    std::ofstream create(scenario_path_, std::ios::binary | std::ios::app);
    return;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line.front() == '\'') continue;
    commands_.push_back(line);
  }
}

void ModemChannel::StopIdleTimer() { idle_timer_->SetEnabled(false); }

void ModemChannel::OnComm() {
  if (port_.CommEvent() == kCommEvPortLost) {
    // The modem went away: the port is closed, and the next connect (after
    // the owner plugs it in again and switches the line on) opens it anew.
    Log("Comm port " + std::to_string(port_.CommPort()) +
            " lost: the modem stopped answering; closed until the next connect",
        0, "OnComm");
    CommDisconnect();
    if (events_.PortLost) events_.PortLost();
    return;
  }
  if (port_.CommEvent() == kCommEvReceive) {
    while (port_.PortOpen() && port_.InBufferCount() > 0) {
      const std::string got = port_.Input();
      if (got.empty()) break;
      for (const char c : got) {
        if (skip_next_) {
          skip_next_ = false;
        } else if (c == kDle) {
          // The modem's two-character shielded codes are not text.
          skip_next_ = true;
        } else if (c == kCr) {
          const std::string line = std::move(line_buffer_);
          line_buffer_.clear();
          ProcessEvent(line);
        } else if (line_buffer_.size() < kMaxLineLength) {
          line_buffer_ += c;
        }
      }
    }
  }
  RingTriggers();
}

void ModemChannel::ProcessEvent(const std::string& report) {
  if (report.empty()) return;
  // Modems write their reports as "NMBR = 5551234"; the rules below count
  // the form with one separator, "NMBR=5551234", so the blanks around the
  // "=" are taken out first.
  std::string line = report;
  if (line.size() >= 8 && line.compare(5, 3, " = ") == 0)
    line.erase(5, 2).replace(5, 1, "=");
  const std::string key = line.substr(1, 4);
  const std::string value = line.size() > 6 ? line.substr(6) : "";
  if (key == "OK") {
    NextCommand(":OK");
  } else if (key == "ERRO") {
    // The failed command is dropped and the scenario goes on.
    NextCommand(":ERROR");
  } else if (key == "RING") {
    name_received_ = false;
    number_received_ = false;
    ++comm_rings_;
    if (events_.Ring) events_.Ring();
  } else if (key == "NAME") {
    if (line.size() > 6) {
      caller_name_ = value;
      name_received_ = true;
    }
  } else if (key == "NMBR") {
    caller_number_ = value;
    number_received_ = true;
  } else if (key == "MESG") {
    if (line.size() == kMesgAbsentLength) {
      // One value withheld: the number when it has not come, else the name.
      if (!number_received_) {
        caller_number_ = kUnknown;
        number_received_ = true;
      } else if (!name_received_) {
        caller_name_ = kUnknown;
        name_received_ = true;
      }
    } else if (line.size() >= kMesgLongLength) {
      // A long report is not read; it never replaces a received name.
      number_received_ = true;
      if (!name_received_) caller_name_ = kUnknown;
    }
  }
  // DATE and TIME are recognised and take no part; other keys are ignored.
}

void ModemChannel::NextCommand(const char* reply) {
  if (commands_.empty()) return;
  commands_.pop_front();
  if (commands_.empty()) return;
  Log("AT COMMAND:" + commands_.front() + reply, 0, "ProcessEvent");
  port_.Output(commands_.front() + kCr);
}

void ModemChannel::RingTriggers() {
  if (comm_rings_ == 1 && !incoming_announced_) {
    incoming_announced_ = true;
    idle_ticks_ = 0;
    idle_timer_->SetEnabled(true);
    if (events_.IncomingCall) events_.IncomingCall();
  }
  if (comm_rings_ == 2 && !caller_id_handled_) {
    caller_id_handled_ = true;
    idle_ticks_ = 0;
    if (events_.CallerID) events_.CallerID(caller_name_, caller_number_);
  }
  if (comm_rings_ > 3 && events_.HandOver) events_.HandOver();
}

void ModemChannel::IdleTick() {
  if (++idle_ticks_ <= kIdleTicksLimit) return;
  idle_timer_->SetEnabled(false);
  if (events_.Idle) events_.Idle();
  InitVals();
}

}  // namespace lw
