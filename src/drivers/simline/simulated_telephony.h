// The telephony control over the simulated line: one device, "Linewarden
// Simulated Line", able to carry calls, play and record, and report keypad
// digits. Each component makes its own instance on the process's one
// SimulatedLine; only instances whose line is open get the call's events.
//
// Toward several line drivers: today the device list is this one line. When
// real lines come (voice modems, SIP), each will be a line driver with the
// same per-device operations as SimulatedLine offers its controls here
// (open/close for one control, answer, drop, dial, digit monitoring, device
// caps, endpoint numbers, events to the open controls), and one composite
// Telephony will list the real lines first and the simulated line last,
// keep DeviceIndex, and route every operation to the driver of the device
// it addresses (the line opened by LineOpen for the call operations). This
// class then becomes that composite's driver for the simulated line; its
// per-instance state (open, monitoring, handlers) is what the composite
// keeps per control.
#pragma once

#include <cstdint>
#include <string>

#include "devices/telephony.h"
#include "drivers/simline/simulated_line.h"

namespace lw {

// Result codes other than 0.
inline constexpr int32_t kSimLineNotOpen = 0x101;      // the line is closed
inline constexpr int32_t kSimLineAlreadyOpen = 0x102;  // LineOpen twice
inline constexpr int32_t kSimLineBadDevice = 0x103;    // index out of range
inline constexpr int32_t kSimLineNoCall = 0x104;       // no call to act on
inline constexpr int32_t kSimLineCallExists = 0x105;   // MakeCall during a call
inline constexpr int32_t kSimLineBadState = 0x106;     // call not answerable

class SimulatedTelephony : public Telephony {
 public:
  explicit SimulatedTelephony(SimulatedLine& line);
  ~SimulatedTelephony() override;
  SimulatedTelephony(const SimulatedTelephony&) = delete;
  SimulatedTelephony& operator=(const SimulatedTelephony&) = delete;

  void SetEvents(TelephonyEvents events) override {
    events_ = std::move(events);
  }
  int32_t LineInitialize() override { return 0; }
  int32_t GetNumDevices() override { return 1; }
  void SetDeviceIndex(int32_t index) override { device_index_ = index; }
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

  bool monitoring_digits() const { return monitoring_; }

 private:
  friend class SimulatedLine;
  bool ValidDevice() const { return device_index_ == 0; }

  SimulatedLine& line_;
  TelephonyEvents events_;
  int32_t device_index_ = 0;
  bool open_ = false;
  bool monitoring_ = false;
};

}  // namespace lw
