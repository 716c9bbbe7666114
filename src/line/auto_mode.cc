#include "line/auto_mode.h"

#include <optional>

#include "journal/regional.h"

namespace lw {
namespace {

// Seconds since midnight of a time of day text; nullopt when it is none.
std::optional<int> SecondOfDay(const std::string& text) {
  const std::optional<LocalDateTime> t = ParseTimeOfDay(text);
  if (!t) return std::nullopt;
  return t->hour * 3600 + t->minute * 60 + t->second;
}

}  // namespace

bool IsInTimeWindow(const std::string& TimeOn, const std::string& TimeOff,
                    const LocalDateTime& now) {
  const std::optional<int> on = SecondOfDay(TimeOn);
  const std::optional<int> off = SecondOfDay(TimeOff);
  if (!on || !off) return false;
  const int at = now.hour * 3600 + now.minute * 60 + now.second;
  if (*off > *on) return *on < at && at < *off;
  if (*off < *on) return at > *on || at < *off;
  return false;
}

bool IsTimeWindowText(const std::string& TimeOn, const std::string& TimeOff) {
  return SecondOfDay(TimeOn) && SecondOfDay(TimeOff);
}

}  // namespace lw
