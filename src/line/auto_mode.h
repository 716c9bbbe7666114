// The auto mode schedule: the line is open inside a daily window between a
// switch-on and a switch-off time of day, closed outside it.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "call/process_state.h"
#include "devices/clock.h"
#include "journal/journal.h"

namespace lw {

// Whether `now` lies inside the window from `TimeOn` to `TimeOff`, both ends
// excluded: at exactly the switch-on time the line is still outside, at
// exactly the switch-off time already outside. A switch-off time before the
// switch-on time makes a window across midnight; equal times make a window
// that is never inside. So does a text that is not a time of day (empty,
// or another form): such a window keeps the line closed.
bool IsInTimeWindow(const std::string& TimeOn, const std::string& TimeOff,
                    const LocalDateTime& now);

// Whether both texts are times of day: a window that can ever be inside,
// unless the two are equal.
bool IsTimeWindowText(const std::string& TimeOn, const std::string& TimeOff);

// What auto mode asks of the line it switches.
struct AutoModeLine {
  // A call is in progress: the line is left alone until it ends.
  std::function<bool()> InCall;
  // The line is switched on (open, waiting for its port, or lost).
  std::function<bool()> SwitchedOn;
  // Opens the line (`on`) or closes it.
  std::function<void(bool on)> Switch;
};

// The auto mode timer: while it runs, it applies the window of the process
// state (AutoTimeOn, AutoTimeOff) to the line once a second, between calls.
// The line controller starts it for the AUTO command and stops it when the
// line is switched by hand.
class AutoMode {
 public:
  AutoMode(Clock& clock, Journal& journal, const ProcessState& process,
           AutoModeLine line);
  AutoMode(const AutoMode&) = delete;
  AutoMode& operator=(const AutoMode&) = delete;

  // Makes the timer, stopped; made when the line controller loads.
  void Load();
  // Stops the timer where it runs; nothing before Load.
  void Unload();
  // Switches the timer on or off; only after Load.
  void SetRunning(bool running);

 private:
  // Opens the line when the window has begun and closes it when it has
  // ended, never during a call.
  void Tick();

  Clock& clock_;
  Journal& journal_;
  const ProcessState& process_;
  AutoModeLine line_;
  std::unique_ptr<Timer> auto_mode_timer_;  // 1 s
  // The window (on CR LF off) whose texts were checked last.
  std::string window_checked_;
};

}  // namespace lw
