#include "drivers/curl/curl_mail.h"

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>

#include "asio_loop.h"
#include "drivers/curl/curl_webhook.h"
#include "loopback.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;

// The control on a loop of its own, with what its events told. The mail
// of a call (recipient, recording byte for byte, progress to the end) is the
// forwarding end-to-end test's; these are the driver's own rules.
class CurlMailTest : public ::testing::Test {
 protected:
  CurlMailTest() {
    limits_.connect = std::chrono::seconds(2);
    limits_.stall = std::chrono::seconds(1);
    mail_ = std::make_unique<CurlMail>(io_, limits_);
    MailEvents events;
    events.Complete = [this](int32_t result) { results_.push_back(result); };
    mail_->SetEvents(std::move(events));
    mail_->SetNoteHandler(
        [this](const std::string& n) { notes_.push_back(n); });
  }

  // Runs the loop until `count` mails have completed, then whatever else is
  // ready (a second Complete would show here).
  void RunUntil(size_t count) {
    testing::RunUntil(io_, [&] { return results_.size() >= count; });
    io_.poll();
  }

  TempDir dir_;
  asio::io_context io_;
  // Events come from the driver's thread: the loop waits for them.
  asio::executor_work_guard<asio::io_context::executor_type> work_ =
      asio::make_work_guard(io_);
  CurlMail::Limits limits_;
  std::unique_ptr<CurlMail> mail_;
  std::vector<int32_t> results_;
  std::vector<std::string> notes_;
};

TEST_F(CurlMailTest, QueuedMailsGoInOrderWithTheirHeadersOnOneLine) {
  // Given two mails queued at once, the first with a recording, the second
  // with a subject in UTF-8 that tries to add a header and a body of bare
  // line feeds, expect both accepted in order with one Complete each and none
  // inside Send, the sender's name in From, the recording as audio/wav, the
  // subject kept on one line and the body as written.
  SmtpSink sink;
  MailMessage first = MailTo(sink.server());
  first.attachment = dir_ / "call.wav";
  std::ofstream(first.attachment) << "RIFF";
  MailMessage second = MailTo(sink.server());
  second.subject = "Grüße von Jörg\r\nBcc: victim@example.org";
  second.body = "Zeile 1\nZeile 2 ä";
  ASSERT_EQ(mail_->Send(first), 0);
  ASSERT_EQ(mail_->Send(second), 0);
  EXPECT_TRUE(results_.empty());
  RunUntil(2);
  EXPECT_THAT(results_, ElementsAre(0, 0));
  ASSERT_TRUE(sink.Has(2));
  EXPECT_EQ(sink.Part(1, "mail_from"), "line@example.org");
  EXPECT_EQ(sink.Part(1, "from"), "\"Linewarden 1.0\" <line@example.org>");
  EXPECT_EQ(sink.Part(1, "attachment_type"), "audio/wav");
  EXPECT_EQ(sink.Part(2, "subject"), "Grüße von Jörg  Bcc: victim@example.org");
  EXPECT_EQ(sink.Part(2, "text"), "Zeile 1\nZeile 2 ä");
  EXPECT_FALSE(sink.Has(3));
  EXPECT_TRUE(notes_.empty());
}

TEST_F(CurlMailTest, SilentServerTimesOutAndTheQueueGoesOn) {
  // Given a server that takes the connection but never says a word, expect
  // the stall limit's time-out and the mail queued after it sent.
  SmtpSink good;
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = LoopbackAddress(FreePort());
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(silent, 4), 0);

  ASSERT_EQ(
      mail_->Send(MailTo("127.0.0.1:" + std::to_string(ntohs(addr.sin_port)))),
      0);
  ASSERT_EQ(mail_->Send(MailTo(good.server())), 0);
  RunUntil(2);
  close(silent);
  EXPECT_THAT(results_, ElementsAre(CURLE_OPERATION_TIMEDOUT, 0));
  EXPECT_TRUE(good.Has(1));
}

TEST_F(CurlMailTest, OnlyRepliesToTheMailItselfRefuseIt) {
  // Given how transfers ended (as libcurl ends them), expect a mail refused
  // only for a 5xx to the mail once sent, never to the greeting, the login,
  // the sender or a recipient; a webhook request only
  // for a 4xx that does not hang on the URL or headers or ask to wait.
  const auto refused = [&](CURLcode code, long reply, bool mail_sent) {
    return mail_->Refused(MailResult(code, reply, mail_sent));
  };
  EXPECT_FALSE(refused(CURLE_SEND_ERROR, 550, false));
  EXPECT_TRUE(refused(CURLE_WEIRD_SERVER_REPLY, 552, true));
  EXPECT_FALSE(refused(CURLE_WEIRD_SERVER_REPLY, 554, false));
  EXPECT_FALSE(refused(CURLE_SEND_ERROR, 530, false));
  EXPECT_FALSE(refused(CURLE_WEIRD_SERVER_REPLY, 451, true));
  EXPECT_FALSE(refused(CURLE_OPERATION_TIMEDOUT, 250, true));
  EXPECT_EQ(mail_->ErrorText(MailResult(CURLE_LOGIN_DENIED, 535, false)),
            "The server refused the login (SMTP 535)");
  for (const long status : {400, 413, 422})
    EXPECT_TRUE(WebhookStatusRefused(status)) << status;
  for (const long status : {302, 401, 404, 429, 500})
    EXPECT_FALSE(WebhookStatusRefused(status)) << status;
}

}  // namespace
}  // namespace lw::testing
