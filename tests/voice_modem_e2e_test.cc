// The process on a voice modem: the modem simulator on a pseudo-terminal,
// reached through the real serial driver, for each chipset profile.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "e2e_util.h"

namespace lw::testing {
namespace {

using ::testing::HasSubstr;

// The process on the simulator of Profile(), which is running before the
// process starts; the modem is the line "cmbModemDev" names.
class ModemSimE2E : public LineE2E {
 protected:
  virtual std::string Profile() const { return "conexant"; }
  void Prepare() override {
    link_ = env_.home() + "/modem";
    control_ = env_.home() + "/modem.sock";
    StartSim();
    MinimalSettings(env_);
    env_.Set("Properties\\TabDevices\\VoiceModem", "txtModemPorts", link_);
    // The name the probe gives the modem is what the owner picks.
    const std::string maker = Profile() == "usr"        ? "U.S. Robotics"
                              : Profile() == "conexant" ? "CONEXANT"
                                                        : "ROCKWELL";
    env_.Set("Properties\\TabDevices", "cmbModemDev",
             maker + " (" + link_ + ")");
  }
  void StartSim() {
    std::filesystem::remove(control_);
    sim_ = env_.Spawn(
        "linewarden-modemsim",
        {"--profile", Profile(), "--link", link_, "--control", control_}, {},
        env_.home() + "/modemsim.txt");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(control_); }));
  }
  void TearDown() override {
    LineE2E::TearDown();
    EndProgram(&sim_);
  }
  std::string Call(const std::vector<std::string>& args) {
    std::vector<std::string> all = {"call", "--control", control_};
    all.insert(all.end(), args.begin(), args.end());
    std::string out;
    EXPECT_EQ(env_.Run("linewarden-modemsim", all, &out), 0) << out;
    return out;
  }

  std::string link_;
  std::string control_;
  pid_t sim_ = -1;
};

class VoiceModemE2E : public ModemSimE2E,
                      public ::testing::WithParamInterface<const char*> {
 protected:
  std::string Profile() const override { return GetParam(); }
};

TEST_P(VoiceModemE2E, CallerIdentifiedCallIsAnsweredAndItsMessageStored) {
  // Given a call with caller identification from the modem, expect it
  // answered after the two rings set, the greeting and beep heard by the
  // caller, the caller's 440 Hz message in the stored recording, ended by
  // the far end's hang-up signal (each profile another), and the call in
  // the day file and the latest-call list with name and number.
  const std::string signal = Profile() == "usr"        ? "busy"
                             : Profile() == "conexant" ? "loop"
                                                       : "silence";
  const std::string voice = env_.home() + "/voice.wav";
  const std::string capture = env_.home() + "/capture.wav";
  WriteTone(voice, 440, 4);
  const std::string out = Call(
      {"--name", "ANN SMITH", "--number", "5551234", "--ring-interval", "1",
       "--play", voice, "--capture", capture, "--hangup-signal", signal});
  EXPECT_THAT(out, HasSubstr("{\"event\":\"answered\",\"after_rings\":2}"));
  const std::vector<short> heard = ReadSamples(capture);
  EXPECT_TRUE(HasTone(heard, 600));
  EXPECT_TRUE(HasTone(heard, 1000));
  ASSERT_TRUE(env_.WaitRecords(1)) << env_.Journal();
  const CallRecord record = env_.Records().at(0);
  EXPECT_EQ(FieldText(record.caller_name), "ANN SMITH");
  EXPECT_EQ(FieldText(record.caller_number), "5551234");
  const std::vector<short> message = ReadSamples(env_.RecordingOf(record));
  EXPECT_TRUE(HasTone(message, 440));
  // The caller spoke 4 s, of which greeting and beep took 1.3 s; the
  // hang-up signal a second after the message ended the recording.
  EXPECT_GT(message.size(), 2u * 8000);
  EXPECT_LT(message.size(), 5u * 8000);
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile(env_.home() + "/Data/Last").find(":\\Data\\Log\\") !=
           std::string::npos;
  }));
}

INSTANTIATE_TEST_SUITE_P(Profiles, VoiceModemE2E,
                         ::testing::Values("usr", "conexant", "rockwell"));

TEST_F(ModemSimE2E, UnpluggedModemKeepsTheCallAndTheLineComesBack) {
  // Given the modem gone in the middle of a message and back two seconds
  // later, expect the call stored with what was recorded, the line reported
  // closed on 107 and open again, and the next call answered.
  Listener status(env_, {"107"});
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 20);
  const pid_t caller =
      env_.Spawn("linewarden-modemsim",
                 {"call", "--control", control_, "--number", "5551234",
                  "--ring-interval", "1", "--play", voice},
                 {}, env_.home() + "/caller.txt");
  ASSERT_TRUE(WaitFor([&] { return env_.Journalled("Wave.StartRecord"); }));
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EndProgram(&sim_);
  ASSERT_TRUE(env_.WaitRecords(1)) << env_.Journal();
  ASSERT_TRUE(status.WaitText("LineStatus\\r\\n0\\r\\n1"));
  EXPECT_TRUE(
      HasTone(ReadSamples(env_.RecordingOf(env_.Records().at(0))), 440));
  StartSim();
  ASSERT_TRUE(WaitFor([&] { return env_.Journalled("Tapi_LineBack"); }));
  ASSERT_TRUE(status.WaitText("LineStatus\\r\\n0\\r\\n0"));
  int exit_status = 0;
  EXPECT_TRUE(WaitExit(caller, &exit_status));
  EXPECT_THAT(Call({"--number", "5559876", "--ring-interval", "1",
                    "--hangup-after", "3"}),
              HasSubstr("\"answered\""));
  ASSERT_TRUE(env_.WaitRecords(2));
}

class NoMachineE2E : public ModemSimE2E {
 protected:
  void Prepare() override {
    ModemSimE2E::Prepare();
    env_.Set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "0");
  }
};

TEST_F(NoMachineE2E, ConversationOnAnExtensionIsRecorded) {
  // Given no answering machine and an extension lifted at the first ring
  // (DLE P), expect the line to take the call once the rings stopped and
  // the caller's 440 Hz talk after that in the stored recording.
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 3);
  Call({"--number", "5553333", "--rings", "6", "--pickup-after-ring", "1",
        "--play", voice, "--play-after", "8.5", "--hangup-after", "12"});
  ASSERT_TRUE(env_.WaitRecords(1)) << env_.Journal();
  EXPECT_TRUE(
      HasTone(ReadSamples(env_.RecordingOf(env_.Records().at(0))), 440));
}

// The modem's terminal appears only after the process started.
class HotPlugE2E : public ModemSimE2E {
 protected:
  void Prepare() override {
    ModemSimE2E::Prepare();
    EndProgram(&sim_);
  }
};

TEST_F(HotPlugE2E, ModemPluggedInLaterIsListedAndTakesTheLine) {
  // Given "cmbModemDev" naming the modem, plugged in after start-up, expect
  // the simulated line used meanwhile, the modem probed and listed by
  // lwdctl devices without a restart, the line moved onto it, and its call
  // answered and stored.
  const std::string modem = "CONEXANT (" + link_ + ")";
  ASSERT_TRUE(WaitFor([&] {
    return env_.Journalled("The line device " + modem + " is missing: ");
  })) << env_.Journal();
  StartSim();
  ASSERT_TRUE(WaitFor([&] {
    return env_.Journalled("The line device " + modem + " is listed now");
  })) << env_.Journal();
  std::string out;
  env_.Run("lwdctl", {"devices"}, &out);
  EXPECT_THAT(out, HasSubstr(modem));
  EXPECT_THAT(Call({"--number", "5559876", "--ring-interval", "1",
                    "--hangup-after", "3"}),
              HasSubstr("\"answered\""));
  ASSERT_TRUE(env_.WaitRecords(1)) << env_.Journal();
}

// Serial caller identification on the modem, then the hand-over.
class ModemModeE2E : public ModemSimE2E {
 protected:
  void Prepare() override {
    ModemSimE2E::Prepare();
    env_.Set("Properties\\TabDevices\\CallerID", "Tapi", "0");
    std::ofstream(env_.home() + "/AT_Commands_Scenario.txt")
        << "' caller ID on\r\nATZ\r\nAT+VCID=1\r\n";
  }
};

TEST_F(ModemModeE2E, CallerIdOnTheSerialPortThenTheVoiceModemAnswers) {
  // Given modem mode on the voice modem's port, expect the caller reported
  // from the serial port, the modem handed to the voice driver, the message
  // recorded and the call stored with the caller's name and number.
  ASSERT_TRUE(
      WaitFor([&] { return env_.Journalled("AT COMMAND:AT+VCID=1:OK"); }));
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 3);
  Call({"--name", "ANN SMITH", "--number", "5551234", "--ring-interval", "1",
        "--play", voice});
  ASSERT_TRUE(env_.WaitRecords(1)) << env_.Journal();
  EXPECT_THAT(env_.Journal(),
              HasSubstr("Comm_CallerID:(Index:0):ANN SMITH:5551234"));
  const CallRecord record = env_.Records().at(0);
  EXPECT_EQ(FieldText(record.caller_name), "ANN SMITH");
  EXPECT_TRUE(HasTone(ReadSamples(env_.RecordingOf(record)), 440));
}

}  // namespace
}  // namespace lw::testing
