// The mail control for tests: keeps the recipient and subject of every
// Send; no transfer events are raised.
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
    sends_.push_back(mail.to + ":" + mail.subject);
    return 0;
  }
  std::string ErrorText(int32_t code) override {
    return code == 0 ? "Sent" : "Mail error " + std::to_string(code);
  }

  // "to:subject" of every Send, in order.
  const std::vector<std::string>& sends() const { return sends_; }

 private:
  MailEvents events_;
  std::vector<std::string> sends_;
};

}  // namespace lw
