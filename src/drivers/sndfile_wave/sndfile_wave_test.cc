#include "drivers/sndfile_wave/sndfile_wave.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <fstream>
#include <functional>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "callstore/wave_formats.h"
#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_sound_devices.h"
#include "temp_dir.h"

namespace lw {
namespace {

// A line endpoint that keeps what is played into it and lets the test play
// the far end into the recording, one 20 ms block per virtual 20 ms.
class TestEndpoint : public LineAudioEndpoint {
 public:
  explicit TestEndpoint(FakeClock& clock) : clock_(clock) {}
  void PlayToLine(std::span<const int16_t> samples) override {
    blocks.emplace_back(samples.begin(), samples.end());
  }
  void SetRecordSink(Sink sink) override { sink_ = std::move(sink); }

  bool has_sink() const { return static_cast<bool>(sink_); }
  // Delivers `samples` as the far end's sound at real-time pace.
  void Speak(const std::vector<int16_t>& samples) {
    for (size_t i = 0; i < samples.size(); i += kLineBlockSamples) {
      size_t n = std::min<size_t>(kLineBlockSamples, samples.size() - i);
      if (sink_) sink_(std::span<const int16_t>(samples.data() + i, n));
      clock_.Advance(20);
    }
  }

  std::vector<std::vector<int16_t>> blocks;

 private:
  FakeClock& clock_;
  Sink sink_;
};

std::vector<int16_t> Sine(double seconds, double hz, double amplitude,
                          int rate = kLineSampleRate) {
  std::vector<int16_t> out(static_cast<size_t>(seconds * rate));
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<int16_t>(std::lround(
        amplitude * 32767 * std::sin(2 * std::numbers::pi * hz * i / rate)));
  return out;
}
std::vector<int16_t> Silence(double seconds) {
  return std::vector<int16_t>(static_cast<size_t>(seconds * kLineSampleRate));
}
std::vector<int16_t> Concat(std::vector<int16_t> a,
                            const std::vector<int16_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Writes a wave file of `frames` frames; `sample(frame, channel)` in -1..1.
void WriteWav(const std::string& path, int format, int rate, int channels,
              int64_t frames,
              const std::function<double(int64_t, int)>& sample) {
  SF_INFO info{};
  info.samplerate = rate;
  info.channels = channels;
  info.format = format;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  std::vector<float> buf(static_cast<size_t>(frames * channels));
  for (int64_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      buf[static_cast<size_t>(i * channels + c)] =
          static_cast<float>(sample(i, c));
  sf_writef_float(f, buf.data(), frames);
  sf_close(f);
}

void WriteConstantWav(const std::string& path, double seconds, double value) {
  WriteWav(path, SF_FORMAT_WAV | SF_FORMAT_PCM_16, kLineSampleRate, 1,
           static_cast<int64_t>(seconds * kLineSampleRate),
           [value](int64_t, int) { return value; });
}

struct ReadBack {
  SF_INFO info{};
  std::vector<int16_t> samples;
};
ReadBack ReadWav(const std::string& path) {
  ReadBack r;
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &r.info);
  if (f == nullptr) return r;
  r.samples.resize(static_cast<size_t>(r.info.frames * r.info.channels));
  sf_readf_short(f, r.samples.data(), r.info.frames);
  sf_close(f);
  return r;
}

double Rms(const std::vector<int16_t>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += double(s[i]) * s[i];
  return std::sqrt(sum / double(to - from));
}

class SndfileWaveTest : public ::testing::Test {
 protected:
  static constexpr int32_t kLine = 3;

  SndfileWaveTest() : endpoint_(clock_) {
    InitWaveFormats(formats_);
    hub_.Register(kLine, &endpoint_);
    wave_ = std::make_unique<SndfileWave>(clock_, hub_, devices_, [this] {
      auto output = std::make_unique<NullSoundOutput>(clock_);
      outputs_.push_back(output.get());
      return output;
    });
    WaveEvents events;
    events.PlayDone = [this] { ++play_done_; };
    events.LevelReport = [this](int16_t& level) { levels_.push_back(level); };
    wave_->SetEvents(events);
    wave_->SetNoteHandler(
        [this](const std::string& t) { notes_.push_back(t); });
    wave_->Initialize();
  }

  int32_t PlayToLine(const std::string& file) {
    return wave_->StartPlayACM(file, formats_.formats[kWaveFormatPcm], kLine,
                               800);
  }
  int32_t Record(const std::string& file, int format_index,
                 bool levels = true) {
    return wave_->StartRecord(kLine, file, formats_.formats[kWaveFormatPcm],
                              formats_.formats[format_index], 8000, levels);
  }
  std::vector<int16_t> Played() const {
    std::vector<int16_t> all;
    for (const auto& b : endpoint_.blocks)
      all.insert(all.end(), b.begin(), b.end());
    return all;
  }

  testing::TempDir dir_;
  FakeClock clock_;
  LineAudioHub hub_;
  TestEndpoint endpoint_;
  FakeSoundDevices devices_{{"default", "null"}};
  WaveFormatTable formats_;
  std::vector<NullSoundOutput*> outputs_;
  std::unique_ptr<SndfileWave> wave_;
  int play_done_ = 0;
  std::vector<int16_t> levels_;
  std::vector<std::string> notes_;
};

TEST_F(SndfileWaveTest, StereoCdFilePlaysAsLineBlocksThenPlayDone) {
  // Given half a second of 44.1 kHz stereo 16-bit 440 Hz (left 0.6, right
  // 0.2), expect 25 blocks of 160 samples of the mixed 0.4 sine at 8 kHz,
  // one per 20 ms, and PlayDone on the 25th step, never earlier.
  std::string file = dir_ / "cd.wav";
  WriteWav(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 44100, 2, 22050,
           [](int64_t i, int c) {
             return (c == 0 ? 0.6 : 0.2) *
                    std::sin(2 * std::numbers::pi * 440 * i / 44100.0);
           });
  ASSERT_EQ(PlayToLine(file), kWaveOk);
  EXPECT_TRUE(wave_->IsPlaying());
  EXPECT_EQ(play_done_, 0);  // never inside the call
  clock_.Advance(480);
  EXPECT_EQ(endpoint_.blocks.size(), 25u);
  EXPECT_EQ(play_done_, 0);
  clock_.Advance(20);
  EXPECT_EQ(play_done_, 1);
  EXPECT_FALSE(wave_->IsPlaying());
  clock_.Advance(200);
  EXPECT_EQ(endpoint_.blocks.size(), 25u);
  EXPECT_EQ(play_done_, 1);

  for (const auto& block : endpoint_.blocks) EXPECT_EQ(block.size(), 160u);
  std::vector<int16_t> played = Played();
  EXPECT_NEAR(Rms(played, 400, 3600), 0.4 * 32767 / std::sqrt(2.0), 200);
}

TEST_F(SndfileWaveTest, StopPlayAndNewPlayEndTheOldWithoutPlayDone) {
  // Given a long play, expect StopPlay to end it silently, and a new play
  // to replace a running one with only the new one's PlayDone.
  std::string long_file = dir_ / "long.wav";
  std::string short_file = dir_ / "short.wav";
  WriteConstantWav(long_file, 1.0, 0.25);
  WriteConstantWav(short_file, 0.1, -0.5);

  ASSERT_EQ(PlayToLine(long_file), kWaveOk);
  clock_.Advance(100);
  wave_->StopPlay();
  EXPECT_FALSE(wave_->IsPlaying());
  size_t sent = endpoint_.blocks.size();
  clock_.Advance(2000);
  EXPECT_EQ(endpoint_.blocks.size(), sent);
  EXPECT_EQ(play_done_, 0);

  endpoint_.blocks.clear();
  ASSERT_EQ(PlayToLine(long_file), kWaveOk);
  clock_.Advance(100);
  ASSERT_EQ(PlayToLine(short_file), kWaveOk);
  clock_.Advance(2000);
  EXPECT_EQ(play_done_, 1);
  std::vector<int16_t> played = Played();
  ASSERT_EQ(played.size(), (6u + 5u) * 160u);
  EXPECT_EQ(played[size_t{6} * 160 - 1], 8192);  // the long file's last block
  EXPECT_EQ(played[size_t{6} * 160], -16384);    // then only the short file
  EXPECT_EQ(played.back(), -16384);
}

TEST_F(SndfileWaveTest, BadFilesAndDevicesFailWithCodes) {
  // Given missing, empty and non-wave files and unknown devices, expect a
  // non-zero code with a text, nothing playing and no PlayDone ever.
  std::string text = dir_ / "notes.wav";
  std::ofstream(text) << "this is not a wave file\n";
  std::string zero = dir_ / "zero.wav";
  std::ofstream(zero).close();
  std::string good = dir_ / "good.wav";
  WriteConstantWav(good, 0.1, 0.1);

  EXPECT_EQ(PlayToLine(dir_ / "missing.wav"), kWaveFileNotFound);
  EXPECT_EQ(PlayToLine(text), kWaveNotWaveFile);
  EXPECT_EQ(PlayToLine(zero), kWaveNotWaveFile);
  EXPECT_EQ(PlayToLine(dir_.path()), kWaveFileNotFound);
  EXPECT_EQ(wave_->StartPlayACM(good, formats_.formats[0], 99, 800),
            kWaveNoDevice);
  EXPECT_EQ(wave_->PlayFile(good, 7), kWaveNoDevice);
  EXPECT_FALSE(wave_->IsPlaying());

  WaveFileInfo info;
  info.seconds = 5;
  EXPECT_NE(wave_->GetFileInfo(text, info), 0);
  EXPECT_NE(wave_->GetFileInfo(zero, info), 0);
  EXPECT_EQ(info.seconds, 5);

  clock_.Advance(500);
  EXPECT_EQ(play_done_, 0);
  EXPECT_TRUE(endpoint_.blocks.empty());
}

TEST_F(SndfileWaveTest, LineThatVanishesWhilePlayingEndsThePlayQuietly) {
  // Given a line endpoint taken away mid-play, expect the play to end with
  // a note and no PlayDone.
  std::string file = dir_ / "a.wav";
  WriteConstantWav(file, 1.0, 0.1);
  ASSERT_EQ(PlayToLine(file), kWaveOk);
  clock_.Advance(100);
  hub_.Unregister(kLine);
  clock_.Advance(100);
  EXPECT_FALSE(wave_->IsPlaying());
  EXPECT_EQ(play_done_, 0);
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_NE(notes_[0].find("vanished"), std::string::npos);
}

TEST_F(SndfileWaveTest, LocalPlayEndsWhenTheDeviceHasPlayedEverything) {
  // Given a 22 050 Hz mono file of one second on local device 1, expect
  // the whole file at its own rate on the output and PlayDone once the
  // second has passed.
  std::string file = dir_ / "ring.wav";
  WriteWav(file, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 22050, 1, 22050,
           [](int64_t i, int) { return 0.3 * std::sin(i * 0.1); });
  ASSERT_EQ(wave_->PlayFile(file, 1), kWaveOk);
  ASSERT_EQ(outputs_.size(), 1u);
  EXPECT_EQ(outputs_[0]->rate(), 22050);
  clock_.Advance(980);
  EXPECT_EQ(play_done_, 0);
  EXPECT_TRUE(wave_->IsPlaying());
  EXPECT_EQ(outputs_[0]->samples_written(), 22050u);
  clock_.Advance(60);
  EXPECT_EQ(play_done_, 1);
  EXPECT_FALSE(wave_->IsPlaying());
}

TEST_F(SndfileWaveTest, RecordsEveryFormatReadableWithTagAndLength) {
  // Given 2.5 s of far-end sound recorded in each format, expect files the
  // library reads back as 8 kHz mono of the right coding, 2 whole seconds
  // long; TrueSpeech is recorded as GSM 6.10 with one note.
  struct Case {
    int index;
    int subtype;
    int16_t tag;
  };
  const Case cases[] = {{kWaveFormatPcm, SF_FORMAT_PCM_16, 1},
                        {kWaveFormatMuLaw, SF_FORMAT_ULAW, 7},
                        {kWaveFormatGsm610, SF_FORMAT_GSM610, 49},
                        {kWaveFormatTrueSpeech, SF_FORMAT_GSM610, 49},
                        {kWaveFormatTrueSpeech, SF_FORMAT_GSM610, 49}};
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.index);
    std::string file = dir_ / ("rec" + std::to_string(n++) + ".wav");
    ASSERT_EQ(Record(file, c.index), kWaveOk);
    endpoint_.Speak(Sine(2.5, 300, 0.5));
    EXPECT_EQ(wave_->StopRecord(), kWaveOk);
    EXPECT_FALSE(endpoint_.has_sink());
    ReadBack r = ReadWav(file);
    EXPECT_EQ(r.info.format, SF_FORMAT_WAV | c.subtype);
    // GSM 6.10 completes 20 000 samples to 32 x 640.
    EXPECT_EQ(r.info.frames, c.subtype == SF_FORMAT_GSM610 ? 20480 : 20000);
    EXPECT_NEAR(Rms(r.samples, 1000, 19000), 0.5 * 32767 / std::sqrt(2.0),
                0.05 * 0.5 * 32767);
    WaveFileInfo info;
    ASSERT_EQ(wave_->GetFileInfo(file, info), kWaveOk);
    EXPECT_EQ(info.format_tag, c.tag);
    EXPECT_EQ(info.seconds, 2);
  }
  EXPECT_EQ(notes_.size(), 1u);
}

TEST_F(SndfileWaveTest, GsmRecordingHasNoJunkAfterAnOddBlock) {
  // Given 25 GSM blocks' worth of loud sound (an odd count, which the
  // library would read back with a block of noise), expect the file to end
  // in silence at the next pair of blocks.
  std::string file = dir_ / "gsm.wav";
  ASSERT_EQ(Record(file, kWaveFormatGsm610), kWaveOk);
  endpoint_.Speak(Sine(1.0, 500, 0.8));  // 8000 samples = 25 blocks of 320
  ASSERT_EQ(wave_->StopRecord(), kWaveOk);
  ReadBack r = ReadWav(file);
  ASSERT_EQ(r.info.frames, 8320);
  EXPECT_GT(Rms(r.samples, 7000, 7900), 10000);
  EXPECT_LT(Rms(r.samples, 8100, 8320), 300);
}

TEST_F(SndfileWaveTest, LevelReportsEvery100MsOfSound) {
  // Given half a second of sound at peak 10 000 then half a second of
  // silence, expect ten reports, one per 100 ms: five near 10 000, five 0.
  std::string file = dir_ / "levels.wav";
  ASSERT_EQ(Record(file, kWaveFormatPcm), kWaveOk);
  endpoint_.Speak(Sine(0.1, 400, 10000.0 / 32767));
  EXPECT_EQ(levels_.size(), 1u);
  endpoint_.Speak(Concat(Sine(0.4, 400, 10000.0 / 32767), Silence(0.5)));
  ASSERT_EQ(levels_.size(), 10u);
  for (int i = 0; i < 5; ++i) EXPECT_NEAR(levels_[i], 10000, 50);
  for (int i = 5; i < 10; ++i) EXPECT_EQ(levels_[i], 0);
  wave_->StopRecord();

  levels_.clear();
  ASSERT_EQ(Record(file, kWaveFormatPcm, /*levels=*/false), kWaveOk);
  endpoint_.Speak(Sine(0.5, 400, 0.5));
  EXPECT_TRUE(levels_.empty());
  wave_->StopRecord();
}

TEST_F(SndfileWaveTest, CutSilenceLeavesLongQuietStretchesOut) {
  // Given 1 s of speech, 3 s of quiet and 1 s of speech with cutting at
  // level 500, expect 1 + 0.5 + 1 s in the file; without cutting, all 5 s.
  // Switches changed during a recording wait for the next one.
  std::vector<int16_t> call =
      Concat(Concat(Sine(1.0, 300, 0.5), Sine(3.0, 300, 400.0 / 32767)),
             Sine(1.0, 300, 0.5));
  std::string cut = dir_ / "cut.wav";
  wave_->SetDetectSilence(true);
  wave_->SetCutSilence(true);
  wave_->SetSilenceLevel(500);
  ASSERT_EQ(Record(cut, kWaveFormatPcm), kWaveOk);
  wave_->SetCutSilence(false);
  endpoint_.Speak(call);
  wave_->StopRecord();
  EXPECT_EQ(ReadWav(cut).info.frames, 20000);

  std::string whole = dir_ / "whole.wav";
  ASSERT_EQ(Record(whole, kWaveFormatPcm), kWaveOk);
  wave_->SetCutSilence(true);
  endpoint_.Speak(call);
  wave_->StopRecord();
  EXPECT_EQ(ReadWav(whole).info.frames, 40000);
}

TEST_F(SndfileWaveTest, RecordingFailuresAreCodes) {
  // Given an unknown device, a folder that does not exist and a format
  // without a coding, expect codes, no recording and no file.
  EXPECT_EQ(wave_->StartRecord(42, dir_ / "a.wav", formats_.formats[0],
                               formats_.formats[0], 8000, true),
            kWaveNoDevice);
  EXPECT_EQ(Record(dir_ / "no/such/folder/a.wav", kWaveFormatPcm),
            kWaveCannotCreate);
  WaveFormatRecord unknown;  // never selected: all zero
  EXPECT_EQ(wave_->StartRecord(kLine, dir_ / "b.wav", formats_.formats[0],
                               unknown, 0, true),
            kWaveUnsupportedFormat);
  EXPECT_FALSE(wave_->IsRecording());
  EXPECT_FALSE(std::filesystem::exists(dir_ / "b.wav"));
  EXPECT_EQ(wave_->StopRecord(), kWaveNotRecording);
}

TEST_F(SndfileWaveTest, EndpointRemovedWhileRecordingIsNotTouchedAgain) {
  // Given the line driver removing and destroying its endpoint during a
  // recording, expect StopRecord to complete the file without using it.
  auto gone = std::make_unique<TestEndpoint>(clock_);
  hub_.Register(8, gone.get());
  ASSERT_EQ(wave_->StartRecord(8, dir_ / "g.wav", formats_.formats[0],
                               formats_.formats[0], 8000, true),
            kWaveOk);
  gone->Speak(Sine(0.5, 300, 0.5));
  hub_.Unregister(8);
  gone.reset();
  EXPECT_EQ(wave_->StopRecord(), kWaveOk);
  EXPECT_EQ(ReadWav(dir_ / "g.wav").info.frames, 4000);
}

TEST_F(SndfileWaveTest, FileInfoOfACodingThatCannotBeDecoded) {
  // Given a TrueSpeech file of an older installation (header by hand, fact
  // count 24 000 samples), expect tag 34 and 3 seconds; it cannot be played.
  const uint8_t header[] = {
      'R',  'I',  'F',  'F',  0x4A, 0x00, 0x00, 0x00, 'W',  'A',  'V',
      'E',  'f',  'm',  't',  ' ',  0x14, 0x00, 0x00, 0x00,  // 20-byte fmt
      0x22, 0x00, 0x01, 0x00, 0x40, 0x1F, 0x00, 0x00, 0x2B, 0x04, 0x00,
      0x00, 0x20, 0x00, 0x01, 0x00, 0x02, 0x00, 0x01, 0x00,  //
      'f',  'a',  'c',  't',  0x04, 0x00, 0x00, 0x00, 0xC0, 0x5D, 0x00,
      0x00, 'd',  'a',  't',  'a',  0x00, 0x0D, 0x00, 0x00};
  std::string file = dir_ / "ts.wav";
  {
    std::ofstream out(file, std::ios::binary);
    out.write(reinterpret_cast<const char*>(header), sizeof header);
    out << std::string(0x0D00, '\x55');
  }
  WaveFileInfo info;
  ASSERT_EQ(wave_->GetFileInfo(file, info), kWaveOk);
  EXPECT_EQ(info.format_tag, 34);
  EXPECT_EQ(info.seconds, 3);
  EXPECT_EQ(PlayToLine(file), kWaveNotWaveFile);
}

}  // namespace
}  // namespace lw
