// A line that closes in the middle of a voice message (the process stopped,
// unloaded or killed, or the line switched off) keeps the message: the real
// process on the simulated line, `lwdctl phone` as the caller and `lwdctl
// listen` as the desktop application.
#include <gtest/gtest.h>

#include <fstream>
#include <thread>

#include "e2e_util.h"

namespace lw::testing {
namespace {

struct StopCase {
  // "SIGTERM", "UNLOAD" (on 105), "OFF" (on 108) or "UNPLUG" (the line lost,
  // then back)
  const char* how;
  const char* name;    // the caller name sent, nullptr: none
  const char* stored;  // the caller name expected in the record and file
  int seconds;         // of message before the line closes
};

void PrintTo(const StopCase& c, std::ostream* os) { *os << c.how; }

class StopE2E : public LineE2E {
 protected:
  void TearDown() override {
    EndProgram(&phone_);
    LineE2E::TearDown();
  }
  // A caller who leaves a message of a 440 Hz tone, hanging up after
  // `seconds` unless the line does first.
  void StartCall(const char* name, int seconds) {
    const std::string voice = env_.home() + "/voice.wav";
    WriteTone(voice, 440, 30);
    std::vector<std::string> call = {
        "phone",   "call", "--number",        "5551234",
        "--rings", "10",   "--ring-interval", "0.5",
        "--play",  voice,  "--hangup-after",  std::to_string(seconds)};
    if (name != nullptr) call.insert(call.end(), {"--name", name});
    phone_ = env_.Spawn("lwdctl", call, {}, phone_out_);
    ASSERT_GT(phone_, 0);
    ASSERT_TRUE(WaitFor([&] { return env_.Journalled("Wave.StartRecord("); }));
  }
  off_t Size(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
  }

  pid_t phone_ = -1;
  const std::string phone_out_ = env_.home() + "/phone.txt";
};

class LineClosesE2E : public StopE2E,
                      public ::testing::WithParamInterface<StopCase> {};

TEST_P(LineClosesE2E, DuringAMessageTheMessageIsStored) {
  // given a caller speaking into the answering machine when the line
  // closes, expect the call hung up and stored as a voice message in
  // "Data" and "\Data\Last", a whole WAV of what was said, and "Tapi_Idle"
  // on 110 and 107 before the line status says the line is off; a lost line
  // is journalled once and opened again when it is back
  const StopCase& c = GetParam();
  Listener listener(env_, {"110", "107"});
  StartCall(c.name, 60);
  std::this_thread::sleep_for(std::chrono::seconds(c.seconds));
  const std::string how = c.how;
  if (how == "SIGTERM") kill(proc_, SIGTERM);
  if (how == "UNLOAD") env_.Run("lwdctl", {"send", "105", "UNLOAD"});
  if (how == "OFF") env_.Run("lwdctl", {"send", "108", "OFF"});
  if (how == "UNPLUG") env_.Run("lwdctl", {"phone", "unplug"});
  int status = 0;
  if (how == "SIGTERM" || how == "UNLOAD") {
    ASSERT_TRUE(WaitExit(proc_, &status));
    proc_ = -1;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(env_.Journalled("CloseLine->"));
  }
  ASSERT_TRUE(WaitExit(phone_, &status));
  phone_ = -1;
  EXPECT_THAT(ReadFile(phone_out_),
              HasSubstr("{\"event\":\"hangup\",\"by\":\"line\"}"));
  ASSERT_TRUE(listener.WaitText("LineStatus\\r\\n0\\r\\n1"));
  if (how == "UNPLUG") {
    env_.Run("lwdctl", {"phone", "plug"});
    ASSERT_TRUE(listener.WaitText("LineStatus\\r\\n0\\r\\n0"));
    EXPECT_EQ(Count(env_.Journal(), " lost: closed until it is back"), 1u);
  }
  const std::string msgs = listener.Stop();

  const auto records = env_.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(FieldText(records[0].call_type), "2");
  EXPECT_EQ(FieldText(records[0].caller_name), c.stored);
  EXPECT_EQ(FieldText(records[0].caller_number), "5551234");
  const std::string length = FieldText(records[0].length);
  ASSERT_EQ(length.substr(0, 5), "0:00:") << length;
  EXPECT_NEAR(std::stoi(length.substr(5)), c.seconds, 1) << length;
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last").rfind("1:\\Data\\Log\\", 0),
            0u);
  // The recording: named by the stored caller, as long as the message was
  // and holding the caller's voice to its end.
  const auto waves = FilesIn(env_.Today(), ".wav");
  ASSERT_EQ(waves, std::vector<std::string>{env_.RecordingOf(records[0])});
  SF_INFO info{};
  const std::vector<short> samples = ReadSamples(waves[0], &info);
  EXPECT_NEAR(static_cast<double>(info.frames) / 8000, c.seconds, 1.0);
  EXPECT_GT(LastSecondLevel(samples), 3000) << "the last second is the voice";
  // The desktop application heard that the call is over before the line
  // went off.
  EXPECT_THAT(
      msgs,
      HasSubstr("{\"channel\":110,\"text\":\"Tapi_Idle\\r\\n0\\r\\n2\"}"));
  EXPECT_LT(msgs.find("{\"channel\":107,\"text\":\"Tapi_Idle\\r\\n0\\r\\n2\"}"),
            msgs.find("LineStatus\\r\\n0\\r\\n1"))
      << msgs;
}

INSTANTIATE_TEST_SUITE_P(
    HowTheLineCloses, LineClosesE2E,
    ::testing::Values(StopCase{"SIGTERM", nullptr, "UNKNOWN", 7},
                      StopCase{"UNLOAD", "   ", "UNKNOWN", 3},
                      StopCase{"OFF", "TESTCALLER", "TESTCALLER", 3},
                      StopCase{"UNPLUG", "TESTCALLER", "TESTCALLER", 3}),
    [](const ::testing::TestParamInfo<StopCase>& info) {
      return std::string(info.param.how);
    });

TEST_F(StopE2E, MessageCutOffByKillIsStoredAtTheNextStart) {
  // given kill -9 four seconds into a voice message, with the header as a
  // kill before its update leaves it (sizes 0, half a sample after the last
  // one), expect the next start to store the message readable to the last
  // whole sample, at the head of the latest-call list
  StartCall("KILLED", 30);
  std::string wav;
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto wavs = FilesIn(env_.Today(), ".wav");
        wav = wavs.size() == 1 ? wavs[0] : "";
        return Size(wav) > 44 + 4 * 16000 &&
               Size(wav + ".call") == CallRecord::kSize;
      },
      std::chrono::seconds(20)));
  EndProgram(&proc_, SIGKILL);
  const off_t written = Size(wav);
  {
    std::fstream f(wav, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4).write("\0\0\0\0", 4).seekp(40).write("\0\0\0\0", 4);
    f.seekp(0, std::ios::end).write("\x7f", 1);
  }
  ASSERT_TRUE(env_.Records().empty());

  ASSERT_TRUE(StartProcess(env_, &proc_, env_.Journal().size()));
  const std::string journal = env_.Journal();
  EXPECT_THAT(journal, HasSubstr("Recovered interrupted call: " + wav));
  EXPECT_THAT(journal, Not(HasSubstr("Recording without a stored call")));
  const auto records = env_.Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(FieldText(records[0].call_type), "2");
  EXPECT_EQ(FieldText(records[0].length).substr(0, 6), "0:00:0");
  EXPECT_EQ(env_.RecordingOf(records[0]), wav);
  const std::string day = env_.Today().substr(env_.home().size());
  std::string listed = "1:" + day + "/\r\n";
  std::replace(listed.begin(), listed.end(), '/', '\\');
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last"), listed);
  EXPECT_EQ(Size(wav + ".call"), -1) << "the note is gone";
  SF_INFO info{};
  const auto samples = ReadSamples(wav, &info);
  EXPECT_EQ(info.frames, (written - 44) / 2);
  EXPECT_GT(LastSecondLevel(samples), 3000)
      << "the caller's voice runs to the end";
}

}  // namespace
}  // namespace lw::testing
