// One whole answered call through the line controller on fake devices in
// virtual time: offer, caller identification, two rings, the answer, the
// greeting and the beep played, a 5-second message recorded, the caller's
// hang-up and the wrap-up that stores the record and the latest-call list.
// Only the controller's own work (and the files it writes) is measured.
// Goal: under 2 ms of CPU per call.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "callstore/wave_formats.h"
#include "controller/process_state.h"
#include "devices/fake/fake_devices.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "journal/journal.h"
#include "line/line_controller.h"
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
  set("Properties\\TabDevices\\CallerID", "Tapi", "1");
  set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "1");
  set("Answer\\TabAnsweringMachine", "txtNumOfRing", "2");
  set("Answer\\TabAnsweringMachine", "cmdRecordMessage", "1");
  set("Answer\\TabAnsweringMachine", "CmbGreetsMessages", "Hello");
  set("Answer\\TabAnsweringMachine", "chkMaxRec", "1");
  set("Answer\\TabAnsweringMachine", "txtRecLong", "2");
  set("Answer\\TabDisconnectMode", "chkDropIfSilnce", "1");
  set("Answer\\TabDisconnectMode", "txtSilenceSec", "10");
}

void BM_AnsweredCallOfferToStoredRecord(benchmark::State& state) {
  lw::testing::TempDir home;
  std::filesystem::create_directories(home / "Journal");
  std::ofstream(home / "Beep.wav") << "RIFF";
  lw::FakeDevices fake;
  lw::SqliteSettingsStore store(":memory:");
  Seed(store);
  lw::Journal journal(fake.clock(), home.path());
  journal.SetSwitches(true, false);
  lw::ProcessState process;
  process.AppPath = home.path();
  lw::InitWaveFormats();
  fake.wave_files().Set(home / "Greets/Hello.wav", {1, 1, 8000, 3});

  lw::frmLine line(fake.devices(), store, journal, process, nullptr);
  line.Load();
  line.OpenLine();
  lw::FakeLine& far = fake.line();
  lw::FakeWave& wave = *fake.wave(0);

  for (auto _ : state) {
    far.Offer();
    far.CallerId("TESTCALLER", "5551234");
    far.Ring();
    fake.clock().Advance(5000);
    far.Ring();
    fake.clock().Advance(1);  // connected
    wave.FinishPlay();        // greeting
    wave.FinishPlay();        // beep
    fake.clock().Advance(5000);
    far.FarEndHangup();
    fake.clock().Advance(1);  // idle: the wrap-up
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AnsweredCallOfferToStoredRecord)->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
