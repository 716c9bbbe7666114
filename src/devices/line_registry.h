// The line backends of the process, registered by name, and the one
// Telephony over them. The program's entry registers every backend it has;
// each component then makes its own telephony control with NewTelephony.
//
// Device list: the lines of the real backends first, in the order the
// backends were registered, then the lines of the simulated backends (the
// simulated line is always last, so a machine with a modem opens the modem by
// default and one without opens the simulated line as device 0).
//
// Result codes: 0 success; the registry's own codes (kLineNotOpen ...);
// backend k (in registration order) answers in
// [(k + 1) * kLineBackendCodeRange, (k + 2) * kLineBackendCodeRange), with
// its own texts.
//
// Wave device numbers: GetDeviceID answers the wave-in and wave-out numbers
// of the line's audio endpoint (numbered by the LineAudioHub), so no backend
// picks its own.
//
// What the registry keeps per control: the device index, the line it has
// open, whether it monitors digits, the line it lost, its event handlers. It
// defers every line event with Clock::Post (see line_device.h); LineBack also
// reaches the controls that closed the line after it was lost.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devices/clock.h"
#include "devices/line_device.h"
#include "devices/telephony.h"

namespace lw {

// The registry's own result codes.
inline constexpr int32_t kLineNotOpen = 0x101;  // the control's line is closed
inline constexpr int32_t kLineAlreadyOpen = 0x102;  // LineOpen twice
inline constexpr int32_t kLineBadDevice = 0x103;    // index outside the list

class LineRegistry {
 public:
  // `clock` outlives the registry; the registry outlives every control made
  // from it and every backend outlives its registration.
  explicit LineRegistry(Clock& clock);
  ~LineRegistry();
  LineRegistry(const LineRegistry&) = delete;
  LineRegistry& operator=(const LineRegistry&) = delete;

  // Adds a backend under `name` (names are unique; a second registration of
  // a name is refused with false). Lines of `simulated` backends are listed
  // after every other line.
  bool Register(const std::string& name, LineBackend& backend,
                bool simulated = false);
  // The names in registration order.
  std::vector<std::string> Names() const;

  // A new telephony control over every registered line.
  std::unique_ptr<Telephony> NewTelephony();

  // The code a control reports for `code` of `backend` (0 stays 0).
  int32_t ResultCode(const LineBackend& backend, int32_t code) const;

 private:
  class Control;
  friend class Control;
  struct Backend {
    std::string name;
    LineBackend* backend;
    bool simulated;
  };
  struct Line {
    LineDevice* device;
    size_t backend;  // index into backends_
  };
  // The device list as it stands now.
  std::vector<Line> ListLines() const;
  // Wires the events of a line the first time it is listed.
  void Wire(LineDevice* device);
  // Who receives an event: the controls that have the line open, those of
  // them that monitor digits, or also those that had it open when it was
  // lost.
  enum class To { kOpen, kMonitoring, kOpenOrLost };
  static bool Receives(Control& c, LineDevice* device, To to);
  void Raise(LineDevice* device, std::function<void(Control&)> deliver,
             To to = To::kOpen);
  void EndMonitoring(LineDevice* device);
  bool Attached(const Control* c) const;
  int32_t Code(size_t backend, int32_t code) const;
  std::string ErrorText(int32_t code) const;

  Clock& clock_;
  std::vector<Backend> backends_;
  std::vector<LineDevice*> wired_;
  std::vector<Control*> controls_;
  // Cleared when the registry goes away, so posted events find out.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
