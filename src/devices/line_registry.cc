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
    GiveUpBackends();
    r_.controls_.erase(
        std::find(r_.controls_.begin(), r_.controls_.end(), this));
  }
  Control(const Control&) = delete;
  Control& operator=(const Control&) = delete;

  void SetEvents(TelephonyEvents events) override {
    events_ = std::move(events);
  }

  int32_t LineInitialize() override {
    int32_t first_failure = 0;
    bool usable = false;
    for (size_t k = 0; k < r_.backends_.size(); ++k) {
      const int32_t result = Initialize(k);
      usable = usable || result == 0;
      if (result != 0 && first_failure == 0) first_failure = result;
    }
    return usable ? 0 : first_failure;
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
    const size_t backend = line->backend;
    const int32_t initialized = Initialize(backend);
    if (initialized != 0) return initialized;
    r_.Wire(device);
    const int32_t result = device->Open(privileges, media_modes);
    if (result != 0) return r_.Code(backend, result);
    line_ = device;
    backend_ = backend;
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
    // A line that does not close keeps its backend initialised.
    const int32_t closed = line_ != nullptr ? CloseLine() : 0;
    return closed != 0 ? closed : GiveUpBackends();
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

  DialCapability DialKinds() override {
    LineDevice* device = Addressed();
    return device != nullptr ? device->DialKinds() : DialCapability::kNumbers;
  }

  int32_t GetDeviceID(int16_t device_class) override {
    LineDevice* device = Addressed();
    if (device == nullptr) return -1;
    if (device_class == kDeviceClassWaveIn ||
        device_class == kDeviceClassWaveOut) {
      const LineAudioEndpoint* audio = device->Audio();
      if (audio == nullptr) return -1;
      return device_class == kDeviceClassWaveIn ? audio->wave_in()
                                                : audio->wave_out();
    }
    return device->GetDeviceID(device_class);
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

  // The line a per-device answer is about: the open one, else the one at
  // the device index.
  LineDevice* Addressed() {
    if (line_ != nullptr) return line_;
    const Line* line = Current();
    return line != nullptr ? line->device : nullptr;
  }

  // Initialises backend `k` for this control once.
  int32_t Initialize(size_t k) {
    if (initialized_.size() <= k) initialized_.resize(k + 1, false);
    if (initialized_[k]) return 0;
    const int32_t result = r_.Acquire(k);
    if (result == 0) initialized_[k] = true;
    return result;
  }

  // Gives up every backend this control initialised; the first failure of
  // a shutdown.
  int32_t GiveUpBackends() {
    int32_t first_failure = 0;
    for (size_t k = 0; k < initialized_.size(); ++k) {
      if (!initialized_[k]) continue;
      initialized_[k] = false;
      const int32_t result = r_.Release(k);
      if (result != 0 && first_failure == 0) first_failure = result;
    }
    return first_failure;
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
  std::vector<bool> initialized_;  // by backend index
};

LineRegistry::LineRegistry(Clock& clock) : clock_(clock) {}

LineRegistry::~LineRegistry() { *alive_ = false; }

bool LineRegistry::Register(const std::string& name, LineBackend& backend,
                            bool simulated) {
  int32_t code_range = kUnlistedBackendCodeRange;
  for (const Backend& b : backends_) {
    if (b.name == name) return false;
    if (b.code_range >= code_range) code_range = b.code_range + 1;
  }
  for (const auto& [listed, range] : kLineBackendCodeRanges)
    if (listed == name) code_range = range;
  backends_.push_back({name, &backend, simulated, code_range});
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
      // A backend that failed to initialise offers no line until it works.
      if (backends_[k].simulated != simulated || backends_[k].failed) continue;
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
  return backends_[backend].code_range * kLineBackendCodeRange + code;
}

int32_t LineRegistry::Acquire(size_t k) {
  Backend& b = backends_[k];
  if (b.users == 0) {
    const int32_t result = b.backend->Initialize();
    if (result != 0) {
      const int32_t code = Code(k, result);
      // Reported when it starts failing, not at every retry.
      if (!b.failed && report_) report_(b.name, code, ErrorText(code));
      b.failed = true;
      return code;
    }
    b.failed = false;
  }
  ++b.users;
  return 0;
}

int32_t LineRegistry::Release(size_t k) {
  Backend& b = backends_[k];
  if (b.users == 0 || --b.users > 0) return 0;
  return Code(k, b.backend->Shutdown());
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
  for (const Backend& b : backends_)
    if (code > 0 && code / kLineBackendCodeRange == b.code_range)
      return b.backend->ErrorText(code % kLineBackendCodeRange);
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
