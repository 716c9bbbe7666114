// Speech synthesis speed: how much faster than real time a sentence is
// turned into 8 kHz line audio (the synthesis behind every spoken text), and
// the cost of writing it as a wave file.
#include <benchmark/benchmark.h>

#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_sound_devices.h"
#include "drivers/alsa/alsa_sound_output.h"
#include "drivers/espeak/espeak_engine.h"
#include "drivers/espeak/espeak_voice.h"
#include "temp_dir.h"

namespace lw {
namespace {

constexpr const char* kSentence =
    "You have three new messages. The first message was left on Friday at "
    "ten fifteen in the morning.";

void BM_SynthesizeSentence(benchmark::State& state) {
  EspeakEngine& engine = EspeakEngine::Instance();
  if (!engine.Start({}) || engine.Voices().empty()) {
    state.SkipWithError("no speech engine");
    return;
  }
  EspeakRequest request;
  request.identifier = engine.Voices()[0].identifier;
  request.text = kSentence;
  std::vector<int16_t> samples;
  double audio_seconds = 0;
  for (auto _ : state) {
    engine.Synthesize(request, nullptr, &samples);
    audio_seconds += static_cast<double>(samples.size()) / engine.SampleRate();
  }
  state.counters["times_real_time"] =
      benchmark::Counter(audio_seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SynthesizeSentence)->Unit(benchmark::kMillisecond);

void BM_SaveTextToWav(benchmark::State& state) {
  FakeClock clock;
  FakeSoundDevices sound_devices;
  LineAudioHub hub;
  testing::TempDir dir;
  EspeakVoice voice(clock, sound_devices, hub, AlsaSoundOutputFactory(clock));
  if (voice.GetVoices().empty()) {
    state.SkipWithError("no speech engine");
    return;
  }
  const std::string file = dir / "sentence.wav";
  for (auto _ : state) {
    benchmark::DoNotOptimize(voice.SaveTextToWav(kSentence, file));
  }
}
BENCHMARK(BM_SaveTextToWav)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace lw

BENCHMARK_MAIN();
