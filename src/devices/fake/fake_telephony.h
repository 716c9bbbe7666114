// The telephone line for tests: FakeLine is the far end and the switchboard
// (a test scripts the caller with it), FakeTelephony the telephony control
// the code under test holds. Several FakeTelephony instances share one
// FakeLine, so the process controller's and the line controller's controls
// see the same device list and the same call.
//
// Timing: what the far end does (Offer, Ring, CallerId, FarEndHangup,
// Digits, AnswerOutgoing) raises its events at once, as the loop would
// deliver them. What the code's own operations cause (Connected after
// LineAnswer, Idle after LineDrop, Dialing after MakeCall, InComeCall after
// a LineOpen while a call rings) arrives through the event queue: 1 ms of
// virtual time later.
//
// Events go to every instance whose line is open. The one call of the line
// lives here: offered (ringing), dialling, connected, disconnected (the far
// end hung up, waiting for LineDrop), or none. The FakeLine outlives its
// FakeTelephony instances.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "devices/clock.h"
#include "devices/fake/fake_event_queue.h"
#include "devices/telephony.h"

namespace lw {

class FakeTelephony;

// Result codes of the fakes (0 = success).
inline constexpr int32_t kFakeTapiNoCall = 101;   // no call to act on
inline constexpr int32_t kFakeTapiNotOpen = 102;  // the line is closed
inline constexpr int32_t kFakeTapiAlreadyOpen = 103;
inline constexpr int32_t kFakeTapiBadDevice = 104;   // index out of range
inline constexpr int32_t kFakeTapiDeviceBusy = 105;  // modem in use
inline constexpr int32_t kFakeTapiCallExists = 106;  // MakeCall during a call

struct FakeLineDevice {
  DeviceInfo info;
  int32_t wave_in = 0;
  int32_t wave_out = 0;
  int32_t serial_port = 0;  // 0: the device has no serial port
};

class FakeLine {
 public:
  enum class CallState { kNone, kOffered, kDialing, kConnected, kDisconnected };

  // Starts with one device: "Fake Line", all capabilities, wave in 1, wave
  // out 2, serial port 1.
  explicit FakeLine(Clock& clock);
  ~FakeLine();
  FakeLine(const FakeLine&) = delete;
  FakeLine& operator=(const FakeLine&) = delete;

  // --- The device list.
  // Appends a device with all capabilities and the endpoints wave in
  // 2i+1, wave out 2i+2, serial port i+1 (i = its index); returns i.
  int32_t AddDevice(const std::string& name);
  FakeLineDevice& device(int32_t index) { return devices_.at(index); }
  int32_t device_count() const { return static_cast<int32_t>(devices_.size()); }

  // --- The far end. Each returns false (and does nothing) when the call is
  // not in a state where it makes sense.
  // A new incoming call (no call yet): InComeCall.
  bool Offer();
  // The offered call rings again: Ring(count).
  bool Ring();
  // Caller identification of the offered call: CallerID(name, number).
  bool CallerId(const std::string& name, const std::string& number);
  // Somebody lifts an extension: the offered call stops ringing (Ring
  // refuses from now on) but stays offered; no event.
  bool PickUpExtension();
  // The far end hangs up: a connected call gets Disconnected (the call stays
  // until LineDrop), an offered or dialled one ends with Idle.
  bool FarEndHangup();
  // Keypad digits of the connected call: one MonitorDigit per character to
  // each open instance that monitors digits. False when nobody listened.
  bool Digits(const std::string& digits);
  // The far end answers the outgoing call: Connected.
  bool AnswerOutgoing();

  // --- Observation.
  CallState call_state() const { return state_; }
  int32_t rings() const { return rings_; }
  // The number of the last MakeCall.
  const std::string& dialed_number() const { return dialed_; }
  // Every operation of every instance that changes something, in order:
  // "LineInitialize", "DeviceIndex=1", "LineOpen(6,6)", "LineClose",
  // "LineShutdown", "LineAnswer", "LineDrop", "LineMonitorDigits(True)",
  // "MakeCall(5551234)", "GetDeviceID(22)". Failed ones too.
  const std::vector<std::string>& ops() const { return ops_; }
  void ClearOps() { ops_.clear(); }
  int32_t open_lines() const;

  // --- Fault switches: the result an operation returns instead of
  // succeeding. A failing operation changes nothing.
  struct Faults {
    int32_t initialize_result = 0;
    int32_t open_result = 0;
    int32_t close_result = 0;
    int32_t shutdown_result = 0;
    int32_t answer_result = 0;
    int32_t drop_result = 0;
    int32_t monitor_result = 0;
    int32_t make_call_result = 0;
  };
  Faults& faults() { return faults_; }

 private:
  friend class FakeTelephony;
  void Attach(FakeTelephony* t) { instances_.push_back(t); }
  void Detach(FakeTelephony* t);
  void Log(std::string op) { ops_.push_back(std::move(op)); }
  // Runs `raise` for every instance whose line is open (the list may
  // change while it runs).
  void ForEachOpen(const std::function<void(FakeTelephony&)>& raise);
  void EndCall();

  std::vector<FakeLineDevice> devices_;
  std::vector<FakeTelephony*> instances_;
  std::vector<std::string> ops_;
  Faults faults_;
  CallState state_ = CallState::kNone;
  int32_t rings_ = 0;
  bool picked_up_ = false;
  std::string dialed_;
  FakeEventQueue queue_;
};

class FakeTelephony : public Telephony {
 public:
  explicit FakeTelephony(FakeLine& line);
  ~FakeTelephony() override;

  void SetEvents(TelephonyEvents events) override {
    events_ = std::move(events);
  }
  int32_t LineInitialize() override;
  int32_t GetNumDevices() override { return line_.device_count(); }
  void SetDeviceIndex(int32_t index) override;
  int32_t DeviceIndex() override { return device_index_; }
  int32_t GetDeviceCaps(DeviceInfo& info) override;
  int32_t LineOpen(int32_t privileges, int32_t media_modes) override;
  int32_t LineClose() override;
  int32_t LineShutdown() override;
  bool IsLineOpen() override { return open_; }
  int32_t LineAnswer() override;
  int32_t LineDrop() override;
  int32_t LineMonitorDigits(bool on) override;
  int32_t MakeCall(const std::string& number, std::string& call_text) override;
  int32_t GetDeviceID(int16_t device_class) override;
  bool IsCallActive() override;
  std::string GetErrorText(int32_t code) override;

  // Observation.
  const std::vector<std::string>& ops() const { return ops_; }
  bool monitoring_digits() const { return monitoring_; }
  // The device whose line is open (-1 when closed).
  int32_t open_device() const { return open_ ? open_device_ : -1; }
  const TelephonyEvents& events() const { return events_; }

 private:
  friend class FakeLine;
  void Log(const std::string& op);

  FakeLine& line_;
  TelephonyEvents events_;
  std::vector<std::string> ops_;
  int32_t device_index_ = 0;
  int32_t open_device_ = 0;
  bool open_ = false;
  bool monitoring_ = false;
};

}  // namespace lw
