#include "devices/fake/fake_wave.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_sound_devices.h"
#include "temp_dir.h"

namespace lw {
namespace {

using ::testing::ElementsAre;

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

WaveFormatRecord Pcm() {
  WaveFormatRecord f;
  f.format_tag = 1;
  f.channels = 1;
  f.samples_per_sec = 8000;
  f.avg_bytes_per_sec = 16000;
  f.block_align = 2;
  f.bits_per_sample = 16;
  return f;
}

WaveFormatRecord Gsm() {
  WaveFormatRecord f;
  f.format_tag = 49;
  f.channels = 1;
  f.samples_per_sec = 8000;
  f.avg_bytes_per_sec = 1625;
  f.block_align = 65;
  f.extra_size = 2;
  f.extra[0] = 0x40;
  f.extra[1] = 0x01;
  return f;
}

class FakeWaveTest : public ::testing::Test {
 protected:
  FakeWaveTest() {
    WaveEvents e;
    e.PlayDone = [this] { ++play_done_; };
    e.LevelReport = [this](int16_t& level) { levels_.push_back(level); };
    wave_.SetEvents(e);
  }

  testing::TempDir dir_;
  FakeClock clock_;
  FakeWaveFiles files_;
  FakeSoundDevices sound_{{"Speakers", "Headset"}};
  FakeWave wave_{clock_, files_, sound_};
  int play_done_ = 0;
  std::vector<int16_t> levels_;
};

TEST_F(FakeWaveTest, RecordingLastsTheVirtualTimeBetweenStartAndStop) {
  // Given a GSM recording running 2.999 s of virtual time (a busy wait
  // included), expect 74 blocks of sound (an even count) behind a
  // byte-exact header, and a length of 2 whole seconds known to every wave
  // sharing the table.
  const std::string file = dir_ / "msg.wav";
  ASSERT_EQ(wave_.StartRecord(1, file, Pcm(), Gsm(), 16000, true), 0);
  EXPECT_FALSE(std::filesystem::exists(file));
  clock_.Advance(2400);
  clock_.Pause(5);
  clock_.Advance(99);
  ASSERT_EQ(wave_.StopRecord(), 0);
  EXPECT_FALSE(wave_.IsRecording());

  const std::string bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), 60u + 74 * 65);
  const std::string expected_head(
      "RIFF\xFE\x12\x00\x00WAVEfmt \x14\x00\x00\x00"
      "\x31\x00\x01\x00\x40\x1F\x00\x00\x59\x06\x00\x00\x41\x00\x00\x00"
      "\x02\x00\x40\x01"
      "fact\x04\x00\x00\x00\x80\x5C\x00\x00"
      "data\xCA\x12\x00\x00",
      60);
  EXPECT_EQ(bytes.substr(0, 60), expected_head);

  FakeWave other(clock_, files_, sound_);
  WaveFileInfo info;
  ASSERT_EQ(other.GetFileInfo(file, info), 0);
  EXPECT_EQ(info.format_tag, 49);
  EXPECT_EQ(info.samples_per_sec, 8000);
  EXPECT_EQ(info.seconds, 2);
  ASSERT_EQ(wave_.recordings().size(), 1u);
  EXPECT_EQ(wave_.recordings()[0].length_ms, 2999u);
}

TEST_F(FakeWaveTest, PcmRecordingHasTheCanonicalHeader) {
  // Given a quarter-second PCM recording, expect the 44-byte header and
  // 4000 bytes of silence.
  const std::string file = dir_ / "rec.wav";
  ASSERT_EQ(wave_.StartRecord(1, file, Pcm(), Pcm(), 8000, false), 0);
  clock_.Advance(250);
  ASSERT_EQ(wave_.StopRecord(), 0);
  const std::string bytes = ReadAll(file);
  ASSERT_EQ(bytes.size(), 44u + 4000);
  const std::string expected(
      "RIFF\xC4\x0F\x00\x00WAVEfmt \x10\x00\x00\x00"
      "\x01\x00\x01\x00\x40\x1F\x00\x00\x80\x3E\x00\x00\x02\x00\x10\x00"
      "data\xA0\x0F\x00\x00",
      44);
  EXPECT_EQ(bytes.substr(0, 44), expected);
  EXPECT_EQ(bytes.substr(44), std::string(4000, '\0'));
  WaveFileInfo info;
  ASSERT_EQ(wave_.GetFileInfo(file, info), 0);
  EXPECT_EQ(info.seconds, 0);
}

TEST_F(FakeWaveTest, UnknownFilesHaveNoInfoAndRegisteredOnesDo) {
  // Given a file on disk the table does not know, expect a failure that
  // leaves the record alone; SetFileInfo makes any path known.
  const std::string file = dir_ / "greet.wav";
  std::ofstream(file) << "x";
  WaveFileInfo info;
  info.seconds = 42;
  EXPECT_NE(wave_.GetFileInfo(file, info), 0);
  EXPECT_EQ(info.seconds, 42);
  wave_.SetFileInfo("/no/such.wav", {7, 1, 8000, 65});
  ASSERT_EQ(wave_.GetFileInfo("/no/such.wav", info), 0);
  EXPECT_EQ(info.format_tag, 7);
  EXPECT_EQ(info.seconds, 65);
}

TEST_F(FakeWaveTest, PlaysEndOnTheirOwnAfterTheScriptedTime) {
  // Given plays that last 3 s, expect PlayDone at exactly 3 s, none after
  // StopPlay, and a replaced play to restart the count without a PlayDone
  // for the one it replaced.
  wave_.set_play_ms(3000);
  wave_.set_require_files(false);
  ASSERT_EQ(wave_.StartPlayACM("greet.wav", Pcm(), 2, 800), 0);
  clock_.Advance(2999);
  EXPECT_EQ(play_done_, 0);
  clock_.Advance(1);
  EXPECT_EQ(play_done_, 1);
  EXPECT_FALSE(wave_.IsPlaying());

  wave_.StartPlayACM("greet.wav", Pcm(), 2, 800);
  clock_.Advance(1000);
  wave_.StopPlay();
  clock_.Advance(5000);
  EXPECT_EQ(play_done_, 1);

  wave_.SetPlayDuration("beep.wav", 500);
  wave_.StartPlayACM("greet.wav", Pcm(), 2, 800);
  clock_.Advance(2000);
  wave_.PlayFile("beep.wav", 0);
  clock_.Advance(499);
  EXPECT_EQ(play_done_, 1);
  clock_.Advance(1);
  EXPECT_EQ(play_done_, 2);
  clock_.Advance(5000);
  EXPECT_EQ(play_done_, 2);
  EXPECT_EQ(wave_.plays().back().size_value, 0);
  EXPECT_FALSE(wave_.plays().back().to_line);
}

TEST_F(FakeWaveTest, PlayingAMissingFileFailsAndRaisesNothing) {
  // Given no such file, expect a non-zero result, no playback and no
  // PlayDone from FinishPlay.
  EXPECT_EQ(wave_.StartPlayACM(dir_ / "none.wav", Pcm(), 2, 800),
            kFakeWaveFileNotFound);
  EXPECT_FALSE(wave_.IsPlaying());
  EXPECT_FALSE(wave_.FinishPlay());
  const std::string beep = dir_ / "Beep.wav";
  std::ofstream(beep) << "x";
  EXPECT_EQ(wave_.PlayFile(beep, 0, 8000), 0);
  EXPECT_TRUE(wave_.FinishPlay());
  EXPECT_EQ(play_done_, 1);
}

TEST_F(FakeWaveTest, LevelsAndMonitoringBelongToTheRunningRecording) {
  // Given a recording with level reports, expect levels to reach the handler
  // only while it runs, and monitoring to end with it.
  EXPECT_FALSE(wave_.ReportLevel(5));
  EXPECT_NE(wave_.StartMonitor(Pcm(), 0), 0);
  ASSERT_EQ(wave_.StartRecord(1, dir_ / "a.wav", Pcm(), Pcm(), 8000, true), 0);
  EXPECT_EQ(wave_.StartMonitor(Pcm(), 1), 0);
  EXPECT_NE(wave_.StartMonitor(Pcm(), 2), 0);  // only two sound devices
  EXPECT_TRUE(wave_.ReportLevel(300));
  EXPECT_TRUE(wave_.ReportLevel(0));
  wave_.StopRecord();
  EXPECT_FALSE(wave_.IsMonitoring());
  EXPECT_FALSE(wave_.ReportLevel(7));
  EXPECT_THAT(levels_, ElementsAre(300, 0));
  EXPECT_EQ(wave_.StopRecord(), kFakeWaveNotRecording);
}

TEST_F(FakeWaveTest, RecordingStartsOnlyWhereTheFileCanBeWritten) {
  // Given a missing day folder, expect StartRecord to fail; a second start
  // while recording completes the first file.
  EXPECT_EQ(wave_.StartRecord(1, dir_ / "no/dir/a.wav", Pcm(), Pcm(), 0, true),
            kFakeWaveCannotCreate);
  EXPECT_FALSE(wave_.IsRecording());
  ASSERT_EQ(wave_.StartRecord(1, dir_ / "a.wav", Pcm(), Pcm(), 0, true), 0);
  clock_.Advance(1000);
  ASSERT_EQ(wave_.StartRecord(1, dir_ / "b.wav", Pcm(), Pcm(), 0, true), 0);
  WaveFileInfo info;
  ASSERT_EQ(wave_.GetFileInfo(dir_ / "a.wav", info), 0);
  EXPECT_EQ(info.seconds, 1);
  EXPECT_TRUE(wave_.IsRecording());
}

TEST(WaveSecondsTextTest, HoursMinutesSecondsWithinTenCharacters) {
  EXPECT_EQ(WaveSecondsText(0), "0:00:00");
  EXPECT_EQ(WaveSecondsText(59), "0:00:59");
  EXPECT_EQ(WaveSecondsText(3723), "1:02:03");
  EXPECT_EQ(WaveSecondsText(36000), "10:00:00");
  EXPECT_EQ(WaveSecondsText(-5), "0:00:00");
  EXPECT_EQ(WaveSecondsText(INT32_MAX), "9999:59:59");
}

}  // namespace
}  // namespace lw
