#include "devices/ring_cadence.h"

#include <gtest/gtest.h>

#include <vector>

#include "devices/fake/fake_clock.h"

namespace lw {
namespace {

TEST(RingCadenceTest, RingsAtOnceThenOnTheCadenceUntilStopped) {
  // Given an offered call on a line without ring signals, expect ring 1 at
  // once, one more each cadence (never a gap the controller takes for a
  // pick-up), none after Stop, and a new count for the next call.
  FakeClock clock;
  std::vector<int32_t> rings;
  RingCadence cadence(clock, [&](int32_t count) {
    rings.push_back(count);
    if (count == 3) cadence.Stop();  // the caller is taken at ring 3
  });
  cadence.Start();
  EXPECT_EQ(rings, std::vector<int32_t>{1});
  clock.Advance(kRingCadenceMs - 1);
  EXPECT_EQ(rings.size(), 1u);
  clock.Advance(1);
  EXPECT_EQ(rings, (std::vector<int32_t>{1, 2}));
  clock.Advance(5 * uint64_t{kRingCadenceMs});
  EXPECT_EQ(rings, (std::vector<int32_t>{1, 2, 3}));
  EXPECT_FALSE(cadence.running());

  cadence.Start();
  clock.Advance(kRingCadenceMs);
  cadence.Stop();
  clock.Advance(2 * uint64_t{kRingCadenceMs});
  EXPECT_EQ(rings, (std::vector<int32_t>{1, 2, 3, 1, 2}));
}

}  // namespace
}  // namespace lw
