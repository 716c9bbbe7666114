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

// The outbox on its own, with a sender that keeps what it was given; the
// test answers each attempt.
class OutboxTest : public ::testing::Test, public ControllerHome {
 protected:
  using enum Outbox::Outcome;
  OutboxTest() {
    journal().SetSwitches(true, false);
    box_.SetSender("t", [this](const std::string& payload, Outbox::Done done) {
      sent_.push_back(payload);
      done_ = std::move(done);
    });
  }
  void Add(const std::string& payload) {
    box_.Add("t", payload, "Item " + payload);
  }
  void Answer(Outbox::Outcome outcome) {
    const Outbox::Done done = done_;
    done(outcome, "why");
  }

  Outbox box_{home / "Outbox", fake.clock(), journal(), {}};
  std::vector<std::string> sent_;
  Outbox::Done done_;
};

TEST_F(OutboxTest, RefusedItemIsGivenUpAndOneThatFailsAloneWaitsForItsTurn) {
  // Given three items, the first refused, expect it given up at once with
  // one line and the second sent; the second failing and the third then
  // accepted, expect the third not held back and the second tried again
  // a minute after its failure.
  for (const char* p : {"a", "b", "c"}) Add(p);
  Answer(kRefused);
  EXPECT_EQ(JournalCount("Item a was given up: the server refused it (why)"),
            1);
  Answer(kFailed);
  EXPECT_EQ(JournalCount("Item b could not be sent (why); it is tried again"),
            1);
  EXPECT_THAT(sent_, ElementsAre("a", "b", "c"));
  Answer(kAccepted);
  fake.clock().Advance(59'999);
  EXPECT_EQ(sent_.size(), 3u);
  fake.clock().Advance(1);
  EXPECT_THAT(sent_, ElementsAre("a", "b", "c", "b"));
  Answer(kAccepted);
  EXPECT_EQ(box_.pending(), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(home / "Outbox"));
}

TEST_F(OutboxTest, ServerThatFailsTwoItemsInARowIsDownForTheWholeKind) {
  // Given three items and a server failing the first two, expect the kind
  // to wait a minute (an item added meanwhile too), then one attempt per
  // round, the waits doubling; once the server takes the first item, the
  // others in order, each failure journalled once.
  for (const char* p : {"a", "b", "c"}) Add(p);
  Answer(kFailed);
  Answer(kFailed);
  Add("d");
  fake.clock().Advance(59'999);
  EXPECT_THAT(sent_, ElementsAre("a", "b"));
  fake.clock().Advance(1);
  Answer(kFailed);
  fake.clock().Advance(119'999);
  EXPECT_EQ(sent_.size(), 3u);
  fake.clock().Advance(1);
  for (int i = 0; i < 4; ++i) Answer(kAccepted);
  EXPECT_THAT(sent_, ElementsAre("a", "b", "a", "a", "b", "c", "d"));
  EXPECT_EQ(JournalCount("could not be sent"), 2);
}

using ForwardingTest = CallTest;

TEST_F(ForwardingTest, OnlyKeptMessagesAreMailedAndFailuresRetriedForADay) {
  // Given voice messages mailed (cmbActMail 1), expect a 1 s message
  // (stored as type "0") not mailed and a 3 s one mailed with its
  // recording from a private outbox file that holds no password; a failed
  // mail sends no "LineStatus", is retried after 1 min, then 2 min, is
  // journalled once across a restart (where a corrupt file is moved aside),
  // and is given up, its file removed, a day after the call.
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
  fake.clock().Advance(59'000);
  EXPECT_EQ(mail.mails().size(), 1u);
  fake.clock().Advance(1'000);
  ASSERT_EQ(mail.mails().size(), 2u);
  mail.Complete(7);
  fake.clock().Advance(119'000);
  EXPECT_EQ(mail.mails().size(), 2u);
  fake.clock().Advance(1'000);
  EXPECT_EQ(mail.mails().size(), 3u);

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
