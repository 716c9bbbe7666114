// Screening of unknown callers in the real process on the simulated line:
// the spoken prompt, the screen digit, the owner's access code at the
// prompt, and no forwarding of a screened call.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "e2e_util.h"

namespace lw::testing {
namespace {

class ScreeningE2E : public LineE2E {
 protected:
  void Prepare() override {
    std::filesystem::copy(LW_SOURCE_DIR "/demo/Trans", env_.home() + "/Trans");
    env_.Set("Answer\\TabScreening", "chkScreenUnknown", "1");
    env_.Set("Answer\\TabScreening", "cmbScreenDigit", "55");  // bad: "5"
    env_.Set("Answer\\TabScreening", "txtScreenSeconds", "2");
    // Every call by mail and to a program, so a screened one would show.
    env_.Set("Forward\\Mail", "txtMailTo", "owner@example.org");
    env_.Set("Forward\\Mail", "chkSendToMail", "1");
    env_.Set("MailForward\\SMTP", "txtSMTP", sink_.server());
    env_.Set("MailForward\\Details", "txtFromMail", "line@example.org");
    env_.Set("MailForward\\Details", "txtSubject", "<CALLER_NAME>");
    std::ofstream(script_) << "#!/bin/sh\nprintf '%s|' \"$@\" >> \"$0.log\"\n";
    std::filesystem::permissions(script_, std::filesystem::perms::owner_all);
    env_.Set("Forward\\App", "chkApp", "1");
    env_.Set("Forward\\App", "txtAppTo", "'" + script_ + "' <CALLER_NAME>");
    WriteTone(voice_, 440, 20);
  }
  // A caller who talks from 3 s on and hangs up at 10 s, with `more`
  // options; the far end's JSON lines.
  std::string Call(const std::string& name, const std::string& number,
                   const std::vector<std::string>& more = {}) {
    std::vector<std::string> args = {
        "call", "--name",          name,   "--number",
        number, "--play",          voice_, "--play-after",
        "3",    "--ring-interval", "0.5",  "--hangup-after",
        "10"};
    args.insert(args.end(), more.begin(), more.end());
    return Phone(args);
  }

  SmtpSink sink_;
  const std::string script_ = env_.home() + "/on-call.sh";
  const std::string voice_ = env_.home() + "/voice.wav";
};

TEST_F(ScreeningE2E, UnknownCallerMustKeyTheDigitContactsAndOwnerPass) {
  // given screening on (2 s, a bad digit setting that leaves 5) and every
  // call forwarded, expect a silent unknown caller to be hung up on and
  // stored as "Screened" with no recording and nothing forwarded; one who
  // keys 5 and a contact to leave messages that are forwarded; the owner
  // keying the access code at the prompt to reach remote access
  std::string out = Call("ROBOT", "5550001");
  EXPECT_THAT(out, HasSubstr("{\"event\":\"hangup\",\"by\":\"line\"}"));
  ASSERT_TRUE(env_.WaitRecords(1)) << out;
  out = Call("HUMAN", "5550002", {"--digits", "5", "--digits-after", "1"});
  ASSERT_TRUE(env_.WaitRecords(2)) << out;
  ASSERT_EQ(env_.Run("lwdctl", {"contacts", "add", "Friend", "5550003"}), 0);
  out = Call("FRIEND", "5550003");
  ASSERT_TRUE(env_.WaitRecords(3)) << out;
  out = Call("OWNER", "5550004", {"--digits", "1234#", "--digits-after", "1"});
  ASSERT_TRUE(env_.WaitRecords(4)) << out;

  const auto records = env_.Records();
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"0", "Screened"},
      {"2", "Incoming call"},
      {"2", "Friend"},
      {"0", "Remote access call"}};
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(FieldText(records[i].call_type), expected[i].first) << i;
    EXPECT_EQ(FieldText(records[i].description), expected[i].second) << i;
  }
  EXPECT_FALSE(std::filesystem::exists(env_.RecordingOf(records[0])));
  EXPECT_EQ(FilesIn(env_.Today(), ".wav").size(), 2u);
  EXPECT_EQ(Count(env_.Journal(), "The caller is screened:"), 1u);
  EXPECT_TRUE(env_.Journalled("cmbScreenDigit \"55\" is not a keypad key"));

  // The owner's call is forwarded too: three mails and three programs.
  ASSERT_TRUE(sink_.WaitMail(3));
  ASSERT_TRUE(WaitFor([&] {
    return ReadFile(script_ + ".log") == "HUMAN|FRIEND|OWNER|";
  })) << ReadFile(script_ + ".log");
  EXPECT_EQ(sink_.Part(1, "subject") + sink_.Part(2, "subject") +
                sink_.Part(3, "subject"),
            "HUMANFRIENDOWNER");
  EXPECT_FALSE(sink_.Has(4));
}

}  // namespace
}  // namespace lw::testing
