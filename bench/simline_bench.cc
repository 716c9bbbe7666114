// Cost of call audio on the simulated line: one second of the far end's
// sound framed, decoded, queued and paced out to a record sink, and one
// second of the process's sound pulled from a play source and framed for the
// far end.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "devices/line_registry.h"
#include "drivers/simline/simulated_line.h"

namespace {

// Sound that never ends.
struct Tone : lw::LinePlaySource {
  size_t Pull(std::span<int16_t> block) override {
    std::fill(block.begin(), block.end(), int16_t{1000});
    return block.size();
  }
};

void BM_OneSecondOfCallAudio(benchmark::State& state) {
  lw::FakeClock clock;
  lw::LineAudioHub hub;
  lw::SimulatedLine line(clock, hub);
  lw::LineRegistry lines(clock);
  lines.Register("simline", line, true);
  const auto tapi = lines.NewTelephony();
  size_t to_far_end = 0;
  const auto far = line.ConnectFarEnd([&](const lw::SimlineMessage& m) {
    to_far_end += lw::EncodeSimline(m).size();
  });
  tapi->LineOpen(6, 6);
  line.FromFarEnd(far, lw::SimlineOf(lw::SimlineType::kOffer));
  tapi->LineAnswer();
  clock.RunDue();
  int64_t heard = 0;
  line.Audio()->SetRecordSink([&](std::span<const int16_t> s) {
    heard += static_cast<int64_t>(s.size());
  });
  Tone tone;
  line.Audio()->AddPlaySource(&tone);
  const std::vector<int16_t> block(lw::kLineBlockSamples, 1000);
  const std::string frame = lw::EncodeSimline(lw::SimlineAudio(block));
  lw::SimlineDecoder decoder;
  lw::SimlineMessage m;
  for (auto _ : state) {
    for (int i = 0; i < 50; ++i) {
      decoder.Feed(frame);
      decoder.Next(&m);
      line.FromFarEnd(far, m);
      clock.Advance(20);
    }
  }
  line.Audio()->RemovePlaySource(&tone);
  benchmark::DoNotOptimize(to_far_end);
  state.counters["samples_heard"] = static_cast<double>(heard);
}
BENCHMARK(BM_OneSecondOfCallAudio);

}  // namespace

BENCHMARK_MAIN();
