#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "dsp/levels.h"
#include "dsp/tones.h"

namespace lw {
namespace {

std::vector<int16_t> Sine(float hz, double amplitude, int ms) {
  std::vector<int16_t> out(static_cast<size_t>(ms) * 8);
  for (size_t i = 0; i < out.size(); ++i)
    out[i] =
        static_cast<int16_t>(amplitude * std::sin(2 * M_PI * hz * i / 8000.0));
  return out;
}

// Feeds `sound` in 20 ms line blocks.
template <typename Detector>
void Feed(Detector& detector, const std::vector<int16_t>& sound) {
  std::span<const int16_t> rest(sound);
  while (!rest.empty()) {
    size_t n = std::min<size_t>(rest.size(), 160);
    detector.Add(rest.first(n));
    rest = rest.subspan(n);
  }
}

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

TEST(DspTest, ToneReportedAfterItsMinimumAndWhenItStops) {
  std::vector<bool> reports;
  ToneDetector tone(1100, 400, [&](bool on) { reports.push_back(on); });
  Feed(tone, Sine(1100, 6000, 300));  // too short
  Feed(tone, std::vector<int16_t>(800, 0));
  EXPECT_TRUE(reports.empty());

  Feed(tone, Sine(1100, 6000, 380));
  EXPECT_TRUE(reports.empty());
  Feed(tone, Sine(1100, 6000, 40));
  EXPECT_EQ(reports, std::vector<bool>{true});
  EXPECT_TRUE(tone.present());
  Feed(tone, Sine(1100, 6000, 1000));
  Feed(tone, std::vector<int16_t>(160, 0));
  EXPECT_EQ(reports, (std::vector<bool>{true, false}));

  // Another frequency, a whisper of the right one, or the right one under
  // loud other sound: no tone.
  reports.clear();
  Feed(tone, Sine(1400, 6000, 1000));
  Feed(tone, Sine(1100, 100, 1000));
  std::vector<int16_t> mixed = Sine(1100, 2000, 1000);
  std::vector<int16_t> other = Sine(600, 8000, 1000);
  for (size_t i = 0; i < mixed.size(); ++i)
    mixed[i] = static_cast<int16_t>(mixed[i] + other[i]);
  Feed(tone, mixed);
  EXPECT_TRUE(reports.empty());
}

}  // namespace
}  // namespace lw
