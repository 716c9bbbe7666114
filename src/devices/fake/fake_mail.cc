#include "devices/fake/fake_mail.h"

namespace lw {

int32_t FakeMail::Send(const std::string& /*server*/,
                       const std::string& /*from*/,
                       const std::string& /*from_name*/, const std::string& to,
                       const std::string& subject, const std::string& /*body*/,
                       const std::string& /*attachment*/,
                       const std::string& /*user_name*/,
                       const std::string& /*password*/,
                       const std::string& /*mailer*/,
                       const std::string& /*organization*/) {
  sends_.push_back(to + ":" + subject);
  return 0;
}

}  // namespace lw
