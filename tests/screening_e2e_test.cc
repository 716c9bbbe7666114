// Screening of unknown callers in the real process on the simulated line:
// the spoken prompt, the screen digit, a wrong key or a hang-up at the
// prompt, the owner's access code at the prompt, and no forwarding of a
// screened call.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "e2e_util.h"

namespace lw::testing {
namespace {

constexpr const char* kPhoneAccess = "RemoteAccess\\TabPhoneAccess";

class ScreeningE2E : public LineE2E {
 protected:
  void Prepare() override {
    std::filesystem::copy(LW_SOURCE_DIR "/demo/Trans", env_.home() + "/Trans");
    env_.Set("Answer\\TabScreening", "chkScreenUnknown", "1");
    env_.Set("Answer\\TabScreening", "cmbScreenDigit", "55");  // bad: "5"
    env_.Set("Answer\\TabScreening", "txtScreenSeconds", "2");
    env_.Set(kPhoneAccess, "chkAllowRemoteAccess", "0");  // on for the owner
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
  // The `nth` call, with `options` (the caller's name and keys): the caller
  // talks from 3 s on and hangs up at 10 s unless `options` say otherwise;
  // the far end's JSON lines.
  std::string Call(size_t nth, const std::string& options) {
    std::istringstream words("call --number 555000" + std::to_string(nth) +
                             " --play " + voice_ +
                             " --play-after 3 --ring-interval 0.5"
                             " --hangup-after 10 " +
                             options);
    std::vector<std::string> args;
    for (std::string word; words >> word;) args.push_back(word);
    const std::string out = Phone(args);
    EXPECT_TRUE(env_.WaitRecords(nth)) << out;
    return out;
  }

  SmtpSink sink_;
  const std::string script_ = env_.home() + "/on-call.sh";
  const std::string voice_ = env_.home() + "/voice.wav";
};

TEST_F(ScreeningE2E, UnknownCallerMustKeyTheDigitContactsAndOwnerPass) {
  // given screening on (2 s, a bad digit setting that leaves 5), remote
  // access by code off and every call forwarded, expect a silent unknown
  // caller, one keying the owner's code (a wrong key, not a code) and one
  // hanging up during the prompt to be stored as "Screened" with no
  // recording and nothing forwarded; one who keys 5 and a contact to leave
  // messages that are forwarded; with access by code on, the owner keying
  // the code at the prompt to reach remote access
  const std::string kByLine = "{\"event\":\"hangup\",\"by\":\"line\"}";
  EXPECT_THAT(Call(1, "--name ROBOT"), HasSubstr(kByLine));
  EXPECT_THAT(Call(2, "--name WRONG --digits 1234# --digits-after 1"),
              HasSubstr(kByLine));
  Call(3, "--name GONE --hangup-after 1");
  Call(4, "--name HUMAN --digits 5 --digits-after 1");
  ASSERT_EQ(env_.Run("lwdctl", {"contacts", "add", "Friend", "5550005"}), 0);
  Call(5, "--name FRIEND");
  ASSERT_TRUE(sink_.WaitMail(2));  // sent before the process stops
  EndProgram(&proc_);
  env_.Set(kPhoneAccess, "chkAllowRemoteAccess", "1");
  ASSERT_TRUE(StartProcess(env_, &proc_, env_.Journal().size()));
  Call(6, "--name OWNER --digits 1234# --digits-after 1");

  std::string stored;
  for (const CallRecord& r : env_.Records())
    stored += FieldText(r.call_type) + " " + FieldText(r.description) + "|";
  EXPECT_EQ(stored,
            "0 Screened|0 Screened|0 Screened|2 Incoming call|2 Friend|"
            "0 Remote access call|");
  // Recordings of the two messages only.
  EXPECT_EQ(FilesIn(env_.Today(), ".wav").size(), 2u);
  EXPECT_TRUE(env_.Journalled("cmbScreenDigit \"55\" is not a keypad key"));
  EXPECT_TRUE(env_.Journalled("the key 1 is not the screen digit"));

  // The owner's call is forwarded too: three mails and three programs.
  ASSERT_TRUE(sink_.WaitMail(3));
  ASSERT_TRUE(WaitFor([&] {
    return ReadFile(script_ + ".log") == "HUMAN|FRIEND|OWNER|";
  })) << ReadFile(script_ + ".log");
  EXPECT_EQ(sink_.Part(1, "subject"), "HUMAN");
  EXPECT_FALSE(sink_.Has(4));
}

}  // namespace
}  // namespace lw::testing
