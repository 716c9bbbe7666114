// The mail control: sends one mail by SMTP, with an optional attachment, and
// reports progress and completion as events.
//
// Contract shared by every implementation:
// - Send returns at once; the transfer runs outside the loop thread and its
//   events are delivered on the loop thread, never inside Send.
// - Sends are carried out one after another in the order given; each raises
//   Progress events and then exactly one Complete.
// - No operation throws; passwords never reach a journal or log line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace lw {

struct MailEvents {
  // Part of the current mail has gone: `done` of `total` bytes.
  std::function<void(int32_t total, int32_t done)> Progress;
  // The current mail is finished: `result` 0 = the server accepted it,
  // anything else = it was not sent (text from ErrorText).
  std::function<void(int32_t result)> Complete;
};

// One mail to send.
struct MailMessage {
  // Host name or address, optionally followed by ":port" (default 25).
  std::string server;
  std::string from;
  std::string from_name;  // display name of the sender
  std::string to;
  std::string subject;
  std::string body;
  // A native path, or empty for none. The file is read when the mail goes
  // out; one that is gone by then is left out and the text says so.
  std::string attachment;
  // Log in when `user_name` is not empty.
  std::string user_name;
  std::string password;
  // Go into the mail's header.
  std::string mailer;
  std::string organization;
};

class Mail {
 public:
  virtual ~Mail() = default;

  virtual void SetEvents(MailEvents events) = 0;

  // Queues one mail; STARTTLS is used when the server offers it. 0 =
  // queued; non-zero (e.g. no recipient) = nothing will be sent and no
  // events follow.
  virtual int32_t Send(const MailMessage& mail) = 0;

  virtual std::string ErrorText(int32_t code) = 0;

  // True when the result `code` says the server refused this mail itself
  // (its sender, a recipient, its size or its content), so that sending it
  // again cannot help; false for any failure worth another attempt.
  virtual bool Refused(int32_t code) = 0;
};

}  // namespace lw
