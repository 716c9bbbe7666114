// The process on a voice modem: the modem simulator on a pseudo-terminal,
// reached through the real serial driver, for each chipset profile.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "e2e_util.h"

namespace lw::testing {
namespace {

using ::testing::HasSubstr;

class VoiceModemE2E : public LineE2E,
                      public ::testing::WithParamInterface<const char*> {
 protected:
  void Prepare() override {
    const std::string link = env_.home() + "/modem";
    control_ = env_.home() + "/modem.sock";
    sim_ = env_.Spawn(
        "linewarden-modemsim",
        {"--profile", GetParam(), "--link", link, "--control", control_}, {},
        env_.home() + "/modemsim.txt");
    ASSERT_TRUE(WaitFor([&] { return std::filesystem::exists(control_); }));
    MinimalSettings(env_);
    env_.Set("Properties\\TabDevices\\VoiceModem", "txtModemPorts", link);
    // The name the probe gives the modem is what the owner picks.
    const char* maker = std::string(GetParam()) == "usr" ? "U.S. Robotics"
                        : std::string(GetParam()) == "conexant" ? "CONEXANT"
                                                                : "ROCKWELL";
    env_.Set("Properties\\TabDevices", "cmbModemDev",
             std::string(maker) + " (" + link + ")");
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

  std::string control_;
  pid_t sim_ = -1;
};

TEST_P(VoiceModemE2E, CallerIdentifiedCallIsAnsweredAndItsMessageStored) {
  // Given a call with caller identification from the modem, expect it
  // answered after the two rings set, the greeting and beep heard by the
  // caller, the caller's 440 Hz message in the stored recording, and the
  // call in the day file and the latest-call list with name and number.
  const std::string voice = env_.home() + "/voice.wav";
  const std::string capture = env_.home() + "/capture.wav";
  WriteTone(voice, 440, 4);
  const std::string out = Call(
      {"--name", "ANN SMITH", "--number", "5551234", "--ring-interval", "1",
       "--play", voice, "--capture", capture, "--hangup-signal", "busy"});
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
  // The caller spoke 4 s, of which greeting and beep took 1.3 s; the busy
  // tone a second after the message ended the recording.
  EXPECT_GT(message.size(), 2u * 8000);
  EXPECT_LT(message.size(), 5u * 8000);
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile(env_.home() + "/Data/Last").find(":\\Data\\Log\\") !=
           std::string::npos;
  }));
}

INSTANTIATE_TEST_SUITE_P(Profiles, VoiceModemE2E,
                         ::testing::Values("usr", "conexant", "rockwell"));

}  // namespace
}  // namespace lw::testing
