#include "devices/clock.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

TEST(CivilTimeTest, RoundTripsAndWeekdays) {
  LocalDateTime t{2005, 3, 15, 10, 15, 30, 2};
  EXPECT_EQ(FromCivilSeconds(ToCivilSeconds(t)), t);
  EXPECT_EQ(FromCivilSeconds(0).weekday, 4);  // 1970-01-01 was a Thursday
  EXPECT_EQ(FromCivilSeconds(-86400).weekday, 3);
  LocalDateTime leap{2024, 2, 29, 0, 0, 0, 4};
  EXPECT_EQ(FromCivilSeconds(ToCivilSeconds(leap)), leap);
}

}  // namespace
}  // namespace lw
