// The process controller's share of start-up: loading it (settings read
// from a store file, the journal written, the line controller loaded with
// its options, the line opened, the sound device chosen) and unloading it
// again, on fake devices so only the controllers' own work is measured.
// Goal: far below the 200 ms from start to an open line.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "controller/process_controller.h"
#include "devices/fake/fake_devices.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "journal/journal.h"
#include "settings/registry_routines.h"
#include "temp_dir.h"

namespace {

void Seed(lw::SettingsStore& store) {
  lw::RegistryRoutines reg(store);
  auto set = [&](const char* section, const char* name, const char* value) {
    reg.CreateKey(section);
    reg.SetSubkey(section);
    reg.SetRegistryValue(name, std::string(value), lw::REG_SZ);
  };
  set("Properties\\TabLog", "chkLogSys", "1");
  set("Properties\\TabLineStat", "cmbLineStat", "0");
  set("Properties\\TabDevices", "cmbModemDev", "Fake Line");
  set("Properties\\TabDevices", "cmbSoundDev", "Fake Speakers");
  set("Properties\\TabDevices\\CallerID", "Tapi", "1");
  set("Answer\\TabAnsweringMachine", "txtNumOfRing", "4");
}

void BM_LoadToLineOpenAndUnload(benchmark::State& state) {
  lw::testing::TempDir home;
  std::filesystem::create_directories(home / "Journal");
  lw::FakeDevices fake;
  lw::SqliteSettingsStore store(home / "registry.db");
  Seed(store);
  lw::Journal journal(fake.clock(), home.path());
  for (auto _ : state) {
    lw::frmMain main(fake.devices(), store, journal, home.path(), {});
    main.Load();
    if (fake.line().open_lines() != 1) state.SkipWithError("line not open");
    main.Unload();
  }
}
BENCHMARK(BM_LoadToLineOpenAndUnload)->Unit(benchmark::kMicrosecond);

void BM_HelloAnswered(benchmark::State& state) {
  lw::testing::TempDir home;
  std::filesystem::create_directories(home / "Journal");
  lw::FakeDevices fake;
  lw::SqliteSettingsStore store(":memory:");
  Seed(store);
  lw::Journal journal(fake.clock(), home.path());
  lw::frmMain main(fake.devices(), store, journal, home.path(), {});
  main.Load();
  for (auto _ : state) {
    fake.channels().Send(108, "HELLO");
    fake.channels().ClearSent();
  }
}
BENCHMARK(BM_HelloAnswered);

}  // namespace

BENCHMARK_MAIN();
