// Cost of call audio on the simulated line: one second of the far end's
// sound framed, decoded, queued and paced out to a record sink, and one
// second of the process's sound framed for the far end.
#include <benchmark/benchmark.h>

#include <asio/io_context.hpp>
#include <string>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "drivers/simline/simulated_line.h"
#include "drivers/simline/simulated_telephony.h"

namespace {

void BM_OneSecondOfCallAudio(benchmark::State& state) {
  asio::io_context io;
  lw::FakeClock clock;
  lw::LineAudioHub hub;
  lw::SimulatedLine::Options options;
  options.listen = false;
  lw::SimulatedLine line(io, clock, hub, "", options);
  lw::SimulatedTelephony tapi(line);
  size_t to_far_end = 0;
  const auto far = line.ConnectFarEnd([&](const lw::SimlineMessage& m) {
    to_far_end += lw::EncodeSimline(m).size();
  });
  tapi.LineOpen(6, 6);
  line.FromFarEnd(far, lw::SimlineOf(lw::SimlineType::kOffer));
  tapi.LineAnswer();
  io.poll();
  int64_t heard = 0;
  line.SetRecordSink([&](std::span<const int16_t> s) {
    heard += static_cast<int64_t>(s.size());
  });
  const std::vector<int16_t> block(lw::kLineBlockSamples, 1000);
  const std::string frame = lw::EncodeSimline(lw::SimlineAudio(block));
  lw::SimlineDecoder decoder;
  lw::SimlineMessage m;
  for (auto _ : state) {
    for (int i = 0; i < 50; ++i) {
      decoder.Feed(frame);
      decoder.Next(&m);
      line.FromFarEnd(far, m);
      line.PlayToLine(block);
      clock.Advance(20);
    }
  }
  benchmark::DoNotOptimize(to_far_end);
  state.counters["samples_heard"] = static_cast<double>(heard);
}
BENCHMARK(BM_OneSecondOfCallAudio);

}  // namespace

BENCHMARK_MAIN();
