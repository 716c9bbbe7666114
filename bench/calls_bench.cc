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

#include "call/process_state.h"
#include "controller/controller_test_util.h"
#include "drivers/simline/sim_far_end_test_util.h"
#include "line/line_controller.h"

namespace {

void BM_AnsweredCallOfferToStoredRecord(benchmark::State& state) {
  lw::testing::ControllerHome env;
  env.Set("Properties\\TabDevices\\CallerID", "Tapi", "1");
  env.Set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "1");
  env.Set("Answer\\TabAnsweringMachine", "txtNumOfRing", "2");
  env.Set("Answer\\TabAnsweringMachine", "cmdRecordMessage", "1");
  env.Set("Answer\\TabAnsweringMachine", "CmbGreetsMessages", "Hello");
  env.Set("Answer\\TabAnsweringMachine", "chkMaxRec", "1");
  env.Set("Answer\\TabAnsweringMachine", "txtRecLong", "2");
  env.Set("Answer\\TabDisconnectMode", "chkDropIfSilnce", "1");
  env.Set("Answer\\TabDisconnectMode", "txtSilenceSec", "10");
  lw::testing::TempDir& home = env.home;
  lw::FakeDevices& fake = env.fake;
  std::ofstream(home / "Beep.wav") << "RIFF";
  env.journal().SetSwitches(true, false);
  lw::ProcessState process;
  process.AppPath = home.path();
  fake.wave_files().Set(home / "Greets/Hello.wav", {1, 1, 8000, 3});

  lw::LineController line(fake.devices(), env.store, env.journal(), process,
                          nullptr);
  line.Load();
  line.OpenLine();
  lw::testing::SimFarEnd far(fake.line());
  lw::FakeWave& wave = *fake.wave(0);

  for (auto _ : state) {
    far.Offer();
    far.CallerId("TESTCALLER", "5551234");
    far.Ring();
    fake.clock().Advance(5000);
    far.Ring();
    fake.clock().RunDue();  // the ring answered, connected
    wave.FinishPlay();      // greeting
    wave.FinishPlay();      // beep
    fake.clock().Advance(5000);
    far.HangUp();
    fake.clock().RunDue();  // idle: the wrap-up
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AnsweredCallOfferToStoredRecord)->Unit(benchmark::kMicrosecond);

}  // namespace
BENCHMARK_MAIN();
