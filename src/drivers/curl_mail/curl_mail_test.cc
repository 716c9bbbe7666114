#include "drivers/curl_mail/curl_mail.h"

#include <curl/curl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <asio/executor_work_guard.hpp>

#include "loopback.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;

// The control on a loop of its own, with what its events told.
class CurlMailTest : public ::testing::Test {
 protected:
  CurlMailTest() {
    limits_.connect = std::chrono::seconds(2);
    limits_.stall = std::chrono::seconds(1);
    mail_ = std::make_unique<CurlMail>(io_, limits_);
    MailEvents events;
    events.Progress = [this](int32_t total, int32_t done) {
      progress_.emplace_back(total, done);
    };
    events.Complete = [this](int32_t result) {
      results_.push_back(result);
      // The progress of each mail as it stood at its end.
      if (!progress_.empty()) last_progress_.push_back(progress_.back());
      progress_.clear();
    };
    mail_->SetEvents(std::move(events));
    mail_->SetNoteHandler(
        [this](const std::string& n) { notes_.push_back(n); });
  }

  // Runs the loop until `count` mails have completed (or 15 s passed).
  void RunUntil(size_t count) {
    const auto end =
        std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (results_.size() < count && std::chrono::steady_clock::now() < end)
      io_.run_one_for(std::chrono::milliseconds(50));
    // Whatever else is ready (a second Complete would show here).
    io_.poll();
  }

  TempDir dir_;
  asio::io_context io_;
  // Events come from the driver's thread: the loop waits for them.
  asio::executor_work_guard<asio::io_context::executor_type> work_ =
      asio::make_work_guard(io_);
  CurlMail::Limits limits_;
  std::unique_ptr<CurlMail> mail_;
  std::vector<std::pair<int32_t, int32_t>> progress_;
  std::vector<std::pair<int32_t, int32_t>> last_progress_;
  std::vector<int32_t> results_;
  std::vector<std::string> notes_;
};

TEST_F(CurlMailTest, QueuedMailsArriveWithTextAndRecording) {
  // Given two mails queued at once, the first with a 300 kB recording, the
  // second with a subject in UTF-8 that tries to add a header, expect both
  // accepted in order with one Complete each, progress up to the whole
  // mail, and the attachment byte for byte the file.
  SmtpSink sink;
  std::string wav = "RIFF";
  for (int i = 0; i < 300000; ++i) wav += static_cast<char>(i * 7);
  const std::string path = dir_ / "TESTCALLER_5551234_12-04-2026_10-15-30.wav";
  std::ofstream(path, std::ios::binary) << wav;
  MailMessage first = MailTo(sink.server());
  first.attachment = path;
  MailMessage second = MailTo(sink.server());
  second.subject = "Grüße von Jörg\r\nBcc: victim@example.org";
  second.body = "Zeile 1\nZeile 2 ä";
  ASSERT_EQ(mail_->Send(first), 0);
  ASSERT_EQ(mail_->Send(second), 0);
  EXPECT_TRUE(results_.empty());  // never inside Send
  RunUntil(2);
  EXPECT_THAT(results_, ElementsAre(0, 0));
  ASSERT_TRUE(sink.Has(1) && sink.Has(2));
  EXPECT_EQ(sink.Part(1, "mail_from"), "line@example.org");
  EXPECT_EQ(sink.Part(1, "rcpt_tos"), "owner@example.org");
  EXPECT_EQ(sink.Part(1, "from"), "\"Linewarden 1.0\" <line@example.org>");
  EXPECT_EQ(sink.Part(1, "subject"), "Voice Message from TESTCALLER");
  EXPECT_EQ(sink.Part(1, "text"), "5 5 5 1 2 3 4 at 10:15 AM");
  EXPECT_EQ(sink.Part(1, "attachment_type"), "audio/wav");
  EXPECT_EQ(sink.Part(1, "attachment_name"),
            "TESTCALLER_5551234_12-04-2026_10-15-30.wav");
  EXPECT_TRUE(sink.Part(1, "attachment") == wav);
  EXPECT_EQ(sink.Part(2, "subject"), "Grüße von Jörg  Bcc: victim@example.org");
  EXPECT_EQ(sink.Part(2, "rcpt_tos"), "owner@example.org");
  EXPECT_EQ(sink.Part(2, "text"), "Zeile 1\nZeile 2 ä");
  EXPECT_FALSE(sink.Has(3));
  ASSERT_EQ(last_progress_.size(), 2u);
  EXPECT_GT(last_progress_[0].first, 400000);  // base64 of 300 kB
  EXPECT_EQ(last_progress_[0].second, last_progress_[0].first);
  EXPECT_EQ(last_progress_[1].second, last_progress_[1].first);
  EXPECT_TRUE(notes_.empty());
}

TEST_F(CurlMailTest, BrokenServersAndInputsCompleteWithAFailure) {
  // Given a stopped server, one that never answers, one that drops the
  // connection, a recording deleted before sending, and a server that wants
  // a login, expect one failed Complete each (the mail without its
  // recording still goes, the right password is accepted, the wrong one's
  // error text does not hold it), and refusals without events for no
  // recipient or no server.
  SmtpSink good;
  SmtpSink stopped;
  const std::string down = stopped.server();
  stopped.Stop();
  // Accepts connections (the kernel does) but never says a word.
  const int silent = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr = LoopbackAddress(FreePort());
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  SmtpSink dropping({"--drop-at-rcpt"});
  SmtpSink login({"--auth", "owner:s3cret"});

  MailMessage m = MailTo(good.server());
  m.to = "";
  EXPECT_EQ(mail_->Send(m), kMailNoRecipient);
  EXPECT_EQ(mail_->Send(MailTo("")), kMailNoServer);
  ASSERT_EQ(mail_->Send(MailTo(down)), 0);
  ASSERT_EQ(
      mail_->Send(MailTo("127.0.0.1:" + std::to_string(ntohs(addr.sin_port)))),
      0);
  ASSERT_EQ(mail_->Send(MailTo(dropping.server())), 0);
  m = MailTo(good.server());
  m.attachment = dir_ / "deleted.wav";
  ASSERT_EQ(mail_->Send(m), 0);
  m = MailTo(login.server());
  m.user_name = "owner";
  m.password = "s3cret";
  ASSERT_EQ(mail_->Send(m), 0);
  m.password = "wrong-pass";
  ASSERT_EQ(mail_->Send(m), 0);
  RunUntil(6);
  close(silent);
  ASSERT_EQ(results_.size(), 6u);
  EXPECT_EQ(results_[0], CURLE_COULDNT_CONNECT);
  EXPECT_EQ(results_[1], CURLE_OPERATION_TIMEDOUT);
  EXPECT_NE(results_[2], 0);
  EXPECT_EQ(results_[3], 0);
  EXPECT_EQ(results_[4], 0);
  EXPECT_EQ(results_[5], CURLE_LOGIN_DENIED);
  EXPECT_EQ(mail_->ErrorText(results_[5]).find("wrong-pass"),
            std::string::npos);
  EXPECT_FALSE(dropping.Has(1));
  EXPECT_TRUE(login.Has(1));
  EXPECT_FALSE(login.Has(2));
  ASSERT_TRUE(good.Has(1));
  EXPECT_EQ(good.Part(1, "attachment_name"), "");
  ASSERT_EQ(notes_.size(), 1u);
  EXPECT_THAT(notes_[0], ::testing::HasSubstr("deleted.wav"));
}

}  // namespace
}  // namespace lw::testing
