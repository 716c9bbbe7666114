// The auto mode schedule: the line is open inside a daily window between a
// switch-on and a switch-off time of day, closed outside it.
#pragma once

#include <string>

#include "devices/clock.h"

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

}  // namespace lw
