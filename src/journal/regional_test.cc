#include "journal/regional.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

LocalDateTime At(int y, int mo, int d, int h, int mi, int s) {
  LocalDateTime t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  t.weekday = -1;  // never filled in: the texts must not depend on it
  return t;
}

TEST(RegionalTest, TextsAtEdgeTimes) {
  struct Case {
    LocalDateTime t;
    const char* short_date;
    const char* long_time;
    const char* long_date;
    const char* medium_time;
  };
  const Case cases[] = {
      {At(2026, 12, 4, 0, 5, 9), "12/04/2026", "00:05:09",
       "Friday, December 4, 2026", "12:05 AM"},
      {At(2005, 3, 15, 12, 0, 0), "03/15/2005", "12:00:00",
       "Tuesday, March 15, 2005", "12:00 PM"},
      {At(2026, 12, 4, 14, 3, 22), "12/04/2026", "14:03:22",
       "Friday, December 4, 2026", "02:03 PM"},
      {At(2024, 2, 29, 23, 59, 59), "02/29/2024", "23:59:59",
       "Thursday, February 29, 2024", "11:59 PM"},
      {At(2000, 1, 1, 11, 59, 0), "01/01/2000", "11:59:00",
       "Saturday, January 1, 2000", "11:59 AM"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ShortDateText(c.t), c.short_date);
    EXPECT_EQ(LongTimeText(c.t), c.long_time);
    EXPECT_EQ(LongDateText(c.t), c.long_date);
    EXPECT_EQ(MediumTimeText(c.t), c.medium_time);
  }
}

TEST(RegionalTest, ParseShortDateIsLenientAboutZerosButNotTheForm) {
  LocalDateTime tuesday = At(2005, 3, 15, 0, 0, 0);
  tuesday.weekday = 2;
  for (const char* text : {"3/15/2005", "03/15/2005   "}) {
    auto got = ParseShortDate(text);
    ASSERT_TRUE(got.has_value()) << text;
    EXPECT_EQ(*got, tuesday) << text;
  }
  for (const char* text :
       {"13/01/2005", "0/10/2005", "1/0/2005", "4/31/2005", "02/30/2005",
        "2/29/2100", "3/15/05", "3/15/20051", "3/15/0000", "3-15-2005",
        "3//2005", "3/15/2005x", "", "+3/15/2005", "3/ 15/2005"}) {
    EXPECT_FALSE(ParseShortDate(text).has_value()) << text;
  }
  // A record with month 0 or 13 gives some text rather than a crash.
  EXPECT_EQ(LongDateText(At(2005, 13, 15, 0, 0, 0)), "13/15/2005");
}

TEST(RegionalTest, ShortDateRoundTripsWithWeekday) {
  // every 13th day over forty years, crossing leap days and centuries
  for (int64_t s = ToCivilSeconds(At(1990, 1, 1, 0, 0, 0));
       s < ToCivilSeconds(At(2030, 1, 1, 0, 0, 0)); s += int64_t{13} * 86400) {
    LocalDateTime t = FromCivilSeconds(s);
    auto back = ParseShortDate(ShortDateText(t));
    ASSERT_TRUE(back.has_value()) << ShortDateText(t);
    EXPECT_EQ(*back, t) << ShortDateText(t);
  }
}

TEST(RegionalTest, LongTimeRoundTripsEverySecondOfTheDay) {
  for (int s = 0; s < 86400; ++s) {
    LocalDateTime t = At(2000, 1, 1, s / 3600, s / 60 % 60, s % 60);
    auto back = ParseLongTime(LongTimeText(t));
    ASSERT_TRUE(back.has_value()) << LongTimeText(t);
    ASSERT_EQ(back->hour, t.hour);
    ASSERT_EQ(back->minute, t.minute);
    ASSERT_EQ(back->second, t.second);
  }
}

TEST(RegionalTest, ParseLongTimeReadsTwelveHourForm) {
  struct Case {
    const char* text;
    int hour, minute, second;
  };
  const Case cases[] = {
      {"12:00:00 AM", 0, 0, 0}, {"12:30:05 PM", 12, 30, 5},
      {"1:02:03 pm", 13, 2, 3}, {"7:5:9", 7, 5, 9},
      {"9:00:00AM", 9, 0, 0},
  };
  for (const Case& c : cases) {
    auto got = ParseLongTime(c.text);
    ASSERT_TRUE(got.has_value()) << c.text;
    EXPECT_EQ(got->hour, c.hour) << c.text;
    EXPECT_EQ(got->minute, c.minute) << c.text;
    EXPECT_EQ(got->second, c.second) << c.text;
  }
}

TEST(RegionalTest, ParseLongTimeRejectsWhatIsNoTime) {
  for (const char* text : {"24:00:00", "10:60:00", "10:00:60", "13:00:00 PM",
                           "0:00:00 AM", "10:15", "10:15:30:00", "10:15:30 XM",
                           "10:15:30  AM", "", "10:15:30x", "-1:00:00"}) {
    EXPECT_FALSE(ParseLongTime(text).has_value()) << text;
  }
}

TEST(RegionalTest, MakeFileStamp) {
  EXPECT_EQ(MakeFileStamp("3/15/2005", "10:15:30 AM", true),
            "3-15-2005_10-15-30 AM");
  EXPECT_EQ(MakeFileStamp("3/15/2005", "10:15:30 AM", false),
            "3152005101530 AM");
  EXPECT_EQ(MakeFileStamp("12/04/2026", "", true), "12-04-2026");
  EXPECT_EQ(MakeFileStamp("12/04/2026", "", false), "12042026");
  // Only "/" and ":" are touched: dotted dates and blanks pass through.
  EXPECT_EQ(MakeFileStamp("04.12.2026", "", true), "04.12.2026");
  EXPECT_EQ(MakeFileStamp("04.12.2026", "14.03.22", false),
            "04.12.202614.03.22");
  EXPECT_EQ(MakeFileStamp(" 3/15/2005 ", " 10:15 ", true),
            " 3-15-2005 _ 10-15 ");
  EXPECT_EQ(MakeFileStamp("", "10:15:30", true), "_10-15-30");
  EXPECT_EQ(MakeFileStamp("", "", true), "");
}

}  // namespace
}  // namespace lw
