// Time as a device: the tick counter, the local wall clock, timers and the
// busy wait. Everything in the logic that needs time goes through a Clock, so
// tests can run a whole call (rings 5 s apart, 13 s idle timers, 2-minute
// limits) in virtual time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace lw {

// Local calendar date and time of day, as the regional module formats it.
struct LocalDateTime {
  int year = 2000;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;   // 0..23
  int minute = 0;
  int second = 0;
  int weekday = 6;  // 0 = Sunday .. 6 = Saturday

  friend bool operator==(const LocalDateTime&, const LocalDateTime&) = default;
};

// A periodic timer with the two properties the line logic works with.
// While enabled and Interval > 0, the handler runs every Interval
// milliseconds on the loop thread. Enabling a disabled timer, or changing the
// Interval of an enabled one, starts a fresh countdown. Disabling cancels a
// pending run; a handler may disable or re-arm its own timer.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void SetInterval(uint32_t ms) = 0;
  virtual uint32_t Interval() const = 0;
  virtual void SetEnabled(bool enabled) = 0;
  virtual bool Enabled() const = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;

  // Milliseconds since an arbitrary start, wrapping at 2^32 like the
  // system tick counter. Compare ticks with unsigned subtraction.
  virtual uint32_t TickCount() = 0;

  // The local date and time now.
  virtual LocalDateTime Now() = 0;

  // Busy wait of `tenths` tenths of a second: the caller's thread is held and
  // no other handler runs meanwhile.
  virtual void Pause(int tenths) = 0;

  // A new timer, disabled, Interval 0. `on_tick` runs on the loop thread.
  virtual std::unique_ptr<Timer> CreateTimer(std::function<void()> on_tick) = 0;

  // Runs `event` on the loop thread after the caller has returned, events in
  // the order they were posted. Drivers hand their events to the loop here,
  // never by raising them inside an operation, so that under a virtual clock
  // they run in virtual time like the timers. The real clock accepts posts
  // from any thread. An exception leaving `event` is swallowed: handlers
  // journal their own failures.
  virtual void Post(std::function<void()> event) = 0;
};

}  // namespace lw

namespace lw {
// Calendar arithmetic on local civil time (no time zones involved):
// seconds since 1970-01-01 00:00:00 and back, weekday filled in.
int64_t ToCivilSeconds(const LocalDateTime& t);
LocalDateTime FromCivilSeconds(int64_t seconds);
}  // namespace lw
