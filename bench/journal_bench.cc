// One journal line through the real clock into a real file: open, append,
// close, as every LogSys call does. Goal: under 50 microseconds a line.
#include <benchmark/benchmark.h>

#include <asio/io_context.hpp>
#include <filesystem>

#include "drivers/asio_clock/asio_clock.h"
#include "journal/journal.h"
#include "journal/regional.h"
#include "temp_dir.h"

namespace {

void BM_LogSysLine(benchmark::State& state) {
  lw::testing::TempDir dir;
  std::filesystem::create_directory(dir / "Journal");
  asio::io_context io;
  lw::AsioClock clock(io);
  lw::Journal journal(clock, dir.path());
  journal.SetSwitches(true, true);
  const std::string text = "Opening Linewarden 1.0 Process";
  const std::string source = "OpenLine:Tapi1.LineOpen(0)";
  for (auto _ : state) {
    journal.LogSys(text, 0, source);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LogSysLine);

void BM_LogSysSwitchedOff(benchmark::State& state) {
  asio::io_context io;
  lw::AsioClock clock(io);
  lw::Journal journal(clock, "/nonexistent");
  const std::string text = "Opening Linewarden 1.0 Process";
  for (auto _ : state) {
    journal.LogSys(text, 0, "");
  }
}
BENCHMARK(BM_LogSysSwitchedOff);

void BM_FileStampOfNow(benchmark::State& state) {
  asio::io_context io;
  lw::AsioClock clock(io);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        lw::MakeFileStamp(lw::ShortDateText(clock.Now()), "", true));
  }
}
BENCHMARK(BM_FileStampOfNow);

}  // namespace

BENCHMARK_MAIN();
