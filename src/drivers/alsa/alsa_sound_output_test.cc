#include "drivers/alsa/alsa_sound_output.h"

#include <gtest/gtest.h>

#include <vector>

#include "devices/fake/fake_clock.h"

namespace lw {
namespace {

TEST(AlsaSoundOutputTest, NullDeviceDrainsOnTheClockOnceAfterFinish) {
  // Given the null device (a machine without a card), expect the drained
  // notice from the loop when the written sound would have been heard, and
  // none after Stop. A device that does not exist fails to open with a
  // reason.
  FakeClock clock;
  AlsaSoundOutput output(clock);
  ASSERT_TRUE(output.Open(kNullSoundDevice, 8000)) << output.Error();
  int drained = 0;
  ASSERT_TRUE(output.Write(std::vector<int16_t>(400, 1000)));  // 50 ms
  output.Finish([&] { ++drained; });
  clock.Advance(49);
  EXPECT_EQ(drained, 0);
  clock.Advance(1);
  EXPECT_EQ(drained, 1);

  ASSERT_TRUE(output.Open(kNullSoundDevice, 8000));
  ASSERT_TRUE(output.Write(std::vector<int16_t>(400, 1000)));
  output.Finish([&] { ++drained; });
  output.Stop();
  clock.Advance(1000);
  EXPECT_EQ(drained, 1);
  EXPECT_FALSE(output.Open("no-such-device", 8000));
  EXPECT_FALSE(output.Error().empty());
}

}  // namespace
}  // namespace lw
