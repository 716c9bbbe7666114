#include "devices/fake/fake_telephony.h"

#include <algorithm>

namespace lw {

namespace {

std::string Bool(bool b) { return b ? "True" : "False"; }

}  // namespace

// ---------------------------------------------------------------- FakeLine

FakeLine::FakeLine(Clock& clock) : queue_(clock) { AddDevice("Fake Line"); }

FakeLine::~FakeLine() = default;

int32_t FakeLine::AddDevice(const std::string& name) {
  const auto i = static_cast<int32_t>(devices_.size());
  FakeLineDevice d;
  d.info = {name, true, true, true};
  d.wave_in = 2 * i + 1;
  d.wave_out = 2 * i + 2;
  d.serial_port = i + 1;
  devices_.push_back(d);
  return i;
}

void FakeLine::Detach(FakeTelephony* t) {
  instances_.erase(std::remove(instances_.begin(), instances_.end(), t),
                   instances_.end());
}

void FakeLine::ForEachOpen(const std::function<void(FakeTelephony&)>& raise) {
  const std::vector<FakeTelephony*> snapshot = instances_;
  for (FakeTelephony* t : snapshot) {
    // A handler may have closed a line or destroyed an instance meanwhile.
    if (std::find(instances_.begin(), instances_.end(), t) ==
        instances_.end()) {
      continue;
    }
    if (t->open_) raise(*t);
  }
}

int32_t FakeLine::open_lines() const {
  return static_cast<int32_t>(
      std::count_if(instances_.begin(), instances_.end(),
                    [](const FakeTelephony* t) { return t->open_; }));
}

void FakeLine::EndCall() {
  state_ = CallState::kNone;
  rings_ = 0;
  picked_up_ = false;
  for (FakeTelephony* t : instances_) t->monitoring_ = false;
}

bool FakeLine::Offer() {
  if (state_ != CallState::kNone) return false;
  state_ = CallState::kOffered;
  rings_ = 0;
  picked_up_ = false;
  ForEachOpen([](FakeTelephony& t) {
    if (t.events_.InComeCall) t.events_.InComeCall();
  });
  return true;
}

bool FakeLine::Ring() {
  if (state_ != CallState::kOffered || picked_up_) return false;
  const int32_t count = ++rings_;
  ForEachOpen([count](FakeTelephony& t) {
    if (t.events_.Ring) t.events_.Ring(count);
  });
  return true;
}

bool FakeLine::CallerId(const std::string& name, const std::string& number) {
  if (state_ != CallState::kOffered) return false;
  ForEachOpen([&name, &number](FakeTelephony& t) {
    if (t.events_.CallerID) t.events_.CallerID(name, number);
  });
  return true;
}

bool FakeLine::PickUpExtension() {
  if (state_ != CallState::kOffered || picked_up_) return false;
  picked_up_ = true;
  return true;
}

bool FakeLine::FarEndHangup() {
  switch (state_) {
    case CallState::kConnected:
      state_ = CallState::kDisconnected;
      ForEachOpen([](FakeTelephony& t) {
        if (t.events_.Disconnected) t.events_.Disconnected();
      });
      return true;
    case CallState::kOffered:
    case CallState::kDialing:
      EndCall();
      ForEachOpen([](FakeTelephony& t) {
        if (t.events_.Idle) t.events_.Idle();
      });
      return true;
    default:
      return false;
  }
}

bool FakeLine::Digits(const std::string& digits) {
  bool heard = false;
  for (char c : digits) {
    if (state_ != CallState::kConnected) break;
    const std::string digit(1, c);
    ForEachOpen([&](FakeTelephony& t) {
      if (!t.monitoring_) return;
      heard = true;
      if (t.events_.MonitorDigit) t.events_.MonitorDigit(digit);
    });
  }
  return heard;
}

bool FakeLine::AnswerOutgoing() {
  if (state_ != CallState::kDialing) return false;
  state_ = CallState::kConnected;
  ForEachOpen([](FakeTelephony& t) {
    if (t.events_.Connected) t.events_.Connected();
  });
  return true;
}

// ----------------------------------------------------------- FakeTelephony

FakeTelephony::FakeTelephony(FakeLine& line) : line_(line) {
  line_.Attach(this);
}

FakeTelephony::~FakeTelephony() { line_.Detach(this); }

void FakeTelephony::Log(const std::string& op) {
  ops_.push_back(op);
  line_.Log(op);
}

int32_t FakeTelephony::LineInitialize() {
  Log("LineInitialize");
  return line_.faults_.initialize_result;
}

void FakeTelephony::SetDeviceIndex(int32_t index) {
  Log("DeviceIndex=" + std::to_string(index));
  device_index_ = index;
}

int32_t FakeTelephony::GetDeviceCaps(DeviceInfo& info) {
  if (device_index_ < 0 || device_index_ >= line_.device_count()) {
    info = DeviceInfo();
    return kFakeTapiBadDevice;
  }
  info = line_.devices_[device_index_].info;
  return 0;
}

int32_t FakeTelephony::LineOpen(int32_t privileges, int32_t media_modes) {
  Log("LineOpen(" + std::to_string(privileges) + "," +
      std::to_string(media_modes) + ")");
  if (open_) return kFakeTapiAlreadyOpen;
  if (device_index_ < 0 || device_index_ >= line_.device_count()) {
    return kFakeTapiBadDevice;
  }
  if (line_.faults_.open_result != 0) return line_.faults_.open_result;
  open_ = true;
  open_device_ = device_index_;
  monitoring_ = false;
  if (line_.state_ == FakeLine::CallState::kOffered) {
    // The call was ringing before the line opened: report it now.
    FakeLine* line = &line_;
    line_.queue_.Post([line, self = this] {
      const auto& all = line->instances_;
      if (std::find(all.begin(), all.end(), self) == all.end()) return;
      if (!self->open_ || line->state_ != FakeLine::CallState::kOffered) return;
      if (self->events_.InComeCall) self->events_.InComeCall();
    });
  }
  return 0;
}

int32_t FakeTelephony::LineClose() {
  Log("LineClose");
  if (!open_) return kFakeTapiNotOpen;
  if (line_.faults_.close_result != 0) return line_.faults_.close_result;
  open_ = false;
  monitoring_ = false;
  // With no line left open, a call on it is abandoned; a ringing call goes
  // on ringing at the far end.
  if (line_.open_lines() == 0 &&
      line_.state_ != FakeLine::CallState::kOffered &&
      line_.state_ != FakeLine::CallState::kNone) {
    line_.EndCall();
  }
  return 0;
}

int32_t FakeTelephony::LineShutdown() {
  Log("LineShutdown");
  if (line_.faults_.shutdown_result != 0) return line_.faults_.shutdown_result;
  if (open_) {
    open_ = false;
    monitoring_ = false;
    if (line_.open_lines() == 0 &&
        line_.state_ != FakeLine::CallState::kOffered &&
        line_.state_ != FakeLine::CallState::kNone) {
      line_.EndCall();
    }
  }
  return 0;
}

int32_t FakeTelephony::LineAnswer() {
  Log("LineAnswer");
  if (!open_) return kFakeTapiNotOpen;
  if (line_.state_ != FakeLine::CallState::kOffered) return kFakeTapiNoCall;
  if (line_.faults_.answer_result != 0) return line_.faults_.answer_result;
  FakeLine* line = &line_;
  line_.queue_.Post([line] {
    // The caller may have given up before the line went off-hook.
    if (line->state_ != FakeLine::CallState::kOffered) return;
    line->state_ = FakeLine::CallState::kConnected;
    line->ForEachOpen([](FakeTelephony& t) {
      if (t.events_.Connected) t.events_.Connected();
    });
  });
  return 0;
}

int32_t FakeTelephony::LineDrop() {
  Log("LineDrop");
  if (!open_) return kFakeTapiNotOpen;
  if (line_.state_ == FakeLine::CallState::kNone) return kFakeTapiNoCall;
  if (line_.faults_.drop_result != 0) return line_.faults_.drop_result;
  line_.EndCall();
  FakeLine* line = &line_;
  line_.queue_.Post([line] {
    line->ForEachOpen([](FakeTelephony& t) {
      if (t.events_.Idle) t.events_.Idle();
    });
  });
  return 0;
}

int32_t FakeTelephony::LineMonitorDigits(bool on) {
  Log("LineMonitorDigits(" + Bool(on) + ")");
  if (!open_) return kFakeTapiNotOpen;
  if (line_.faults_.monitor_result != 0) return line_.faults_.monitor_result;
  monitoring_ = on;
  return 0;
}

int32_t FakeTelephony::MakeCall(const std::string& number,
                                std::string& call_text) {
  Log("MakeCall(" + number + ")");
  call_text.clear();
  if (!open_) return kFakeTapiNotOpen;
  if (line_.state_ != FakeLine::CallState::kNone) return kFakeTapiCallExists;
  if (line_.faults_.make_call_result != 0) {
    return line_.faults_.make_call_result;
  }
  line_.state_ = FakeLine::CallState::kDialing;
  line_.dialed_ = number;
  call_text = number;
  FakeLine* line = &line_;
  line_.queue_.Post([line] {
    if (line->state_ != FakeLine::CallState::kDialing) return;
    line->ForEachOpen([](FakeTelephony& t) {
      if (t.events_.Dialing) t.events_.Dialing();
    });
  });
  return 0;
}

int32_t FakeTelephony::GetDeviceID(int16_t device_class) {
  Log("GetDeviceID(" + std::to_string(device_class) + ")");
  if (device_index_ < 0 || device_index_ >= line_.device_count()) return -1;
  const FakeLineDevice& d = line_.devices_[device_index_];
  switch (device_class) {
    case kDeviceClassWaveIn:
      return d.wave_in;
    case kDeviceClassWaveOut:
      return d.wave_out;
    case kDeviceClassSerialPort:
      return d.serial_port != 0 ? d.serial_port : -1;
    default:
      return -1;
  }
}

bool FakeTelephony::IsCallActive() {
  return open_ && line_.state_ == FakeLine::CallState::kConnected;
}

std::string FakeTelephony::GetErrorText(int32_t code) {
  switch (code) {
    case 0:
      return "Success";
    case kFakeTapiNoCall:
      return "No call";
    case kFakeTapiNotOpen:
      return "Line not open";
    case kFakeTapiAlreadyOpen:
      return "Line already open";
    case kFakeTapiBadDevice:
      return "No such device";
    case kFakeTapiDeviceBusy:
      return "Device in use";
    case kFakeTapiCallExists:
      return "A call is in progress";
    default:
      return "Error " + std::to_string(code);
  }
}

}  // namespace lw
