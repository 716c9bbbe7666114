#include "drivers/sndfile_wave/sndfile_wave.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "callstore/wave_formats.h"
#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_sound_devices.h"
#include "e2e_util.h"

namespace lw {
namespace {

class SndfileWaveTest : public ::testing::Test {
 protected:
  SndfileWaveTest() {
    wave_ = std::make_unique<SndfileWave>(clock_, hub_, devices_, [this] {
      return std::make_unique<NullSoundOutput>(clock_);
    });
    WaveEvents events;
    events.PlayDone = [this] { ++play_done_; };
    events.LevelReport = [this](int16_t& level) { levels_.push_back(level); };
    wave_->SetEvents(events);
    wave_->SetNoteHandler(
        [this](const std::string& t) { notes_.push_back(t); });
  }

  int32_t PlayToLine(const std::string& file) {
    return wave_->StartPlayACM(file, {}, line_.wave_out(), 800);
  }
  int32_t Record(const std::string& file, int format_index) {
    return wave_->StartRecord(line_.wave_in(), file, {},
                              WaveFormats()[static_cast<size_t>(format_index)],
                              8000, true);
  }
  // The line's part: pulls up to `blocks` blocks, keeps those that had
  // sound and stops at the first without.
  size_t Pull(size_t blocks) {
    size_t n = 0;
    std::vector<int16_t> block(kLineBlockSamples);
    for (; n < blocks && line_.PullBlock(block); ++n)
      played_.insert(played_.end(), block.begin(), block.end());
    return n;
  }
  // The far end's sound, block by block as the line hands it over.
  static void Speak(LineAudioEndpoint& line, const std::vector<int16_t>& s) {
    for (size_t i = 0; i < s.size(); i += kLineBlockSamples)
      line.Received(std::span<const int16_t>(s).subspan(
          i, std::min<size_t>(kLineBlockSamples, s.size() - i)));
  }

  testing::TempDir dir_;
  FakeClock clock_;
  LineAudioHub hub_;
  LineAudioEndpoint line_{hub_};
  FakeSoundDevices devices_{{"default", "null"}};
  std::unique_ptr<SndfileWave> wave_;
  std::vector<int16_t> played_;
  int play_done_ = 0;
  std::vector<int16_t> levels_;
  std::vector<std::string> notes_;
};

TEST_F(SndfileWaveTest, LinePullsTheFileBlockByBlockThenPlayDone) {
  // Given half a second of 44.1 kHz stereo 440 Hz (left 0.6, right 0.2),
  // expect 25 blocks of the mixed 0.4 sine at 8 kHz, then PlayDone posted by
  // the pull that finds the end; a stopped play leaves the line at once and
  // without PlayDone.
  const std::vector<int16_t> sine = testing::Sine(0.5, 440, 0.2, 44100);
  std::vector<int16_t> stereo;
  for (const int16_t s : sine) stereo.insert(stereo.end(), {int16_t(3 * s), s});
  testing::WriteWav(dir_ / "cd.wav", stereo, 44100, 2);
  ASSERT_EQ(PlayToLine(dir_ / "cd.wav"), kWaveOk);
  EXPECT_EQ(Pull(100), 25u);
  EXPECT_EQ(play_done_, 0);  // never inside the line's pull
  clock_.RunDue();
  EXPECT_EQ(play_done_, 1);
  EXPECT_FALSE(wave_->IsPlaying());
  EXPECT_NEAR(testing::Rms(played_, 400, 3600), 0.4 * 32767 / std::sqrt(2.0),
              200);

  ASSERT_EQ(PlayToLine(dir_ / "cd.wav"), kWaveOk);
  wave_->StopPlay();
  EXPECT_FALSE(line_.has_sources());
  clock_.RunDue();
  EXPECT_EQ(play_done_, 1);
}

TEST_F(SndfileWaveTest, BadFilesDevicesAndFormatsFailWithCodes) {
  // Given missing and non-wave files, unknown devices, a folder that does
  // not exist and a format without a coding, expect codes, nothing playing
  // or recording and no file.
  std::string text = dir_ / "notes.wav";
  std::ofstream(text) << "this is not a wave file\n";
  testing::WriteWav(dir_ / "good.wav", std::vector<int16_t>(800, 1));
  EXPECT_EQ(PlayToLine(dir_ / "missing.wav"), kWaveFileNotFound);
  EXPECT_EQ(PlayToLine(text), kWaveNotWaveFile);
  EXPECT_EQ(wave_->StartPlayACM(dir_ / "good.wav", {}, 99, 800), kWaveNoDevice);
  EXPECT_FALSE(wave_->IsPlaying());
  EXPECT_EQ(Record(dir_ / "no/such/folder/a.wav", kWaveFormatPcm),
            kWaveCannotCreate);
  EXPECT_EQ(
      wave_->StartRecord(line_.wave_in(), dir_ / "b.wav", {}, {}, 0, true),
      kWaveUnsupportedFormat);  // a format never selected: all zero
  EXPECT_FALSE(wave_->IsRecording());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "b.wav"));
}

TEST_F(SndfileWaveTest, LineGoneWhilePlayingAndRecording) {
  // Given a line whose endpoint goes away during a play and a recording,
  // expect the play to end with a note and no PlayDone, and StopRecord to
  // complete the file without touching the endpoint again.
  auto gone = std::make_unique<LineAudioEndpoint>(hub_);
  testing::WriteWav(dir_ / "a.wav", std::vector<int16_t>(8000, 1));
  ASSERT_EQ(wave_->StartPlayACM(dir_ / "a.wav", {}, gone->wave_out(), 800),
            kWaveOk);
  ASSERT_EQ(wave_->StartRecord(gone->wave_in(), dir_ / "g.wav", {},
                               LineWaveFormat(), 8000, true),
            kWaveOk);
  Speak(*gone, testing::Sine(0.5, 300, 0.5));
  gone.reset();
  EXPECT_FALSE(wave_->IsPlaying());
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_NE(notes_[0].find("vanished"), std::string::npos);
  EXPECT_EQ(wave_->StopRecord(), kWaveOk);
  EXPECT_EQ(testing::ReadSamples(dir_ / "g.wav").size(), 4000u);
  clock_.RunDue();
  EXPECT_EQ(play_done_, 0);
}

TEST_F(SndfileWaveTest, RecordsEveryFormatWithTagAndLength) {
  // Given 2.5 s of far-end sound recorded in each format, expect files of
  // the right coding and the sound, 2 whole seconds long; GSM 6.10
  // completed to whole pairs of blocks; TrueSpeech recorded as GSM 6.10
  // with one note.
  const std::tuple<int, int, int16_t> cases[] = {
      {kWaveFormatPcm, SF_FORMAT_PCM_16, 1},
      {kWaveFormatMuLaw, SF_FORMAT_ULAW, 7},
      {kWaveFormatGsm610, SF_FORMAT_GSM610, 49},
      {kWaveFormatTrueSpeech, SF_FORMAT_GSM610, 49},
      {kWaveFormatTrueSpeech, SF_FORMAT_GSM610, 49}};
  for (const auto& [index, subtype, tag] : cases) {
    SCOPED_TRACE(index);
    std::string file = dir_ / "rec.wav";
    std::filesystem::remove(file);
    ASSERT_EQ(Record(file, index), kWaveOk);
    Speak(line_, testing::Sine(2.5, 300, 0.5));
    EXPECT_EQ(wave_->StopRecord(), kWaveOk);
    EXPECT_FALSE(line_.has_sink());
    SF_INFO sf{};
    const std::vector<int16_t> samples = testing::ReadSamples(file, &sf);
    EXPECT_EQ(sf.format, SF_FORMAT_WAV | subtype);
    EXPECT_EQ(samples.size(), subtype == SF_FORMAT_GSM610 ? 20480u : 20000u);
    EXPECT_NEAR(testing::Rms(samples, 1000, 19000),
                0.5 * 32767 / std::sqrt(2.0), 0.05 * 0.5 * 32767);
    WaveFileInfo info;
    ASSERT_EQ(wave_->GetFileInfo(file, info), kWaveOk);
    EXPECT_EQ(info.format_tag, tag);
    EXPECT_EQ(info.seconds, 2);
  }
  EXPECT_EQ(notes_.size(), 1u);
}

TEST_F(SndfileWaveTest, LevelsAndCuttingFollowTheRecordingsOptions) {
  // Given 1 s of speech, 3 s below level 500 and 1 s of speech, cut at
  // level 500: expect a level per 100 ms and 1 + 0.5 + 1 s in the file;
  // turning cutting off during the recording waits for the next one.
  const std::vector<int16_t> loud = testing::Sine(1.0, 400, 0.3);
  std::vector<int16_t> call = testing::Sine(3.0, 300, 400.0 / 32767);
  call.insert(call.begin(), loud.begin(), loud.end());
  call.insert(call.end(), loud.begin(), loud.end());
  wave_->SetCutSilence(true);
  wave_->SetSilenceLevel(500);
  ASSERT_EQ(Record(dir_ / "cut.wav", kWaveFormatPcm), kWaveOk);
  wave_->SetCutSilence(false);
  Speak(line_, call);
  wave_->StopRecord();
  EXPECT_EQ(testing::ReadSamples(dir_ / "cut.wav").size(), 20000u);
  ASSERT_EQ(levels_.size(), 50u);
  EXPECT_NEAR(levels_[10], 400, 5);
}

}  // namespace
}  // namespace lw
