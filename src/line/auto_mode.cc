#include "line/auto_mode.h"

#include <optional>
#include <utility>

#include "base/trapped.h"
#include "call/call_line.h"
#include "journal/regional.h"

namespace lw {
namespace {

constexpr uint32_t kAutoModeIntervalMs = 1000;

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

AutoMode::AutoMode(Clock& clock, Journal& journal, const ProcessState& process,
                   AutoModeLine line)
    : clock_(clock),
      journal_(journal),
      process_(process),
      line_(std::move(line)) {}

void AutoMode::Load() {
  auto_mode_timer_ = clock_.CreateTimer([this] { Tick(); });
  auto_mode_timer_->SetInterval(kAutoModeIntervalMs);
}

void AutoMode::Unload() { TimerOff(auto_mode_timer_.get()); }

void AutoMode::SetRunning(bool running) {
  auto_mode_timer_->SetEnabled(running);
}

// A window that ends during a call closes the line at the first tick after
// it.
void AutoMode::Tick() {
  if (line_.InCall()) return;
  Trapped(journal_, "tmrAutoMode_Timer", [&] {
    const std::string& on = process_.AutoTimeOn;
    const std::string& off = process_.AutoTimeOff;
    // Texts that are not times of day keep the line closed; the journal
    // says so once for each such window, not at every tick.
    if (on + "\r\n" + off != window_checked_) {
      window_checked_ = on + "\r\n" + off;
      if (!IsTimeWindowText(on, off)) {
        journal_.LogSys("Auto mode: \"" + JournalShown(on) + "\" to \"" +
                            JournalShown(off) +
                            "\" is not a window between two times of day; "
                            "the line stays closed",
                        0, "tmrAutoMode_Timer");
      }
    }
    const bool inside = IsInTimeWindow(on, off, clock_.Now());
    const bool open = line_.SwitchedOn();
    if (inside && !open) {
      line_.Switch(true);
    } else if (!inside && open) {
      line_.Switch(false);
    }
  });
}

}  // namespace lw
