#include "journal/regional.h"

#include <gtest/gtest.h>

#include <array>
#include <utility>

namespace lw {
namespace {

// The weekday is never filled in: the texts must not depend on it.
LocalDateTime At(int y, int mo, int d, int h, int mi, int s) {
  return LocalDateTime{y, mo, d, h, mi, s, -1};
}

TEST(RegionalTest, TextsAtEdgeTimes) {
  // Short date, long time, long date and medium time.
  const std::pair<LocalDateTime, const char*> cases[] = {
      {At(2026, 12, 4, 0, 5, 9),
       "12/04/2026|00:05:09|Friday, December 4, 2026|12:05 AM"},
      {At(2005, 3, 15, 12, 0, 0),
       "03/15/2005|12:00:00|Tuesday, March 15, 2005|12:00 PM"},
      {At(2024, 2, 29, 23, 59, 59),
       "02/29/2024|23:59:59|Thursday, February 29, 2024|11:59 PM"},
  };
  for (const auto& [t, texts] : cases)
    EXPECT_EQ(ShortDateText(t) + "|" + LongTimeText(t) + "|" + LongDateText(t) +
                  "|" + MediumTimeText(t),
              texts);
}

TEST(RegionalTest, ParseShortDateIsLenientAboutZerosButNotTheForm) {
  const LocalDateTime tuesday{2005, 3, 15, 0, 0, 0, 2};
  for (const char* text : {"3/15/2005", "03/15/2005   "})
    EXPECT_EQ(ParseShortDate(text), tuesday) << text;
  for (const char* text :
       {"13/01/2005", "0/10/2005", "1/0/2005", "4/31/2005", "02/30/2005",
        "2/29/2100", "3/15/05", "3/15/20051", "3/15/0000", "3-15-2005",
        "3//2005", "3/15/2005x", "", "+3/15/2005", "3/ 15/2005"})
    EXPECT_FALSE(ParseShortDate(text).has_value()) << text;
  // A record with month 0 or 13 gives some text rather than a crash.
  EXPECT_EQ(LongDateText(At(2005, 13, 15, 0, 0, 0)), "13/15/2005");
}

TEST(RegionalTest, ShortDateRoundTripsWithWeekday) {
  // every 13th day over forty years, crossing leap days and centuries
  for (int64_t s = ToCivilSeconds(At(1990, 1, 1, 0, 0, 0));
       s < ToCivilSeconds(At(2030, 1, 1, 0, 0, 0)); s += int64_t{13} * 86400) {
    const LocalDateTime t = FromCivilSeconds(s);
    EXPECT_EQ(ParseShortDate(ShortDateText(t)), t) << ShortDateText(t);
  }
}

TEST(RegionalTest, ParseLongTimeReadsBothFormsAndRejectsTheRest) {
  const struct {
    const char* text;
    int hour, minute, second;  // hour -1: not a time
  } cases[] = {
      {"12:00:00 AM", 0, 0, 0},  {"12:30:05 PM", 12, 30, 5},
      {"1:02:03 pm", 13, 2, 3},  {"7:5:9", 7, 5, 9},
      {"9:00:00AM", 9, 0, 0},    {"23:59:59", 23, 59, 59},
      {"24:00:00", -1, 0, 0},    {"10:60:00", -1, 0, 0},
      {"13:00:00 PM", -1, 0, 0}, {"0:00:00 AM", -1, 0, 0},
      {"10:15", -1, 0, 0},       {"10:15:30 XM", -1, 0, 0},
      {"10:15:30x", -1, 0, 0},   {"-1:00:00", -1, 0, 0},
  };
  for (const auto& c : cases) {
    const auto t = ParseLongTime(c.text);
    EXPECT_EQ(
        (t ? std::array{t->hour, t->minute, t->second} : std::array{-1, 0, 0}),
        (std::array{c.hour, c.minute, c.second}))
        << c.text;
  }
}

}  // namespace
}  // namespace lw
