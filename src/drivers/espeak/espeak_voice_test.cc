#include "drivers/espeak/espeak_voice.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <filesystem>
#include <vector>

#include "asio_loop.h"
#include "devices/fake/fake_sound_devices.h"
#include "drivers/alsa/alsa_sound_output.h"
#include "drivers/asio_clock/asio_clock.h"
#include "temp_dir.h"

namespace lw {
namespace {

// The voice synthesises for real on its worker thread, which posts to the
// loop of a real clock; the test plays the line, so no time is waited for
// except synthesis (bounded by a limit that only keeps a fault from hanging
// the test).
class EspeakVoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    voice_.SetEvents({.EndStream = [this] { ++end_streams_; }});
    ASSERT_EQ(voice_.SetLineOutput(line_.wave_out()), 0);
  }
  // Runs what the loop has now.
  void Deliver() {
    io_.restart();
    io_.poll();
  }
  // Waits until the synthesised text reaches the line (results of texts cut
  // off meanwhile are dropped on arrival).
  bool AwaitSpeech() {
    return testing::RunUntil(io_, [this] { return line_.has_sources(); });
  }
  // Pulls the text as the line does, to the pull that finds its end; the
  // samples heard.
  size_t SpeakIntoLine() {
    if (!AwaitSpeech()) return 0;
    size_t heard = 0;
    std::vector<int16_t> block(kLineBlockSamples);
    while (line_.PullBlock(block)) {
      heard += block.size();
      any_sound_ |= std::any_of(block.begin(), block.end(),
                                [](int16_t s) { return s > 500; });
    }
    return heard;
  }

  asio::io_context io_;
  AsioClock clock_{io_};
  FakeSoundDevices sound_devices_{{"null"}};
  LineAudioHub hub_;
  LineAudioEndpoint line_{hub_};
  EspeakVoice voice_{clock_, sound_devices_, hub_,
                     AlsaSoundOutputFactory(clock_)};
  int end_streams_ = 0;
  bool any_sound_ = false;
  testing::TempDir dir_;
};

TEST_F(EspeakVoiceTest, LineSpeechIsPulledToItsEndThenEndsOnce) {
  // Given "yes" spoken into the line, expect 8 kHz speech about as long as
  // the same text's wave file and EndStream from the loop after the pull
  // that finds the end.
  ASSERT_EQ(voice_.SaveTextToWav("yes", dir_ / "yes.wav"), 0);
  const double file_samples =  // 16-bit mono after a 44-byte header
      static_cast<double>(std::filesystem::file_size(dir_ / "yes.wav") - 44) /
      2;
  ASSERT_EQ(voice_.Speak("yes"), 0);
  EXPECT_TRUE(voice_.IsSpeaking());
  EXPECT_NEAR(SpeakIntoLine(), file_samples,
              file_samples * 0.05 + kLineBlockSamples);  // last block padded
  EXPECT_TRUE(any_sound_);
  EXPECT_EQ(end_streams_, 0);
  Deliver();
  EXPECT_EQ(end_streams_, 1);
  EXPECT_FALSE(voice_.IsSpeaking());
  EXPECT_FALSE(line_.has_sources());
}

TEST_F(EspeakVoiceTest, CutOffSilencesAtOnceWithoutEndStream) {
  // Given a text replaced by a second before it was synthesised and the
  // second cut off by Speak("") mid-text, expect nothing after the cut and
  // no EndStream; a voice destroyed mid-text leaves the line and runs
  // nothing.
  ASSERT_EQ(voice_.Speak("one two three four five six seven"), 0);
  ASSERT_EQ(voice_.Speak("yes"), 0);
  ASSERT_TRUE(AwaitSpeech());
  std::vector<int16_t> block(kLineBlockSamples);
  for (int i = 0; i < 10; ++i) EXPECT_TRUE(line_.PullBlock(block));
  EXPECT_EQ(voice_.Speak(""), 0);
  EXPECT_FALSE(voice_.IsSpeaking());
  EXPECT_FALSE(line_.PullBlock(block));
  {
    EspeakVoice gone(clock_, sound_devices_, hub_,
                     AlsaSoundOutputFactory(clock_));
    gone.SetEvents({.EndStream = [this] { ++end_streams_; }});
    ASSERT_EQ(gone.SetLineOutput(line_.wave_out()), 0);
    ASSERT_EQ(gone.Speak("yes"), 0);
    ASSERT_TRUE(AwaitSpeech());
  }
  EXPECT_FALSE(line_.has_sources());
  Deliver();
  EXPECT_EQ(end_streams_, 0);
}

}  // namespace
}  // namespace lw
