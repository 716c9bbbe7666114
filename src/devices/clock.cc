#include "devices/clock.h"

namespace lw {
namespace {

// Howard Hinnant's days_from_civil / civil_from_days.
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

}  // namespace

int64_t ToCivilSeconds(const LocalDateTime& t) {
  int64_t days = DaysFromCivil(t.year, static_cast<unsigned>(t.month),
                               static_cast<unsigned>(t.day));
  return days * 86400 + int64_t{t.hour} * 3600 + int64_t{t.minute} * 60 +
         t.second;
}

LocalDateTime FromCivilSeconds(int64_t seconds) {
  int64_t days = seconds >= 0 ? seconds / 86400 : (seconds - 86399) / 86400;
  int64_t rem = seconds - days * 86400;
  LocalDateTime out;
  out.hour = static_cast<int>(rem / 3600);
  out.minute = static_cast<int>(rem % 3600 / 60);
  out.second = static_cast<int>(rem % 60);
  out.weekday =
      static_cast<int>(days >= -4 ? (days + 4) % 7 : (days + 5) % 7 + 6);
  int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  out.year = static_cast<int>(static_cast<int64_t>(yoe) + era * 400 + (m <= 2));
  out.month = static_cast<int>(m);
  out.day = static_cast<int>(d);
  return out;
}

}  // namespace lw
