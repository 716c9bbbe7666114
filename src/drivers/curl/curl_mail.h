// The mail control over libcurl's SMTP, run off the main loop by a
// CurlRunner (curl_runner.h): libcurl waits for the server's answer to the
// end of a mail without returning, so a large recording or a slow server
// never holds up the line, the channels or the web server.
//
// One mail is a MIME message: the text as a text/plain part (UTF-8; as
// it is when plain ASCII, else base64) and, when an attachment is given, the
// file as an audio/wav part (base64) named after the file. The server text is
// "host" or "host:port" (port 25 by default); "smtp://" or "smtps://" in front
// is taken as given. STARTTLS is used when the server offers it; the login is
// made when a user name is set.
//
// Mails wait in a queue and go one after another; each gives Progress events
// (the bytes of the whole mail) and then exactly one Complete, always from
// the loop and never inside Send. Result codes: 0 sent; the server's reply
// when it said no (MailResult); libcurl's codes (CURLcode) for other
// transfer failures; kMailNoRecipient and kMailNoServer when Send refuses. A
// recording that is gone by the time its mail starts is left out, the mail goes
// without it, and both a note and a sentence at the end of the mail's text
// (MissingRecordingText) say so.
//
// Limits (CurlLimits): a mail that runs into one completes with a failure.
#pragma once

#include <asio/io_context.hpp>
#include <functional>
#include <memory>
#include <string>

#include "devices/mail.h"
#include "drivers/curl/curl_runner.h"

namespace lw {

inline constexpr int32_t kMailNoRecipient = 1001;
inline constexpr int32_t kMailNoServer = 1002;
inline constexpr int32_t kMailSetupFailed = 1003;
// kMailReply + the server's SMTP reply: a refusal worth another attempt.
inline constexpr int32_t kMailReply = 3000;
// kMailRefusedReply + the server's SMTP reply: the server refused this mail.
inline constexpr int32_t kMailRefusedReply = 4000;

// The result of a transfer that ended with libcurl's `code` after the
// server's last reply `reply` (0: none), `mail_sent` when the mail itself
// had been handed over. A 5xx reply to the sender, a recipient or the mail
// (a 5xx that made the envelope fail, or one after the mail was sent) is a
// refusal of this mail, except 530, 534 and 535, which refuse the login
// (read from the settings at each attempt). Any other 4xx or 5xx reply
// (transient, the greeting, the login) is worth another attempt.
int32_t MailResult(CURLcode code, long reply, bool mail_sent);

class CurlMail : public Mail {
 public:
  using Limits = CurlLimits;

  // Raises its events on `io`; must be destroyed before it. A mail still on
  // its way is abandoned without a Complete.
  explicit CurlMail(asio::io_context& io) : CurlMail(io, Limits{}) {}
  CurlMail(asio::io_context& io, Limits limits);
  ~CurlMail() override;
  CurlMail(const CurlMail&) = delete;
  CurlMail& operator=(const CurlMail&) = delete;

  void SetEvents(MailEvents events) override;
  int32_t Send(const MailMessage& mail) override;
  std::string ErrorText(int32_t code) override;
  bool Refused(int32_t code) override;

  // Notes for the journal (a recording left out); never holds a password.
  void SetNoteHandler(std::function<void(const std::string&)> handler);

  using Front = ControlFront<MailEvents>;

 private:
  std::shared_ptr<Front> front_;
  CurlRunner runner_;
};

// The sentence added to a mail whose recording `file_name` is gone.
std::string MissingRecordingText(const std::string& file_name);

// The header texts of a mail, for tests: a text is put on one line (CR and
// LF become blanks) and, when it is not plain ASCII, written as RFC 2047
// encoded words.
std::string MailHeaderText(const std::string& text);

}  // namespace lw
