#include "drivers/espeak/espeak_voice.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <filesystem>
#include <span>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_sound_devices.h"
#include "drivers/alsa/alsa_sound_output.h"
#include "temp_dir.h"

namespace lw {
namespace {

constexpr int32_t kLineDevice = 3;

class RecordingEndpoint : public LineAudioEndpoint {
 public:
  void PlayToLine(std::span<const int16_t> samples) override {
    ++blocks;
    if (samples.size() != static_cast<size_t>(kLineBlockSamples)) ++odd_blocks;
    played.insert(played.end(), samples.begin(), samples.end());
  }
  void SetRecordSink(Sink) override {}

  int blocks = 0;
  int odd_blocks = 0;
  std::vector<int16_t> played;
};

struct WaveRead {
  SF_INFO info{};
  std::vector<int16_t> samples;
  bool ok = false;
};

WaveRead ReadWave(const std::string& path) {
  WaveRead r;
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &r.info);
  if (f == nullptr) return r;
  r.samples.resize(static_cast<size_t>(r.info.frames * r.info.channels));
  sf_read_short(f, r.samples.data(), static_cast<sf_count_t>(r.samples.size()));
  sf_close(f);
  r.ok = true;
  return r;
}

bool AnySound(const std::vector<int16_t>& samples) {
  return std::any_of(samples.begin(), samples.end(),
                     [](int16_t s) { return s > 500 || s < -500; });
}

// The voice speaks for real; its pacing runs either on a virtual clock (the
// test moves time) or on the real loop. Every wait has a generous limit that
// only keeps a fault from hanging the test; no duration is asserted.
class EspeakVoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    hub_.Register(kLineDevice, &endpoint_);
    voice_.SetEvents({.EndStream = [this] { ++end_streams_; }});
  }

  // Runs the loop until `done` holds.
  bool RunIoUntil(const std::function<bool()>& done) {
    auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    auto work = asio::make_work_guard(io_);
    io_.restart();
    while (!done() && std::chrono::steady_clock::now() < limit) {
      io_.run_one_for(std::chrono::milliseconds(50));
    }
    return done();
  }

  asio::io_context io_;
  FakeClock clock_;
  FakeSoundDevices sound_devices_{{"null"}};
  LineAudioHub hub_;
  RecordingEndpoint endpoint_;
  EspeakVoice voice_{io_, clock_, sound_devices_, hub_,
                     AlsaSoundOutputFactory(io_)};
  int end_streams_ = 0;
  testing::TempDir dir_;
};

TEST_F(EspeakVoiceTest, ListsInstalledVoicesDefaultFirst) {
  std::vector<std::string> voices = voice_.GetVoices();
  ASSERT_FALSE(voices.empty());
  EXPECT_EQ(voices[0], "English (Great Britain)");
  EXPECT_EQ(voice_.SetVoice(static_cast<int32_t>(voices.size())),
            kEspeakBadIndex);
  EXPECT_EQ(voice_.SetVoice(-1), kEspeakBadIndex);
  EXPECT_EQ(voice_.SetVoice(1), 0);
  EXPECT_EQ(voice_.SetOutput(1), kEspeakBadIndex);  // one sound device
  EXPECT_EQ(voice_.SetLineOutput(-1), kEspeakBadIndex);
}

TEST_F(EspeakVoiceTest, RateMapsOntoWordsPerMinute) {
  EXPECT_EQ(EspeakWordsPerMinute(-10), 80);
  EXPECT_EQ(EspeakWordsPerMinute(-5), 128);  // 127.5 rounded away from 0
  EXPECT_EQ(EspeakWordsPerMinute(4), 285);
  EXPECT_EQ(EspeakWordsPerMinute(99), 450);
  voice_.SetRate(-11);
  EXPECT_EQ(voice_.Rate(), -10);
  voice_.SetRate(7);
  EXPECT_EQ(voice_.Rate(), 7);
}

TEST_F(EspeakVoiceTest, LineSpeechComesInPacedBlocksThenEnds) {
  // given "yes" spoken into the line on the virtual clock, expect 8 kHz
  // speech (about as long as the same text's wave file) in 160-sample
  // blocks, one per 20 ms, then one EndStream once the last block's time
  // has passed
  ASSERT_EQ(voice_.SaveTextToWav("yes", dir_ / "yes.wav"), 0);
  const double file_samples = ReadWave(dir_ / "yes.wav").samples.size();

  ASSERT_EQ(voice_.SetLineOutput(kLineDevice), 0);
  ASSERT_EQ(voice_.Speak("yes"), 0);
  EXPECT_TRUE(voice_.IsSpeaking());
  ASSERT_TRUE(RunIoUntil([&] { return endpoint_.blocks > 0; }));
  EXPECT_EQ(endpoint_.blocks, 1);  // only the first block is due
  clock_.Advance(100);
  EXPECT_EQ(endpoint_.blocks, 6);
  ASSERT_TRUE(clock_.AdvanceUntil([&] { return end_streams_ > 0; }, 60000));
  EXPECT_FALSE(voice_.IsSpeaking());
  EXPECT_EQ(endpoint_.odd_blocks, 0);
  EXPECT_NEAR(endpoint_.played.size(), file_samples,
              file_samples * 0.05 + kLineBlockSamples);  // last block padded
  EXPECT_TRUE(AnySound(endpoint_.played));
  // The end comes with the tick after the last block.
  EXPECT_EQ(clock_.Elapsed(), static_cast<uint64_t>(endpoint_.blocks) * 20);
  clock_.Advance(1000);
  EXPECT_EQ(end_streams_, 1);
}

TEST_F(EspeakVoiceTest, StopCutsOffWithoutEndStream) {
  ASSERT_EQ(voice_.SetLineOutput(kLineDevice), 0);
  ASSERT_EQ(voice_.Speak("one two three four five"), 0);
  ASSERT_TRUE(RunIoUntil([&] { return endpoint_.blocks > 0; }));
  clock_.Advance(100);
  int blocks = endpoint_.blocks;
  EXPECT_EQ(voice_.Speak(""), 0);
  EXPECT_FALSE(voice_.IsSpeaking());
  clock_.Advance(30000);
  io_.restart();
  io_.poll();
  EXPECT_EQ(endpoint_.blocks, blocks);
  EXPECT_EQ(end_streams_, 0);
}

TEST_F(EspeakVoiceTest, NewSpeakReplacesTextInSynthesis) {
  // given a second text before the first was even synthesised, expect only
  // the second to be heard, ended once
  const std::string first = "one two three four five six seven";
  ASSERT_EQ(voice_.SaveTextToWav("yes", dir_ / "yes.wav"), 0);
  ASSERT_EQ(voice_.SaveTextToWav(first, dir_ / "first.wav"), 0);
  const double yes = ReadWave(dir_ / "yes.wav").samples.size();
  const double longer = ReadWave(dir_ / "first.wav").samples.size();
  ASSERT_GT(longer, 3 * yes);
  ASSERT_EQ(voice_.SetLineOutput(kLineDevice), 0);
  ASSERT_EQ(voice_.Speak(first), 0);
  ASSERT_EQ(voice_.Speak("yes"), 0);
  ASSERT_TRUE(RunIoUntil([&] { return endpoint_.blocks > 0; }));
  ASSERT_TRUE(clock_.AdvanceUntil([&] { return end_streams_ > 0; }, 60000));
  clock_.Advance(1000);
  io_.restart();
  io_.poll();
  EXPECT_EQ(end_streams_, 1);
  // Only "yes" was heard (give or take the synthesiser's pauses), not the
  // longer first text.
  EXPECT_GE(endpoint_.played.size(), yes * 0.9);
  EXPECT_LT(endpoint_.played.size(), yes * 1.5);
}

TEST_F(EspeakVoiceTest, EndStreamMaySpeakAgain) {
  // given an EndStream handler that speaks the next text, expect both ends
  ASSERT_EQ(voice_.SetLineOutput(kLineDevice), 0);
  voice_.SetEvents({.EndStream = [this] {
    if (++end_streams_ == 1) voice_.Speak("no");
  }});
  ASSERT_EQ(voice_.Speak("yes"), 0);
  ASSERT_TRUE(RunIoUntil([&] { return endpoint_.blocks > 0; }));
  ASSERT_TRUE(clock_.AdvanceUntil([&] { return end_streams_ == 1; }, 60000));
  EXPECT_TRUE(voice_.IsSpeaking());
  int first_blocks = endpoint_.blocks;
  ASSERT_TRUE(RunIoUntil([&] { return endpoint_.blocks > first_blocks; }));
  ASSERT_TRUE(clock_.AdvanceUntil([&] { return end_streams_ == 2; }, 60000));
  EXPECT_EQ(end_streams_, 2);
  EXPECT_FALSE(voice_.IsSpeaking());
}

TEST_F(EspeakVoiceTest, LineWithoutEndpointRefusesSpeech) {
  ASSERT_EQ(voice_.SetLineOutput(kLineDevice + 1), 0);
  EXPECT_EQ(voice_.Speak("yes"), kEspeakNoOutput);
  EXPECT_FALSE(voice_.IsSpeaking());
}

TEST_F(EspeakVoiceTest, DestroyedWhileSpeakingRunsNoHandler) {
  int ends = 0;
  {
    EspeakVoice voice(io_, clock_, sound_devices_, hub_,
                      AlsaSoundOutputFactory(io_));
    voice.SetEvents({.EndStream = [&] { ++ends; }});
    ASSERT_EQ(voice.SetLineOutput(kLineDevice), 0);
    ASSERT_EQ(voice.Speak("one two three"), 0);
  }
  clock_.Advance(10000);
  io_.restart();
  io_.poll();
  EXPECT_EQ(ends, 0);
}

TEST(EspeakVoiceNoDataTest, EveryOperationFailsHarmlessly) {
  asio::io_context io;
  FakeClock clock;
  FakeSoundDevices sound_devices;
  LineAudioHub hub;
  testing::TempDir dir;
  EspeakVoice voice(io, clock, sound_devices, hub, AlsaSoundOutputFactory(io),
                    dir / "missing");
  EXPECT_TRUE(voice.GetVoices().empty());
  EXPECT_EQ(voice.SetVoice(0), kEspeakNoVoice);
  EXPECT_EQ(voice.Speak("hello"), kEspeakNoVoice);
  EXPECT_FALSE(voice.IsSpeaking());
  EXPECT_EQ(voice.Speak(""), 0);  // cutting off always works
  EXPECT_EQ(voice.SaveTextToWav("hello", dir / "out.wav"), kEspeakNoVoice);
  EXPECT_FALSE(std::filesystem::exists(dir / "out.wav"));
}

}  // namespace
}  // namespace lw
