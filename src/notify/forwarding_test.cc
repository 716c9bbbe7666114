#include "notify/forwarding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "line/call_test_fixture.h"
#include "notify/program_starter.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kMail = "Forward\\Mail";
constexpr const char* kDetails = "MailForward\\Details";
constexpr const char* kSmtp = "MailForward\\SMTP";
constexpr const char* kApp = "Forward\\App";

TEST(MailRequestTest, MapiBytesPercentagesAndSplitting) {
  // Given the request fields, expect them joined by DC4 with none at the
  // end, "NOFILE" for no recording; percentages rounded to the nearest.
  EXPECT_EQ(MapiRequest("a@b.c", "Call 1 2 ", "Text\r\nline", ""),
            "SendMail\x14"
            "a@b.c\x14"
            "Call 1 2 \x14Text\r\nline\x14NOFILE");
  EXPECT_EQ(MapiRequest("a@b.c", "", "", "/h/Data/Log/x.wav"),
            "SendMail\x14"
            "a@b.c\x14\x14\x14/h/Data/Log/x.wav");
  EXPECT_EQ(MailPercent(3, 1), 33);
  EXPECT_EQ(MailPercent(3, 2), 67);
  EXPECT_EQ(MailPercent(200, 1), 1);
  EXPECT_EQ(MailPercent(1000, 1000), 100);
  EXPECT_EQ(MailPercent(0, 0), -1);
}

TEST(CommandLineTest, SplitsLikeAShell) {
  // Given blanks, both quotes and backslashes, expect the words a shell
  // would make; unbalanced quotes and a lone trailing backslash refused.
  std::vector<std::string> w;
  std::string error;
  ASSERT_TRUE(SplitCommandLine(
      R"cmd(  /bin/prog 'a  b' "c \"d\" \$e \x" f\ g '' "$(x)"x  )cmd", w,
      error));
  EXPECT_THAT(w, ElementsAre("/bin/prog", "a  b", R"(c "d" $e \x)", "f g", "",
                             "$(x)x"));
  EXPECT_TRUE(SplitCommandLine("", w, error));
  EXPECT_THAT(w, IsEmpty());
  for (const char* bad : {"prog 'a", "prog \"a", "prog a\\"}) {
    EXPECT_FALSE(SplitCommandLine(bad, w, error)) << bad;
    EXPECT_THAT(w, IsEmpty());
    EXPECT_FALSE(error.empty());
  }
}

TEST(ProgramStarterTest, StartsReapsAndReportsAMissingProgram) {
  // Given a program that ends at once, expect it reaped (no zombie left);
  // a program that does not exist answers ENOENT.
  FakeClock clock;
  ProgramStarter starter(clock);
  ASSERT_EQ(starter.Start({"true"}, false), 0);
  EXPECT_EQ(starter.running(), 1u);
  for (int i = 0; i < 500 && starter.running() > 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    clock.Advance(1000);
  }
  EXPECT_EQ(starter.running(), 0u);
  EXPECT_EQ(starter.Start({"/nonexistent/program"}, false), ENOENT);
  EXPECT_EQ(starter.Start({""}, false), ENOENT);
  EXPECT_EQ(starter.running(), 0u);
}

class ForwardingTest : public CallTest {
 protected:
  void MailOn(const char* act) {
    AnsweringMachineOn();
    Set(kMail, "chkSendToMail", "1");
    Set(kMail, "cmbActMail", act);
    Set(kMail, "txtMailTo", "owner@example.org");
    Set(kDetails, "txtFromMail", "line@example.org");
    Set(kDetails, "txtSubject", "<CALL_TYPE> from <CALLER_NAME>");
    Set(kDetails, "txtMessage", "<CALLER_NUMBER>at <TIME>");
    Set(kSmtp, "txtSMTP", "127.0.0.1:2525");
  }
  FakeMail& mail() { return *fake.mail(0); }
};

TEST_F(ForwardingTest, ShortMessageIsMailedOnlyToEveryCallWithoutAttachment) {
  // Given voice messages mailed (cmbActMail 1), expect a 1 s message
  // (stored as type "0") not mailed and a 3 s one mailed with its
  // recording; with every call (0) the short one goes without attachment.
  MailOn("1");
  Start();
  LeaveMessage(1);
  EXPECT_THAT(mail().mails(), IsEmpty());
  LeaveMessage(3);
  ASSERT_EQ(mail().mails().size(), 1u);
  const MailMessage& m = mail().mails()[0];
  EXPECT_EQ(m.server, "127.0.0.1:2525");
  EXPECT_EQ(m.from, "line@example.org");
  EXPECT_EQ(m.to, "owner@example.org");
  EXPECT_EQ(m.subject, "Voice Message from TESTCALLER");
  EXPECT_EQ(m.body.rfind("5 5 5 1 2 3 4 at ", 0), 0u) << m.body;
  ASSERT_EQ(wave1().recordings().size(), 2u);
  EXPECT_EQ(m.attachment, wave1().recordings()[1].file);
  EXPECT_EQ(m.attachment.rfind(home.path() + "/Data/Log/2026/12/04/", 0), 0u);

  Set(kMail, "cmbActMail", "0");
  line_->LoadCallOptions();
  LeaveMessage(1);
  ASSERT_EQ(mail().mails().size(), 2u);
  EXPECT_EQ(mail().mails()[1].subject, "Incoming Call from TESTCALLER");
  EXPECT_EQ(mail().mails()[1].attachment, "");
}

TEST_F(ForwardingTest, ProgressAndCompletionReachTheDesktopAndJournal) {
  // Given a mail on its way, expect "MAIL" with translation line 7 and the
  // rounded percentage, then "LineStatus" and the journal line on success;
  // a failed mail journals why and sends no "LineStatus".
  MailOn("0");
  process_.TransText[7] = "Sending mail: ";
  Start();
  LeaveMessage(3);
  fake.channels().ClearSent();
  mail().Progress(3, 1);
  mail().Progress(3, 3);
  mail().Complete(0);
  EXPECT_THAT(Sent(107), ElementsAre("MAIL\r\n0\r\nSending mail: 33 %",
                                     "MAIL\r\n0\r\nSending mail: 100 %",
                                     "LineStatus\r\n0\r\n0\r\nFalse"));
  EXPECT_EQ(JournalCount("Sent the call details to owner@example.org complete"),
            1);
  fake.channels().ClearSent();
  mail().Complete(7);
  EXPECT_THAT(Sent(107), IsEmpty());
  EXPECT_EQ(JournalCount("Sent the call details to owner@example.org complete"),
            1);
  EXPECT_EQ(JournalCount("not sent to owner@example.org: Mail error 7"), 1);
}

TEST_F(ForwardingTest, MapiRequestAndContactOverride) {
  // Given MAPI chosen, expect the request on 111 and no SMTP mail, ending
  // in "NOFILE" for a call without recording; a contact with its own
  // forwarding ("3") has its calls mailed to its own address.
  MailOn("0");
  Set(kSmtp, "MAPI", "1");
  ContactRecord c = MakeContact("Boss", "", "5559999");
  c.forwarding[0] = '3';
  c.send_to_mail[0] = '1';
  c.act_mail[0] = '0';
  PutField(c.mail_to, "boss@example.org");
  WriteContacts(home.path(), {c});
  Start();
  Incoming();
  HangUp();
  Incoming("Boss", "5559999");
  HangUp();
  EXPECT_THAT(mail().mails(), IsEmpty());
  const auto& sent = Sent(111);
  ASSERT_EQ(sent.size(), 2u);
  EXPECT_TRUE(sent[0].starts_with(
      "SendMail\x14owner@example.org\x14Incoming Call from TESTCALLER\x14"))
      << sent[0];
  EXPECT_TRUE(sent[0].ends_with("\x14NOFILE")) << sent[0];
  EXPECT_TRUE(
      sent[1].starts_with("SendMail\x14"
                          "boss@example.org\x14"))
      << sent[1];
}

TEST_F(ForwardingTest, ProgramGetsCallerTextAsPlainArguments) {
  // Given a template that quotes a blank and takes the caller's name and
  // number, expect a name full of shell syntax as one literal argument
  // and the number spelled out in one argument; nothing else runs.
  const std::string script = home / "record.sh";
  WriteFile(script,
            "#!/bin/sh\nfor a in \"$@\"; do printf '[%s]\\n' \"$a\" "
            ">> \"$0.out\"; done\n");
  ASSERT_EQ(chmod(script.c_str(), 0755), 0);
  Set(kApp, "chkApp", "1");
  Set(kApp, "cmbActApp", "0");
  Set(kApp, "txtAppTo",
      "'" + script + "' 'one arg' <CALLER_NAME> <CALLER_NUMBER>");
  Start();
  const std::string name = "$(touch pwned); rm -rf ~ 'q\" `x`";
  Incoming(name, "123");
  HangUp();
  std::string got;
  for (int i = 0; i < 500 && got.find("[1 2 3 ]") == std::string::npos; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    got = ReadFile(script + ".out");
  }
  EXPECT_EQ(got, "[one arg]\n[" + name + "]\n[1 2 3 ]\n");
  EXPECT_FALSE(std::filesystem::exists("pwned"));
  EXPECT_FALSE(std::filesystem::exists(home / "pwned"));
}

TEST_F(ForwardingTest, BadTemplatesAndMissingProgramsAreJournalled) {
  // Given an unbalanced quote, an empty program and a program that does
  // not exist, expect one "Error Send To APP ->" line each and the calls
  // stored as usual.
  Set(kApp, "chkApp", "1");
  Set(kApp, "cmbActApp", "0");
  Start();
  for (const char* tmpl :
       {"prog 'open", "'' <CALLER_NAME>", "/nonexistent/prog <CALLER_NAME>"}) {
    Set(kApp, "txtAppTo", tmpl);
    line_->LoadCallOptions();
    Incoming();
    HangUp();
  }
  EXPECT_EQ(JournalCount("Error Send To APP ->"), 3);
  EXPECT_EQ(JournalCount("unbalanced '"), 1);
  EXPECT_EQ(JournalCount("names no program"), 1);
  EXPECT_EQ(JournalCount("/nonexistent/prog: No such file or directory"), 1);
  EXPECT_EQ(Records().size(), 3u);
}

}  // namespace
}  // namespace lw::testing
