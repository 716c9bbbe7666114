#include "devices/fake/fake_mail.h"

namespace lw {

int32_t FakeMail::Send(const std::string& server, const std::string& from,
                       const std::string& from_name, const std::string& to,
                       const std::string& subject, const std::string& body,
                       const std::string& attachment,
                       const std::string& user_name,
                       const std::string& password, const std::string& mailer,
                       const std::string& organization) {
  sends_.push_back({server, from, from_name, to, subject, body, attachment,
                    user_name, password, mailer, organization});
  if (send_result_ != 0) return send_result_;
  ++outstanding_;
  return 0;
}

bool FakeMail::Progress(int32_t total, int32_t done) {
  if (outstanding_ == 0) return false;
  if (events_.Progress) events_.Progress(total, done);
  return true;
}

bool FakeMail::Complete(int32_t result) {
  if (outstanding_ == 0) return false;
  --outstanding_;
  if (events_.Complete) events_.Complete(result);
  return true;
}

}  // namespace lw
