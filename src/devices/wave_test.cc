#include "devices/wave.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace lw {
namespace {

TEST(WaveSecondsTextTest, HoursMinutesSecondsWithinTenCharacters) {
  EXPECT_EQ(WaveSecondsText(3723), "1:02:03");
  EXPECT_EQ(WaveSecondsText(36000), "10:00:00");
  EXPECT_EQ(WaveSecondsText(-5), "0:00:00");
  EXPECT_EQ(WaveSecondsText(INT32_MAX), "9999:59:59");
}

}  // namespace
}  // namespace lw
