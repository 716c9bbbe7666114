// The mail control for tests: keeps every Send with its fields; the test
// raises the progress and completion events of the mail being sent.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "devices/mail.h"

namespace lw {

struct FakeMailSend {
  std::string server, from, from_name, to, subject, body, attachment, user_name,
      password, mailer, organization;
};

class FakeMail : public Mail {
 public:
  void SetEvents(MailEvents events) override { events_ = std::move(events); }
  int32_t Send(const std::string& server, const std::string& from,
               const std::string& from_name, const std::string& to,
               const std::string& subject, const std::string& body,
               const std::string& attachment, const std::string& user_name,
               const std::string& password, const std::string& mailer,
               const std::string& organization) override;
  std::string ErrorText(int32_t code) override {
    return code == 0 ? "Sent" : "Mail error " + std::to_string(code);
  }

  // --- Script: the transfer of the oldest mail not yet completed.
  // Progress(total, done) at once. False when no mail is outstanding.
  bool Progress(int32_t total, int32_t done);
  // Complete(result) at once; the mail is no longer outstanding.
  bool Complete(int32_t result = 0);

  // Fault switch: Send returns this instead of 0 (and queues nothing).
  void set_send_result(int32_t result) { send_result_ = result; }

  // Every Send, accepted or not, in order.
  const std::vector<FakeMailSend>& sends() const { return sends_; }
  int32_t outstanding() const { return outstanding_; }

 private:
  MailEvents events_;
  std::vector<FakeMailSend> sends_;
  int32_t send_result_ = 0;
  int32_t outstanding_ = 0;
};

}  // namespace lw
