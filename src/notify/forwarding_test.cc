#include "notify/forwarding.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "line/call_test_fixture.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kMail = "Forward\\Mail";
constexpr const char* kApp = "Forward\\App";

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
  }
  // Mail progress in percent, rounded to the nearest.
  EXPECT_EQ(MailPercent(3, 2), 67);
  EXPECT_EQ(MailPercent(0, 0), -1);
}

TEST(WebhookRequestTest, HeaderLinesAndTheHostTheJournalNames) {
  // given header lines with blanks, CR LF, a line without a colon, a name
  // with a blank and a value with a control character, expect the good lines
  // kept as "Name: value" and the numbers of the bad ones; and of a URL only
  // its host, never its user part, port, path or query
  std::vector<int> bad;
  EXPECT_THAT(WebhookHeaderLines("  Title:  New call \r\n\nno colon\r\n"
                                 "Bad Name: x\nX-Key: a\x01b\nPriority:5",
                                 bad),
              ElementsAre("Title: New call", "Priority: 5"));
  EXPECT_THAT(bad, ElementsAre(3, 4, 5));
  EXPECT_EQ(UrlHost("https://u:pw@hub.local:8123/hook/s3cret?t=1"),
            "hub.local");
  EXPECT_EQ(UrlHost("http://[::1]:8080"), "[::1]");
  EXPECT_EQ(UrlHost("http://push.example.org?token=x"), "push.example.org");
  EXPECT_EQ(UrlHost("hub.local/hook/s3cret"), "");
}

TEST(OutboxTest, RefusedItemGoesAtOnceAFailedOneWaitsTwoFailuresStopAll) {
  // Given six items, the first refused, the second failing, the third
  // accepted, the fourth and fifth failing, expect the first given up at
  // once with one line, the third not held back by the second, no attempt
  // after two failures in a row until the minute is up, then one attempt
  // and, that failing, two minutes; then the failed ones and the sixth in
  // order.
  using enum Outbox::Outcome;
  ControllerHome h;
  h.journal().SetSwitches(true, false);
  Outbox box(h.home / "Outbox", h.fake.clock(), h.journal(), {});
  std::vector<std::string> sent;
  Outbox::Done done;
  box.SetSender("t", [&](const std::string& payload, Outbox::Done d) {
    sent.push_back(payload);
    done = std::move(d);
  });
  for (const char* p : {"a", "b", "c", "d", "e", "f"})
    box.Add("t", p, std::string("Item ") + p);
  const auto answer = [&](Outbox::Outcome outcome) {
    const Outbox::Done d = done;
    d(outcome, "why");
  };
  for (const auto outcome : {kRefused, kFailed, kAccepted, kFailed, kFailed})
    answer(outcome);
  EXPECT_EQ(h.JournalCount("Item a was given up: the server refused it (why)"),
            1);
  h.fake.clock().Advance(59'999);
  EXPECT_THAT(sent, ElementsAre("a", "b", "c", "d", "e"));
  h.fake.clock().Advance(1);
  answer(kFailed);
  h.fake.clock().Advance(119'999);
  EXPECT_EQ(sent.size(), 6u);
  h.fake.clock().Advance(1);
  for (int i = 0; i < 4; ++i) answer(kAccepted);
  EXPECT_THAT(sent,
              ElementsAre("a", "b", "c", "d", "e", "b", "b", "d", "e", "f"));
  EXPECT_EQ(h.JournalCount("could not be sent (why)"), 3);
  EXPECT_TRUE(std::filesystem::is_empty(h.home / "Outbox"));
}

using ForwardingTest = CallTest;

TEST_F(ForwardingTest, OnlyKeptMessagesAreMailedAndFailuresRetriedForADay) {
  // Given voice messages mailed (cmbActMail 1), expect a 1 s message
  // (stored as type "0") not mailed and a 3 s one mailed with its
  // recording from a private outbox file that holds no password; a failed
  // mail sends no "LineStatus", is journalled once across a restart (where
  // a corrupt file is moved aside), and is given up, its file removed, a day
  // after the call.
  AnsweringMachineOn();
  Set(kMail, "chkSendToMail", "1");
  Set(kMail, "cmbActMail", "1");
  Set(kMail, "txtMailTo", "owner@example.org");
  Set("MailForward\\SMTP", "txtSMTP", "127.0.0.1:2525");
  Set("MailForward\\SMTP", "txtSMTPPass", "s3cret");
  Start();
  FakeMail& mail = *fake.mail(0);
  LeaveMessage(1);
  EXPECT_THAT(mail.mails(), IsEmpty());
  LeaveMessage(3);
  ASSERT_EQ(mail.mails().size(), 1u);
  ASSERT_EQ(wave1().recordings().size(), 2u);
  EXPECT_EQ(mail.mails()[0].attachment, wave1().recordings()[1].file);
  EXPECT_EQ(mail.mails()[0].password, "s3cret");
  const auto outbox = [&] {
    std::vector<std::filesystem::path> files;
    for (const auto& e : std::filesystem::directory_iterator(home / "Outbox"))
      files.push_back(e.path());
    return files;
  };
  ASSERT_EQ(outbox().size(), 1u);
  const std::string file = ReadFile(outbox()[0]);
  EXPECT_NE(file.find(mail.mails()[0].attachment), std::string::npos);
  EXPECT_EQ(file.find("s3cret"), std::string::npos);
  EXPECT_EQ(
      std::filesystem::status(outbox()[0]).permissions(),
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  fake.channels().ClearSent();
  mail.Complete(7);
  EXPECT_THAT(Sent(107), IsEmpty());
  const std::string failed =
      "to owner@example.org could not be sent (Mail error 7)";
  EXPECT_EQ(JournalCount(failed), 1);

  // The old controller's mail control goes with it.
  const std::string attachment = mail.mails()[0].attachment;
  WriteFile(home / "Outbox/000000000077.json", "{\"kind\":");
  Load();
  EXPECT_EQ(JournalCount("The outbox file 000000000077.json cannot be read "
                         "(not an outbox item); it was renamed to "
                         "000000000077.json.bad"),
            1);
  FakeMail& again = *fake.mail(1);
  ASSERT_EQ(again.mails().size(), 1u);
  EXPECT_EQ(again.mails()[0].attachment, attachment);
  for (int hour = 0; hour < 24; ++hour) {
    again.Complete(7);
    fake.clock().Advance(3'600'000);
  }
  EXPECT_EQ(JournalCount(failed), 1);
  EXPECT_EQ(JournalCount("was given up after a day: Mail error 7"), 1);
  ASSERT_EQ(outbox().size(), 1u);
  EXPECT_EQ(outbox()[0].filename(), "000000000077.json.bad");
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
