// The mail control for tests: keeps every mail given to Send; the test
// ends the transfer itself with Complete.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "devices/mail.h"

namespace lw {

class FakeMail : public Mail {
 public:
  void SetEvents(MailEvents events) override { events_ = std::move(events); }
  int32_t Send(const MailMessage& mail) override {
    mails_.push_back(mail);
    return 0;
  }
  std::string ErrorText(int32_t code) override {
    return code == 0 ? "Sent" : "Mail error " + std::to_string(code);
  }
  // Results 500 to 599 stand for a server's refusal of the mail.
  bool Refused(int32_t code) override { return code >= 500 && code < 600; }

  // Every mail accepted by Send, in order.
  const std::vector<MailMessage>& mails() const { return mails_; }

  // The current mail's transfer ends with `result`.
  void Complete(int32_t result) {
    if (events_.Complete) events_.Complete(result);
  }

 private:
  MailEvents events_;
  std::vector<MailMessage> mails_;
};

}  // namespace lw
