// Whole calls on the simulated line: the real process, driven by
// `lwdctl phone` as the far end and `lwdctl listen` as the desktop
// application.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "e2e_util.h"

namespace lw::testing {
namespace {

// Power of `hz` relative to the whole power of the window (0..1).
double ToneShare(const std::vector<short>& s, size_t from, size_t n,
                 double hz) {
  double re = 0, im = 0, total = 0;
  for (size_t i = from; i < from + n && i < s.size(); ++i) {
    const double x = s[i];
    re += x * std::cos(2 * M_PI * hz * static_cast<double>(i) / 8000);
    im += x * std::sin(2 * M_PI * hz * static_cast<double>(i) / 8000);
    total += x * x;
  }
  if (total <= 0) return 0;
  return (re * re + im * im) * 2 / static_cast<double>(n) / total;
}

// True when some 100 ms window of `s` is mostly a tone of `hz`.
bool HasTone(const std::vector<short>& s, double hz) {
  for (size_t at = 0; at + 800 <= s.size(); at += 400)
    if (ToneShare(s, at, 800, hz) > 0.6) return true;
  return false;
}

class CallsE2E : public LineE2E {
 protected:
  std::vector<std::string> Records() const {
    return testing::Records(env_.home());
  }
  // Runs the far end to the end of the call; returns its JSON lines.
  std::string Phone(const std::vector<std::string>& args) {
    std::string out;
    std::vector<std::string> all = {"phone"};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_EQ(env_.Run("lwdctl", all, &out), 0) << out;
    return out;
  }
  // Waits until `n` records are stored.
  bool WaitRecords(size_t n) {
    return WaitFor([&] { return Records().size() >= n; });
  }
};

TEST_F(CallsE2E, CallerLeavesAMessageAfterGreetingAndBeep) {
  // given the answering machine after 2 rings, expect greeting and beep in
  // the caller's ear, the message stored as type "2", the list updated and
  // "Tapi_Idle" with "2" on 110 then 107
  const std::string message = env_.home() + "/message.wav";
  WriteTone(message, 440, 3.0);
  const std::string listened = env_.home() + "/listen.txt";
  pid_t listener = env_.Spawn(
      "lwdctl", {"listen", "110", "107", "--timeout", "30"}, {}, listened);
  ASSERT_TRUE(WaitFor(
      [&] { return FilesIn(env_.runtime() + "/ch110", "").size() >= 1; }));
  const std::string heard = env_.home() + "/heard.wav";
  const std::string out =
      Phone({"call", "--name", "TESTCALLER", "--number", "5551234", "--rings",
             "4", "--ring-interval", "0.5", "--play", message, "--play-after",
             "2.5", "--capture", heard});
  EXPECT_NE(out.find("{\"event\":\"answered\",\"after_rings\":2}"),
            std::string::npos)
      << out;
  ASSERT_TRUE(WaitRecords(1));

  const std::string rec = Records()[0];
  EXPECT_EQ(Field(rec, 2, 2), "2");
  EXPECT_EQ(Field(rec, 4, 32), "TESTCALLER");
  EXPECT_EQ(Field(rec, 36, 32), "5551234");
  EXPECT_EQ(Field(rec, 134, 10).substr(0, 5), "0:00:");
  // The record is appended first, then the list is replaced.
  ASSERT_TRUE(
      WaitFor([&] { return !ReadFile(env_.home() + "/Data/Last").empty(); }));
  const std::string last = ReadFile(env_.home() + "/Data/Last");
  EXPECT_EQ(last.substr(0, 2), "1:");
  EXPECT_NE(last.find(":\\Data\\Log\\"), std::string::npos);

  const auto wavs = FilesIn(Today(), ".wav");
  ASSERT_EQ(wavs.size(), 1u);
  EXPECT_NE(wavs[0].find("/TESTCALLER_5551234_"), std::string::npos);
  SF_INFO info{};
  const auto recorded = ReadSamples(wavs[0], &info);
  EXPECT_EQ(info.samplerate, 8000);
  EXPECT_TRUE(HasTone(recorded, 440))
      << "the caller's voice is in the recording";

  const auto ear = ReadSamples(heard);
  EXPECT_TRUE(HasTone(ear, 600)) << "greeting heard";
  EXPECT_TRUE(HasTone(ear, 1000)) << "beep heard";

  ASSERT_TRUE(WaitFor([&] {
    return ReadFile(listened).find("{\"channel\":107,\"text\":\"Tapi_Idle") !=
           std::string::npos;
  }));
  kill(listener, SIGINT);
  int status = 0;
  WaitExit(listener, &status);
  const std::string msgs = ReadFile(listened);
  const size_t on110 =
      msgs.find("{\"channel\":110,\"text\":\"Tapi_Idle\\r\\n0\\r\\n2\"}");
  const size_t on107 =
      msgs.find("{\"channel\":107,\"text\":\"Tapi_Idle\\r\\n0\\r\\n2\"}");
  ASSERT_NE(on110, std::string::npos) << msgs;
  ASSERT_NE(on107, std::string::npos) << msgs;
  EXPECT_LT(on110, on107);
}

TEST_F(CallsE2E, ShortMessageCountsAsNoneButItsFileIsKept) {
  // given a caller who hangs up right after the beep, expect type "0"
  const std::string out =
      Phone({"call", "--name", "QUICK", "--number", "5552222", "--rings", "4",
             "--ring-interval", "0.5", "--hangup-after", "2"});
  ASSERT_TRUE(WaitRecords(1));
  EXPECT_EQ(Field(Records()[0], 2, 2), "0");
  EXPECT_EQ(FilesIn(Today(), ".wav").size(), 1u);
}

TEST_F(CallsE2E, ConversationPickedUpOnAnExtensionIsRecorded) {
  // given pick-up detection and an extension taking the call after one
  // ring, expect the conversation recorded as type "3"
  Set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "0");
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 500, 3.0);
  Phone({"call", "--name", "TALKER", "--number", "5553333", "--rings", "6",
         "--ring-interval", "0.5", "--pickup-after-ring", "1", "--play", voice,
         // The line takes the call when the rings have stopped for 7 s; the
         // talk starts after that.
         "--play-after", "8.5", "--hangup-after", "12"});
  ASSERT_TRUE(WaitRecords(1));
  EXPECT_EQ(Field(Records()[0], 2, 2), "3");
  const auto wavs = FilesIn(Today(), ".wav");
  ASSERT_EQ(wavs.size(), 1u);
  EXPECT_TRUE(HasTone(ReadSamples(wavs[0]), 500));
}

TEST_F(CallsE2E, BlockedContactIsAnsweredDroppedAndStored) {
  ASSERT_EQ(
      env_.Run("lwdctl", {"contacts", "add", "Spam", "5550000", "--block"}), 0);
  const std::string listened = env_.home() + "/listen.txt";
  pid_t listener =
      env_.Spawn("lwdctl", {"listen", "109", "--timeout", "30"}, {}, listened);
  ASSERT_TRUE(WaitFor(
      [&] { return FilesIn(env_.runtime() + "/ch109", "").size() >= 1; }));
  const std::string out =
      Phone({"call", "--name", "SPAM", "--number", "5550000", "--rings", "8",
             "--ring-interval", "0.5"});
  EXPECT_NE(out.find("{\"event\":\"answered\""), std::string::npos) << out;
  EXPECT_NE(out.find("{\"event\":\"hangup\",\"by\":\"line\"}"),
            std::string::npos)
      << out;
  ASSERT_TRUE(WaitRecords(1));
  kill(listener, SIGINT);
  int status = 0;
  WaitExit(listener, &status);
  EXPECT_EQ(ReadFile(listened).find("Tapi_CID"), std::string::npos);
}

TEST_F(CallsE2E, CallOutRecIsRecordedAsAnOutgoingRecordedCall) {
  // given a far end that answers after a second and talks, expect type "4"
  Set("Answer\\TabDisconnectMode", "txtListRecMoreThen", "0");
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 700, 3.0);
  const std::string out_file = env_.home() + "/answer.txt";
  pid_t far = env_.Spawn("lwdctl",
                         {"phone", "answer", "--after", "0.5", "--play", voice,
                          "--hangup-after", "4"},
                         {}, out_file);
  ASSERT_TRUE(WaitFor(
      [&] { return ReadFile(out_file).find("waiting") != std::string::npos; }));
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "CallOutRec", "5554444"}), 0);
  int status = 0;
  ASSERT_TRUE(WaitExit(far, &status, std::chrono::seconds(20)));
  ASSERT_TRUE(WaitRecords(1));
  EXPECT_EQ(Field(Records()[0], 2, 2), "4");
}

TEST_F(CallsE2E, LegalNoticeIsHeardBeforeTheRecordedConversation) {
  // given a notice before recording, expect it in the caller's ear once the
  // line takes the picked-up call, and the conversation stored as type "3"
  Set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "0");
  Set("Answer\\TabCallsRecord", "chkLegalRecMSG", "1");
  Set("Answer\\TabCallsRecord", "cmbLegalRecMSG", "Notice");
  WriteTone(env_.home() + "/LegalGreets/Notice.wav", 800, 1.0);
  const std::string heard = env_.home() + "/heard.wav";
  Phone({"call", "--name", "TALKER", "--number", "5553333", "--rings", "6",
         "--ring-interval", "0.5", "--pickup-after-ring", "1", "--hangup-after",
         "10", "--capture", heard});
  ASSERT_TRUE(WaitRecords(1));
  EXPECT_EQ(Field(Records()[0], 2, 2), "3");
  EXPECT_TRUE(HasTone(ReadSamples(heard), 800));
}

TEST_F(CallsE2E, IgnoredContactRingsOutUnanswered) {
  // given an ignored contact and the answering machine at ring 2, expect no
  // answer and the call stored without a recording
  ASSERT_EQ(
      env_.Run("lwdctl", {"contacts", "add", "Night", "5559999", "--ignore"}),
      0);
  const std::string out =
      Phone({"call", "--name", "NIGHT", "--number", "5559999", "--rings", "4",
             "--ring-interval", "0.5"});
  EXPECT_EQ(out.find("\"answered\""), std::string::npos) << out;
  EXPECT_NE(out.find("{\"event\":\"hangup\",\"by\":\"caller\"}"),
            std::string::npos)
      << out;
  ASSERT_TRUE(WaitRecords(1));
  EXPECT_EQ(Field(Records()[0], 2, 2), "0");
  EXPECT_TRUE(FilesIn(Today(), ".wav").empty());
}

TEST_F(CallsE2E, EveryNthCallIsRecorded) {
  // given "record every 2nd call", expect the first picked-up call left
  // alone and the second recorded
  Set("Answer\\TabAnsweringMachine", "chkRunAnsIfNotAnswered", "0");
  Set("Answer\\TabCallsRecord", "cmbRecWhen", "1");
  Set("Answer\\TabCallsRecord", "lblNumOfCallToRec", "2");
  const std::vector<std::string> call = {"call",    "--name",
                                         "TALKER",  "--number",
                                         "5553333", "--rings",
                                         "6",       "--ring-interval",
                                         "0.5",     "--pickup-after-ring",
                                         "1",       "--hangup-after",
                                         "9"};
  std::vector<std::string> first = call;
  first.back() = "2";
  Phone(first);
  ASSERT_TRUE(WaitRecords(1));
  Phone(call);
  ASSERT_TRUE(WaitRecords(2));
  const auto recs = Records();
  EXPECT_EQ(Field(recs[0], 2, 2), "0");
  EXPECT_EQ(Field(recs[1], 2, 2), "3");
}

TEST_F(CallsE2E, MessageLengthLimitHangsUp) {
  // given messages limited to 0.05 minutes, expect the line to hang up on a
  // caller who keeps talking
  Set("Answer\\TabAnsweringMachine", "txtRecLong", "0.05");
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 20.0);
  const std::string out = Phone(
      {"call", "--name", "LONG", "--number", "5554444", "--rings", "4",
       "--ring-interval", "0.5", "--play", voice, "--hangup-after", "25"});
  EXPECT_NE(out.find("{\"event\":\"hangup\",\"by\":\"line\"}"),
            std::string::npos)
      << out;
  ASSERT_TRUE(WaitRecords(1));
  EXPECT_EQ(Field(Records()[0], 2, 2), "2");
}

TEST_F(CallsE2E, SilentCallerIsHungUpOn) {
  // given a drop after 2 s of silence, expect the line to hang up on a
  // caller who says nothing
  Set("Answer\\TabDisconnectMode", "txtSilenceSec", "2");
  const std::string out =
      Phone({"call", "--name", "QUIET", "--number", "5555555", "--rings", "4",
             "--ring-interval", "0.5", "--hangup-after", "25"});
  EXPECT_NE(out.find("{\"event\":\"hangup\",\"by\":\"line\"}"),
            std::string::npos)
      << out;
  ASSERT_TRUE(WaitRecords(1));
}

}  // namespace
}  // namespace lw::testing
