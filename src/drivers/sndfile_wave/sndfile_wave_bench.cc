// Cost of the wave component's conversion path: decoding and converting a
// CD-quality file to the line format (per second of sound), and recording
// line sound into each coding (per second of call).
#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_sound_devices.h"
#include "drivers/sndfile_wave/sndfile_wave.h"
#include "drivers/sndfile_wave/sound_file_source.h"
#include "temp_dir.h"

namespace lw {
namespace {

void BM_ConvertCdFileToLine(benchmark::State& state) {
  testing::TempDir dir;
  std::string file = dir / "cd.wav";
  SF_INFO info{};
  info.samplerate = 44100;
  info.channels = 2;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(file.c_str(), SFM_WRITE, &info);
  constexpr sf_count_t kFrames = sf_count_t{44100} * 10;
  std::vector<short> frames(static_cast<size_t>(kFrames) * 2);
  for (size_t i = 0; i < frames.size(); ++i)
    frames[i] = static_cast<short>(8000 * std::sin(i * 0.01));
  sf_writef_short(f, frames.data(), kFrames);
  sf_close(f);
  std::vector<int16_t> block(kLineBlockSamples);
  for (auto _ : state) {
    SoundFileSource::OpenError error;
    auto source = SoundFileSource::Open(file, kLineSampleRate, error);
    size_t total = 0;
    while (size_t n = source->Read(block)) total += n;
    benchmark::DoNotOptimize(total);
  }
  state.counters["sound_s_per_s"] =
      benchmark::Counter(10.0 * static_cast<double>(state.iterations()),
                         benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ConvertCdFileToLine)->Unit(benchmark::kMillisecond);

void BM_RecordOneSecond(benchmark::State& state) {
  testing::TempDir dir;
  FakeClock clock;
  LineAudioHub hub;
  LineAudioEndpoint endpoint(hub);
  FakeSoundDevices devices;
  SndfileWave wave(clock, hub, devices, NullSoundOutputFactory(clock));
  WaveFormatRecord format;
  format.format_tag = static_cast<uint16_t>(state.range(0));
  std::vector<int16_t> block(kLineBlockSamples);
  for (size_t i = 0; i < block.size(); ++i)
    block[i] = static_cast<int16_t>(8000 * std::sin(i * 0.3));
  for (auto _ : state) {
    wave.StartRecord(endpoint.wave_in(), dir / "r.wav", format, format, 0,
                     true);
    for (int i = 0; i < 50; ++i) endpoint.Received(block);
    wave.StopRecord();
  }
}
BENCHMARK(BM_RecordOneSecond)
    ->Arg(1)
    ->Arg(7)
    ->Arg(49)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace lw

BENCHMARK_MAIN();
