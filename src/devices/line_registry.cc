#include "devices/line_registry.h"

#include <algorithm>

namespace lw {

// One component's telephony control: the per-control state over the lines.
class LineRegistry::Control : public Telephony {
 public:
  explicit Control(LineRegistry& registry) : r_(registry) {
    r_.controls_.push_back(this);
  }
  ~Control() override {
    if (line_ != nullptr) CloseLine();
    r_.controls_.erase(
        std::find(r_.controls_.begin(), r_.controls_.end(), this));
  }
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  void SetEvents(TelephonyEvents events) override {
    events_ = std::move(events);
  }

  int32_t LineInitialize() override {
    for (size_t k = 0; k < r_.backends_.size(); ++k) {
      const int32_t result = r_.backends_[k].backend->Initialize();
      if (result != 0) return r_.Code(k, result);
    }
    return 0;
  }

  int32_t GetNumDevices() override {
    return static_cast<int32_t>(r_.ListLines().size());
  }
  void SetDeviceIndex(int32_t index) override { index_ = index; }
  int32_t DeviceIndex() override { return index_; }

  int32_t GetDeviceCaps(DeviceInfo& info) override {
    const Line* line = Current();
    if (line == nullptr) {
      info = DeviceInfo();
      return kLineBadDevice;
    }
    info = line->device->Caps();
    return 0;
  }

  int32_t LineOpen(int32_t privileges, int32_t media_modes) override {
    if (line_ != nullptr) return kLineAlreadyOpen;
    const Line* line = Current();
    if (line == nullptr) return kLineBadDevice;
    LineDevice* device = line->device;
    r_.Wire(device);
    const int32_t result = device->Open(privileges, media_modes);
    if (result != 0) return r_.Code(line->backend, result);
    line_ = device;
    backend_ = line->backend;
    monitoring_ = false;
    lost_ = nullptr;
    if (device->CallOffered()) {
      // The call rang before this control opened the line: report it now.
      std::weak_ptr<bool> alive = r_.alive_;
      LineRegistry* r = &r_;
      r_.clock_.Post([alive, r, self = this, device] {
        if (alive.expired() || !r->Attached(self)) return;
        if (self->line_ != device || !device->CallOffered()) return;
        if (self->events_.InComeCall) self->events_.InComeCall();
      });
    }
    return 0;
  }

  int32_t LineClose() override {
    if (line_ == nullptr) return kLineNotOpen;
    return CloseLine();
  }

  int32_t LineShutdown() override {
    for (size_t k = 0; k < r_.backends_.size(); ++k) {
      const int32_t result = r_.backends_[k].backend->Shutdown();
      if (result != 0) return r_.Code(k, result);
    }
    return line_ != nullptr ? CloseLine() : 0;
  }

  bool IsLineOpen() override { return line_ != nullptr; }

  int32_t LineAnswer() override {
    if (line_ == nullptr) return kLineNotOpen;
    return r_.Code(backend_, line_->Answer());
  }

  int32_t LineDrop() override {
    if (line_ == nullptr) return kLineNotOpen;
    return r_.Code(backend_, line_->Drop());
  }

  int32_t LineMonitorDigits(bool on) override {
    if (line_ == nullptr) return kLineNotOpen;
    const int32_t result = line_->MonitorDigits(on);
    // A refused switch changes nothing.
    if (result == 0) monitoring_ = on;
    return r_.Code(backend_, result);
  }

  int32_t MakeCall(const std::string& number, std::string& call_text) override {
    call_text.clear();
    if (line_ == nullptr) return kLineNotOpen;
    return r_.Code(backend_, line_->Dial(number, call_text));
  }

  bool DialsSipAddresses() override {
    const Line* line = Current();
    return line != nullptr && line->device->DialsSipAddresses();
  }

  int32_t GetDeviceID(int16_t device_class) override {
    const Line* line = Current();
    if (line == nullptr) return -1;
    if (device_class == kDeviceClassWaveIn ||
        device_class == kDeviceClassWaveOut) {
      const LineAudioEndpoint* audio = line->device->Audio();
      if (audio == nullptr) return -1;
      return device_class == kDeviceClassWaveIn ? audio->wave_in()
                                                : audio->wave_out();
    }
    return line->device->GetDeviceID(device_class);
  }

  bool IsCallActive() override {
    return line_ != nullptr && line_->CallActive();
  }

  std::string GetErrorText(int32_t code) override { return r_.ErrorText(code); }

  LineDevice* line() const { return line_; }
  // The line that was lost while this control had it open, until it is back.
  LineDevice*& lost() { return lost_; }
  bool monitoring() const { return monitoring_; }
  void EndMonitoring() { monitoring_ = false; }
  const TelephonyEvents& events() const { return events_; }

 private:
  // The line at the device index, or null.
  const Line* Current() {
    lines_ = r_.ListLines();
    if (index_ < 0 || static_cast<size_t>(index_) >= lines_.size())
      return nullptr;
    return &lines_[static_cast<size_t>(index_)];
  }

  int32_t CloseLine() {
    const int32_t result = line_->Close();
    if (result != 0) return r_.Code(backend_, result);
    line_ = nullptr;
    monitoring_ = false;
    return 0;
  }

  LineRegistry& r_;
  TelephonyEvents events_;
  int32_t index_ = 0;
  LineDevice* line_ = nullptr;  // the line this control has open
  LineDevice* lost_ = nullptr;
  size_t backend_ = 0;  // its backend
  bool monitoring_ = false;
  std::vector<Line> lines_;
};

LineRegistry::LineRegistry(Clock& clock) : clock_(clock) {}

LineRegistry::~LineRegistry() { *alive_ = false; }

bool LineRegistry::Register(const std::string& name, LineBackend& backend,
                            bool simulated) {
  for (const Backend& b : backends_)
    if (b.name == name) return false;
  backends_.push_back({name, &backend, simulated});
  return true;
}

std::vector<std::string> LineRegistry::Names() const {
  std::vector<std::string> names;
  for (const Backend& b : backends_) names.push_back(b.name);
  return names;
}

std::unique_ptr<Telephony> LineRegistry::NewTelephony() {
  return std::make_unique<Control>(*this);
}

std::vector<LineRegistry::Line> LineRegistry::ListLines() const {
  std::vector<Line> lines;
  for (const bool simulated : {false, true}) {
    for (size_t k = 0; k < backends_.size(); ++k) {
      if (backends_[k].simulated != simulated) continue;
      for (LineDevice* d : backends_[k].backend->Lines())
        lines.push_back({d, k});
    }
  }
  return lines;
}

int32_t LineRegistry::ResultCode(const LineBackend& backend,
                                 int32_t code) const {
  for (size_t k = 0; k < backends_.size(); ++k)
    if (backends_[k].backend == &backend) return Code(k, code);
  return code;
}

int32_t LineRegistry::Code(size_t backend, int32_t code) const {
  if (code <= 0 || code >= kLineBackendCodeRange) return code;
  return static_cast<int32_t>(backend + 1) * kLineBackendCodeRange + code;
}

std::string LineRegistry::ErrorText(int32_t code) const {
  switch (code) {
    case 0:
      return "Success";
    case kLineNotOpen:
      return "The line is not open";
    case kLineAlreadyOpen:
      return "The line is already open";
    case kLineBadDevice:
      return "No such line device";
    default:
      break;
  }
  const int32_t k = code / kLineBackendCodeRange - 1;
  if (code > 0 && k >= 0 && static_cast<size_t>(k) < backends_.size())
    return backends_[static_cast<size_t>(k)].backend->ErrorText(
        code % kLineBackendCodeRange);
  return "Unknown error " + std::to_string(code);
}

bool LineRegistry::Attached(const Control* c) const {
  return std::find(controls_.begin(), controls_.end(), c) != controls_.end();
}

void LineRegistry::Wire(LineDevice* device) {
  if (std::find(wired_.begin(), wired_.end(), device) != wired_.end()) return;
  wired_.push_back(device);
  TelephonyEvents e;
  e.InComeCall = [this, device] {
    Raise(device, [](Control& c) {
      if (c.events().InComeCall) c.events().InComeCall();
    });
  };
  e.Ring = [this, device](int32_t count) {
    Raise(device, [count](Control& c) {
      if (c.events().Ring) c.events().Ring(count);
    });
  };
  e.CallerID = [this, device](const std::string& name,
                              const std::string& number) {
    Raise(device, [name, number](Control& c) {
      if (c.events().CallerID) c.events().CallerID(name, number);
    });
  };
  e.Connected = [this, device] {
    Raise(device, [](Control& c) {
      if (c.events().Connected) c.events().Connected();
    });
  };
  e.Disconnected = [this, device] {
    Raise(device, [](Control& c) {
      if (c.events().Disconnected) c.events().Disconnected();
    });
  };
  e.Idle = [this, device] {
    // Digit monitoring belongs to the call.
    EndMonitoring(device);
    Raise(device, [](Control& c) {
      if (c.events().Idle) c.events().Idle();
    });
  };
  e.Dialing = [this, device] {
    Raise(device, [](Control& c) {
      if (c.events().Dialing) c.events().Dialing();
    });
  };
  e.MonitorDigit = [this, device](const std::string& digit) {
    Raise(
        device,
        [digit](Control& c) {
          if (c.events().MonitorDigit) c.events().MonitorDigit(digit);
        },
        To::kMonitoring);
  };
  e.LineLost = [this, device] {
    Raise(device, [device](Control& c) {
      c.lost() = device;
      if (c.events().LineLost) c.events().LineLost();
    });
  };
  e.LineBack = [this, device] {
    Raise(
        device,
        [](Control& c) {
          c.lost() = nullptr;
          if (c.events().LineBack) c.events().LineBack();
        },
        To::kOpenOrLost);
  };
  device->SetEvents(std::move(e));
}

bool LineRegistry::Receives(Control& c, LineDevice* device, To to) {
  if (to == To::kOpenOrLost && c.lost() == device) return true;
  return c.line() == device && (to != To::kMonitoring || c.monitoring());
}

void LineRegistry::Raise(LineDevice* device,
                         std::function<void(Control&)> deliver, To to) {
  // Delivered in the order things happened on the line, to the controls that
  // had it open then and still have (digits: and monitor them).
  std::vector<Control*> open;
  for (Control* c : controls_)
    if (Receives(*c, device, to)) open.push_back(c);
  if (open.empty()) return;
  std::weak_ptr<bool> alive = alive_;
  clock_.Post([this, alive, device, open, to, deliver = std::move(deliver)] {
    if (alive.expired()) return;
    for (Control* c : open) {
      // A handler may have closed a line or destroyed a control meanwhile.
      if (!Attached(c) || !Receives(*c, device, to)) continue;
      deliver(*c);
      if (alive.expired()) return;
    }
  });
}

void LineRegistry::EndMonitoring(LineDevice* device) {
  for (Control* c : controls_)
    if (c->line() == device) c->EndMonitoring();
}

}  // namespace lw
