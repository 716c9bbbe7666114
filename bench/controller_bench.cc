// The process controller's share of start-up: loading it (settings read
// from a store file, the journal written, the line controller loaded with
// its options, the line opened, the sound device chosen) and unloading it
// again, on fake devices so only the controllers' own work is measured.
// Goal: far below the 200 ms from start to an open line.
#include <benchmark/benchmark.h>

#include <string>

#include "controller/controller_test_util.h"
#include "controller/process_controller.h"
#include "drivers/sqlite/sqlite_settings_store.h"

namespace {

void Seed(lw::testing::ControllerHome& env) {
  env.Set("Properties\\TabLog", "chkLogSys", "1");
  env.Set("Properties\\TabLineStat", "cmbLineStat", "0");
  env.Set("Properties\\TabDevices", "cmbModemDev", "Fake Line");
  env.Set("Properties\\TabDevices", "cmbSoundDev", "Fake Speakers");
  env.Set("Properties\\TabDevices\\CallerID", "Tapi", "1");
  env.Set("Answer\\TabAnsweringMachine", "txtNumOfRing", "4");
}

void BM_LoadToLineOpenAndUnload(benchmark::State& state) {
  lw::testing::TempDir dir;
  lw::SqliteSettingsStore disk(dir / "registry.db");
  lw::testing::ControllerHome env(&disk);
  Seed(env);
  for (auto _ : state) {
    lw::ProcessController main(env.fake.devices(), env.store, env.journal(),
                               env.home.path(), {});
    main.Load();
    if (env.fake.line().open_controls() != 1)
      state.SkipWithError("line not open");
    main.Unload();
  }
}
BENCHMARK(BM_LoadToLineOpenAndUnload)->Unit(benchmark::kMicrosecond);

void BM_HelloAnswered(benchmark::State& state) {
  lw::testing::ControllerHome env;
  Seed(env);
  lw::ProcessController main(env.fake.devices(), env.store, env.journal(),
                             env.home.path(), {});
  main.Load();
  for (auto _ : state) {
    env.fake.channels().Send(108, "HELLO");
    env.fake.channels().ClearSent();
  }
}
BENCHMARK(BM_HelloAnswered);

}  // namespace

BENCHMARK_MAIN();
