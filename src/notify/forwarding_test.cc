#include "notify/forwarding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "line/call_test_fixture.h"

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

TEST_F(ForwardingTest, ContactWithItsOwnForwarding) {
  // Given a contact with its own forwarding ("3"), expect its calls mailed
  // to its own address and other callers' to the line's.
  MailOn("0");
  ContactRecord c = MakeContact("Boss", "", "5559999");
  c.forwarding[0] = '3';
  c.send_to_mail[0] = '1';
  c.act_mail[0] = '0';
  PutField(c.mail_to, "boss@example.org");
  WriteContacts(home.path(), {c});
  Start();
  Incoming("Boss", "5559999");
  HangUp();
  Incoming();
  HangUp();
  ASSERT_EQ(mail().mails().size(), 2u);
  EXPECT_EQ(mail().mails()[0].to, "boss@example.org");
  EXPECT_EQ(mail().mails()[1].to, "owner@example.org");
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
