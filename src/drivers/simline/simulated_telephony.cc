#include "drivers/simline/simulated_telephony.h"

namespace lw {

SimulatedTelephony::SimulatedTelephony(SimulatedLine& line) : line_(line) {
  line_.Attach(this);
}

SimulatedTelephony::~SimulatedTelephony() {
  if (open_) {
    open_ = false;
    line_.ControlClosed();
  }
  line_.Detach(this);
}

int32_t SimulatedTelephony::GetDeviceCaps(DeviceInfo& info) {
  if (!ValidDevice()) {
    info = DeviceInfo();
    return kSimLineBadDevice;
  }
  info.Name = SimulatedLine::kDeviceName;
  info.TapiCapable = true;
  info.VoiceCapable = true;
  info.MonitorDigits = true;
  return 0;
}

int32_t SimulatedTelephony::LineOpen(int32_t, int32_t) {
  // Every privilege and media mode the line controller asks for is granted:
  // the simulated line has no serial port that could hold it.
  if (open_) return kSimLineAlreadyOpen;
  if (!ValidDevice()) return kSimLineBadDevice;
  open_ = true;
  monitoring_ = false;
  line_.ControlOpened(this);
  return 0;
}

int32_t SimulatedTelephony::LineClose() {
  if (!open_) return kSimLineNotOpen;
  open_ = false;
  monitoring_ = false;
  line_.ControlClosed();
  return 0;
}

int32_t SimulatedTelephony::LineShutdown() {
  if (open_) LineClose();
  return 0;
}

int32_t SimulatedTelephony::LineAnswer() {
  if (!open_) return kSimLineNotOpen;
  return line_.Answer(this);
}

int32_t SimulatedTelephony::LineDrop() {
  if (!open_) return kSimLineNotOpen;
  return line_.Drop();
}

int32_t SimulatedTelephony::LineMonitorDigits(bool on) {
  if (!open_) return kSimLineNotOpen;
  monitoring_ = on;
  return 0;
}

int32_t SimulatedTelephony::MakeCall(const std::string& number,
                                     std::string& call_text) {
  call_text.clear();
  if (!open_) return kSimLineNotOpen;
  const int32_t result = line_.Dial(number);
  if (result == 0) call_text = number;
  return result;
}

int32_t SimulatedTelephony::GetDeviceID(int16_t device_class) {
  if (!ValidDevice()) return -1;
  switch (device_class) {
    case kDeviceClassWaveIn:
      return line_.wave_in();
    case kDeviceClassWaveOut:
      return line_.wave_out();
    default:
      // No serial port: the modem side of the simulated line comes later.
      return -1;
  }
}

bool SimulatedTelephony::IsCallActive() {
  return open_ && line_.call_state() == SimulatedLine::CallState::kConnected;
}

std::string SimulatedTelephony::GetErrorText(int32_t code) {
  switch (code) {
    case 0:
      return "Success";
    case kSimLineNotOpen:
      return "The line is not open";
    case kSimLineAlreadyOpen:
      return "The line is already open";
    case kSimLineBadDevice:
      return "No such line device";
    case kSimLineNoCall:
      return "There is no call";
    case kSimLineCallExists:
      return "The line already has a call";
    case kSimLineBadState:
      return "The call cannot be answered in its state";
    default:
      return "Unknown error " + std::to_string(code);
  }
}

}  // namespace lw
