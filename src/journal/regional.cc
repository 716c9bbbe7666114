#include "journal/regional.h"

#include <array>
#include <cstdio>

#include "base/text.h"

namespace lw {
namespace {

constexpr std::array<const char*, 7> kDayNames = {
    "Sunday",   "Monday", "Tuesday", "Wednesday",
    "Thursday", "Friday", "Saturday"};
constexpr std::array<const char*, 12> kMonthNames = {
    "January", "February", "March",     "April",   "May",      "June",
    "July",    "August",   "September", "October", "November", "December"};

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30,
                                  31, 31, 30, 31, 30, 31};
  if (month == 2 && IsLeapYear(year)) return 29;
  return kDays[month - 1];
}

// The weekday follows from the date itself, so a record whose weekday field
// was never filled in still reads right.
int WeekdayOf(const LocalDateTime& t) {
  LocalDateTime date_only = t;
  date_only.hour = date_only.minute = date_only.second = 0;
  return FromCivilSeconds(ToCivilSeconds(date_only)).weekday;
}

// Reads 1 to `max_digits` decimal digits at `pos`; moves `pos` past them.
std::optional<int> ReadNumber(std::string_view text, size_t& pos,
                              size_t max_digits) {
  size_t start = pos;
  int value = 0;
  while (pos < text.size() && pos - start < max_digits && text[pos] >= '0' &&
         text[pos] <= '9') {
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (pos == start) return std::nullopt;
  // More digits than allowed: not this form at all.
  if (pos < text.size() && text[pos] >= '0' && text[pos] <= '9') {
    return std::nullopt;
  }
  return value;
}

bool Expect(std::string_view text, size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

char Upper(char c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; }

}  // namespace

std::string ShortDateText(const LocalDateTime& t) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d/%02d/%04d", t.month, t.day, t.year);
  return buf;
}

std::string LongTimeText(const LocalDateTime& t) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", t.hour, t.minute, t.second);
  return buf;
}

std::string LongDateText(const LocalDateTime& t) {
  if (t.month < 1 || t.month > 12) return ShortDateText(t);
  std::string out = kDayNames[static_cast<size_t>(WeekdayOf(t))];
  out += ", ";
  out += kMonthNames[static_cast<size_t>(t.month - 1)];
  out += ' ';
  out += std::to_string(t.day);
  out += ", ";
  out += std::to_string(t.year);
  return out;
}

std::string MediumTimeText(const LocalDateTime& t) {
  int hour12 = t.hour % 12;
  if (hour12 == 0) hour12 = 12;
  char buf[48];
  std::snprintf(buf, sizeof buf, "%02d:%02d %s", hour12, t.minute,
                t.hour >= 12 ? "PM" : "AM");
  return buf;
}

std::optional<LocalDateTime> ParseShortDate(std::string_view text) {
  // Stored fields are blank-padded; blanks around the text are not part of it.
  text = Trim(text, " ");
  size_t pos = 0;
  auto month = ReadNumber(text, pos, 2);
  if (!month || !Expect(text, pos, '/')) return std::nullopt;
  auto day = ReadNumber(text, pos, 2);
  if (!day || !Expect(text, pos, '/')) return std::nullopt;
  size_t year_start = pos;
  auto year = ReadNumber(text, pos, 4);
  // The year is always written in full; "05" would be ambiguous.
  if (!year || pos - year_start != 4 || pos != text.size()) return std::nullopt;
  if (*year < 1 || *month < 1 || *month > 12 || *day < 1 ||
      *day > DaysInMonth(*year, *month)) {
    return std::nullopt;
  }
  LocalDateTime out;
  out.year = *year;
  out.month = *month;
  out.day = *day;
  out.weekday = WeekdayOf(out);
  return out;
}

namespace {

// The long time form; with `seconds_optional` also the short form "H:mm"
// (seconds 0) in which the desktop application writes a time of day.
std::optional<LocalDateTime> ParseTime(std::string_view text,
                                       bool seconds_optional) {
  text = Trim(text, " ");
  // Older records carry the 12-hour form "10:15:30 AM".
  int twelve_hour = 0;  // 0: 24-hour form, 1: AM, 2: PM
  if (text.size() >= 2 && Upper(text[text.size() - 1]) == 'M') {
    char half = Upper(text[text.size() - 2]);
    if (half != 'A' && half != 'P') return std::nullopt;
    twelve_hour = half == 'A' ? 1 : 2;
    text.remove_suffix(2);
    if (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  }
  size_t pos = 0;
  auto hour = ReadNumber(text, pos, 2);
  if (!hour || !Expect(text, pos, ':')) return std::nullopt;
  auto minute = ReadNumber(text, pos, 2);
  if (!minute) return std::nullopt;
  std::optional<int> second = 0;
  if (!seconds_optional || pos != text.size()) {
    if (!Expect(text, pos, ':')) return std::nullopt;
    second = ReadNumber(text, pos, 2);
  }
  if (!second || pos != text.size()) return std::nullopt;
  if (*minute > 59 || *second > 59) return std::nullopt;
  int h = *hour;
  if (twelve_hour != 0) {
    if (h < 1 || h > 12) return std::nullopt;
    h %= 12;
    if (twelve_hour == 2) h += 12;
  } else if (h > 23) {
    return std::nullopt;
  }
  LocalDateTime out;
  out.hour = h;
  out.minute = *minute;
  out.second = *second;
  return out;
}

}  // namespace

std::optional<LocalDateTime> ParseLongTime(std::string_view text) {
  return ParseTime(text, false);
}

std::optional<LocalDateTime> ParseTimeOfDay(std::string_view text) {
  return ParseTime(text, true);
}

std::string MakeFileStamp(std::string_view date, std::string_view time,
                          bool dashes) {
  std::string out;
  out.reserve(date.size() + time.size() + 1);
  for (char c : date) {
    if (c != '/') {
      out += c;
    } else if (dashes) {
      out += '-';
    }
  }
  if (time.empty()) return out;
  if (dashes) out += '_';
  for (char c : time) {
    if (c != ':') {
      out += c;
    } else if (dashes) {
      out += '-';
    }
  }
  return out;
}

}  // namespace lw
