#include <gtest/gtest.h>

#include <vector>

#include "dsp/levels.h"

namespace lw {
namespace {

TEST(DspTest, LevelsAndSilenceCutting) {
  LevelMeter meter(800);
  std::vector<int16_t> loud = {100, -32768, 5};
  EXPECT_EQ(meter.Add(loud), std::nullopt);
  std::vector<int16_t> rest(797, 7);
  EXPECT_EQ(meter.Add(rest), 32767);  // -32768 counts as the largest
  EXPECT_EQ(meter.Add(std::vector<int16_t>(800, -9)), 9);

  // Frames of 4, two quiet frames kept: 1 loud, 4 quiet, 1 loud frame
  // keep 1 + 2 + 1 frames; an unfinished frame after the cut stays out.
  SilenceCutter cut(4, 2, 50);
  std::vector<int16_t> kept;
  auto keep = [&](std::span<const int16_t> s) {
    kept.insert(kept.end(), s.begin(), s.end());
  };
  std::vector<int16_t> sound = {60, 0, 0, 0};
  sound.resize(4 + 16, 1);
  sound.insert(sound.end(), {0, -70, 0, 0});
  cut.Add(std::span<const int16_t>(sound).first(7), keep);
  cut.Add(std::span<const int16_t>(sound).subspan(7), keep);
  ASSERT_EQ(kept.size(), 16u);
  EXPECT_EQ(kept[0], 60);
  EXPECT_EQ(kept[13], -70);
  cut.Add(std::vector<int16_t>(4 * 3 + 1, 0), keep);
  cut.Flush(keep);
  EXPECT_EQ(kept.size(), 16u + 8);
}

}  // namespace
}  // namespace lw
