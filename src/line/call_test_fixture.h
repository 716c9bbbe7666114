// The fixture of the call tests: a loaded line controller with its line
// open in telephony mode, on fakes in virtual time, with the desktop
// application played through the channel hub and the caller as the far end
// of the line. The line is the fakes' simulated line unless the fixture is
// made with a (backend, far end) pair, whose backend is then registered
// ahead of it as device 0, so a backend runs the call tests on its own line.
// Options are set like the desktop application writes them, before Start().
#pragma once

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "controller/controller_test_util.h"
#include "drivers/simline/sim_far_end_test_util.h"
#include "line/line_controller.h"

namespace lw::testing {

inline constexpr const char* kAnswering = "Answer\\TabAnsweringMachine";
inline constexpr const char* kCallsRecord = "Answer\\TabCallsRecord";
inline constexpr const char* kDisconnectMode = "Answer\\TabDisconnectMode";
inline constexpr const char* kIncomingEvents = "Events\\TabInCommingCall";
inline constexpr const char* kDisconnectEvents = "Events\\TabDisconnectCall";
inline constexpr const char* kPhoneAccess = "RemoteAccess\\TabPhoneAccess";
inline constexpr const char* kGeneral = "Properties\\TabGeneral";

class CallTest : public ::testing::Test, public ControllerHome {
 protected:
  explicit CallTest(const LinePairFactory& line = nullptr) {
    if (line) {
      line_pair_ = line(fake.clock(), fake.line_audio());
      fake.lines().Register("line", *line_pair_.backend);
    } else {
      line_pair_.far_end = std::make_unique<SimFarEnd>(fake.line());
    }
    Set("Properties\\TabLog", "chkLogSys", "1");
    Set("Properties\\TabDevices\\CallerID", "Tapi", "1");
    journal().SetSwitches(true, false);
    process_.AppPath = home.path();
    process_.TransText[1] = "Incoming call";
    process_.TransText[13] = "Outgoing call";
  }

  // A new line controller, loaded.
  LineController& Load() {
    line_ = std::make_unique<LineController>(fake.devices(), store, journal(),
                                             process_, &speech_);
    line_->Load();
    return *line_;
  }
  // Loads the line controller, opens the line and forgets what that sent.
  void Start() {
    Load().OpenLine();
    fake.channels().ClearSent();
    fake.line().ClearOps();
  }
  // The line's two wave controls, as the controller loaded last made them.
  FakeWave& wave1() { return *fake.waves()[fake.waves().size() - 2]; }
  FakeWave& player() { return *fake.waves().back(); }
  LineFarEnd& far() { return *line_pair_.far_end; }

  // The answering machine answers at ring 2 with greeting "Hello" (known
  // to the wave files) and records the message.
  void AnsweringMachineOn(bool with_beep = true) {
    Set(kAnswering, "chkRunAnsIfNotAnswered", "1");
    Set(kAnswering, "txtNumOfRing", "2");
    Set(kAnswering, "cmdRecordMessage", "1");
    Set(kAnswering, "CmbGreetsMessages", "Hello");
    fake.wave_files().Set(home / "Greets/Hello.wav",
                          WaveFileInfo{1, 1, 8000, 3});
    if (with_beep) WriteFile(home / "Beep.wav", "RIFF");
  }
  // Pick-up detection records every call.
  void PickUpRecordingOn() {
    Set(kCallsRecord, "chkDetectPickUp", "1");
    Set(kCallsRecord, "cmbRecWhen", "0");
  }

  // The far end: a new call with caller identification.
  void Incoming(const std::string& name = "TESTCALLER",
                const std::string& number = "5551234") {
    far().Offer();
    if (!name.empty() || !number.empty()) far().CallerId(name, number);
    Deliver();
  }
  // `count` rings 5 s apart (the time after the last ring is not waited).
  void Rings(int count) {
    for (int i = 0; i < count; ++i) {
      if (i > 0) fake.clock().Advance(5000);
      far().Ring();
      Deliver();
    }
  }
  // Lets the events on the loop arrive, and those they cause.
  void Deliver() { fake.clock().RunDue(); }
  // The caller hangs up; the drop's Idle arrives.
  void HangUp() {
    far().HangUp();
    Deliver();
  }
  // The answering machine has answered at ring 2 and played greeting and
  // beep: the message of the caller is being recorded.
  void MessageRecording(const std::string& name = "TESTCALLER",
                        const std::string& number = "5551234") {
    Incoming(name, number);
    Rings(2);
    Deliver();
    wave1().FinishPlay();  // greeting
    wave1().FinishPlay();  // beep
  }
  // A whole message of `seconds` before the caller hangs up.
  void LeaveMessage(int seconds, const std::string& name = "TESTCALLER") {
    MessageRecording(name);
    fake.clock().Advance(static_cast<uint64_t>(seconds) * 1000);
    HangUp();
  }
  // A conversation taken on pick-up after the ring gap: recording runs.
  void RecordedConversation() {
    Incoming();
    far().PickUp();
    fake.clock().Advance(7100);
    Deliver();
  }

  const std::vector<std::string>& Sent(int32_t channel) {
    return fake.channels().Sent(channel);
  }
  // The records of today's data file.
  std::vector<CallRecord> Records() {
    const std::string data = ReadFile(home / "Data/Log/2026/12/04/Data");
    std::vector<CallRecord> records(data.size() / CallRecord::kSize);
    for (size_t i = 0; i < records.size(); ++i) {
      std::memcpy(records[i].bytes(), data.data() + i * CallRecord::kSize,
                  CallRecord::kSize);
    }
    return records;
  }
  // The call types of the stored records, in order ("2", "0", ...).
  std::string Types() {
    std::string types;
    for (const CallRecord& r : Records()) types += FieldText(r.call_type);
    return types;
  }
  // How often the fakes' simulated line saw `op` since Start().
  int Ops(const std::string& op) {
    int n = 0;
    for (const std::string& o : fake.line().ops()) n += o == op;
    return n;
  }

  LinePair line_pair_;
  ProcessState process_;
  std::vector<std::string> speech_log_;
  LoggingSpeechWindow speech_{speech_log_};
  std::unique_ptr<LineController> line_;
};

}  // namespace lw::testing
