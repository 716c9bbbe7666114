// A line that closes in the middle of a voice message (the process stopped,
// unloaded, or the line switched off) keeps the message: the real process
// on the simulated line, `lwdctl phone` as the caller and `lwdctl listen` as
// the desktop application.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <vector>

#include "e2e_util.h"

namespace lw::testing {
namespace {

struct StopCase {
  const char* how;     // "SIGTERM", "UNLOAD" (on 105) or "OFF" (on 108)
  const char* name;    // the caller name sent, nullptr: none
  const char* stored;  // the caller name expected in the record and file
  int seconds;         // of message before the line closes
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.how; }

class StopE2E : public ::testing::TestWithParam<StopCase> {
 protected:
  void TearDown() override {
    if (proc_ > 0 && waitpid(proc_, nullptr, WNOHANG) == 0) {
      kill(proc_, SIGTERM);
      int status = 0;
      EXPECT_TRUE(WaitExit(proc_, &status));
    }
  }
  bool Journalled(const std::string& text) const {
    return env_.SysJournal().find(text) != std::string::npos;
  }
  std::string Today() const { return testing::Today(env_.home()); }

  ProgramEnv env_;
  pid_t proc_ = -1;
};

TEST_P(StopE2E, LineClosingDuringAMessageStoresTheMessage) {
  // given a caller speaking into the answering machine when the line
  // closes, expect the call hung up and stored as a voice message in
  // "Data" and "\Data\Last", a whole WAV of what was said, and "Tapi_Idle"
  // on 110 and 107 before the line status says the line is off
  const StopCase& c = GetParam();
  // The demo settings answer at the second ring: the caller identification
  // follows the first one, and an answer before it would lose the number.
  DemoSettings(env_);
  mkdir((env_.home() + "/Greets").c_str(), 0755);
  WriteTone(env_.home() + "/Greets/Greeting.wav", 440, 0.5);
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 30);
  ASSERT_TRUE(StartProcess(env_, &proc_));

  const std::string heard = env_.home() + "/listen.txt";
  const std::string ch110 = env_.runtime() + "/ch110";
  const std::string ch107 = env_.runtime() + "/ch107";
  const size_t bound110 = Entries(ch110);
  const size_t bound107 = Entries(ch107);
  const pid_t listener = env_.Spawn(
      "lwdctl", {"listen", "110", "107", "--timeout", "60"}, {}, heard);
  // Bound once a socket of its own sits in each channel's folder.
  ASSERT_TRUE(WaitFor(
      [&] { return Entries(ch110) > bound110 && Entries(ch107) > bound107; }));
  std::vector<std::string> call = {
      "phone",           "call", "--number", "5551234", "--rings",        "10",
      "--ring-interval", "0.5",  "--play",   voice,     "--hangup-after", "60"};
  if (c.name != nullptr) {
    call.push_back("--name");
    call.push_back(c.name);
  }
  const std::string phone_out = env_.home() + "/phone.txt";
  const pid_t phone = env_.Spawn("lwdctl", call, {}, phone_out);
  ASSERT_TRUE(WaitFor([&] { return Journalled("Wave.StartRecord("); }));
  std::this_thread::sleep_for(std::chrono::seconds(c.seconds));

  const std::string how = c.how;
  if (how == "SIGTERM") kill(proc_, SIGTERM);
  if (how == "UNLOAD") env_.Run("lwdctl", {"send", "105", "UNLOAD"});
  if (how == "OFF") env_.Run("lwdctl", {"send", "108", "OFF"});
  int status = 0;
  if (how != "OFF") {
    ASSERT_TRUE(WaitExit(proc_, &status));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  ASSERT_TRUE(WaitExit(phone, &status));
  EXPECT_NE(ReadFile(phone_out).find("{\"event\":\"hangup\",\"by\":\"line\"}"),
            std::string::npos)
      << ReadFile(phone_out);
  ASSERT_TRUE(WaitFor([&] {
    return ReadFile(heard).find("LineStatus\\r\\n0\\r\\n1") !=
           std::string::npos;
  }));
  kill(listener, SIGINT);
  WaitExit(listener, &status);

  // The record and the latest-call list.
  const std::string data = ReadFile(Today() + "/Data");
  ASSERT_EQ(data.size(), 467u);
  EXPECT_EQ(Field(data, 2, 2), "2");
  EXPECT_EQ(Field(data, 4, 32), c.stored);
  EXPECT_EQ(Field(data, 36, 32), "5551234");
  const std::string length = Field(data, 134, 10);
  ASSERT_EQ(length.substr(0, 5), "0:00:") << length;
  EXPECT_NEAR(std::stoi(length.substr(5)), c.seconds, 1) << length;
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last").rfind("1:\\Data\\Log\\", 0),
            0u);

  // The recording: named by the stored caller, readable, as long as the
  // message was and holding the caller's voice to its end.
  const auto waves = FilesIn(Today(), ".wav");
  ASSERT_EQ(waves.size(), 1u);
  EXPECT_NE(waves[0].find(std::string("/") + c.stored + "_5551234_"),
            std::string::npos)
      << waves[0];
  SF_INFO info{};
  const std::vector<short> samples = ReadSamples(waves[0], &info);
  EXPECT_NEAR(static_cast<double>(info.frames) / 8000, c.seconds, 1.0);
  ASSERT_GT(samples.size(), 8000u);
  double power = 0;
  for (size_t i = samples.size() - 8000; i < samples.size(); ++i)
    power += static_cast<double>(samples[i]) * samples[i];
  EXPECT_GT(std::sqrt(power / 8000), 3000) << "the last second is the voice";

  // The desktop application heard that the call is over before the line
  // went off.
  const std::string msgs = ReadFile(heard);
  const size_t idle110 =
      msgs.find("{\"channel\":110,\"text\":\"Tapi_Idle\\r\\n0\\r\\n2\"}");
  const size_t idle107 =
      msgs.find("{\"channel\":107,\"text\":\"Tapi_Idle\\r\\n0\\r\\n2\"}");
  const size_t off = msgs.find("LineStatus\\r\\n0\\r\\n1");
  ASSERT_NE(idle110, std::string::npos) << msgs;
  ASSERT_NE(idle107, std::string::npos) << msgs;
  EXPECT_LT(idle107, off) << msgs;
}

INSTANTIATE_TEST_SUITE_P(
    HowTheLineCloses, StopE2E,
    ::testing::Values(StopCase{"SIGTERM", nullptr, "UNKNOWN", 7},
                      StopCase{"UNLOAD", "   ", "UNKNOWN", 3},
                      StopCase{"OFF", "TESTCALLER", "TESTCALLER", 3}),
    [](const ::testing::TestParamInfo<StopCase>& info) {
      return std::string(info.param.how);
    });

}  // namespace
}  // namespace lw::testing
