// Passing a finished call on: by mail (through the mail control, or as a
// mail request to the desktop side on channel 111), by a webhook request to
// the owner's URL, and by starting the owner's program with the call's
// details. Mails and webhook requests wait in the outbox until their server
// takes them or refuses them for good (the controls' Refused). The call state
// machine decides which calls go (the "cmbActMail", "cmbActWebhook" and
// "cmbActApp" rule) and calls SendMailForCall, SendWebhookForCall and
// SendToApp; Forwarding reaches the call through the CallLine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "call/call_line.h"
#include "callstore/call_record.h"
#include "callstore/call_wrapup.h"
#include "devices/mail.h"
#include "devices/webhook.h"
#include "notify/outbox.h"
#include "notify/program_starter.h"
#include "notify/webhook_request.h"

namespace lw {

// What is attached for the current call: the absolute path of its recording
// for a voice message ("2") or a recorded incoming call ("3"), otherwise
// empty text.
std::string CallAttachment(const CurrentCall& call);

// The mail request of channel 111: "SendMail", recipient, subject, text and
// attachment (or "NOFILE"), joined by DC4 with none after the last.
std::string MapiRequest(const std::string& to, const std::string& subject,
                        const std::string& text, const std::string& attachment);

// The percentage of a mail sent, to the nearest whole number; -1 when
// `total` is not positive.
int32_t MailPercent(int32_t total, int32_t done);

// The outbox kind of mails, and a mail as its payload: every field but the
// server and the login (password included), which are taken from the
// options when the mail is sent.
inline constexpr const char* kOutboxMail = "mail";
std::string MailPayload(const MailMessage& mail);
// False when `payload` is not a mail.
bool MailFromPayload(const std::string& payload, MailMessage& mail);

// The outbox kind of webhook requests; the payload is the request's body.
// The URL and the header lines, which may hold a token, are taken from the
// options when the request is sent.
inline constexpr const char* kOutboxWebhook = "webhook";

// The current call as `stored` at its end: identity, contact, whether it
// was blocked and whether its recording is on disk.
StoredCall StoredCallOf(const WrapUpResult& stored, const PerCall& call,
                        const CallStore& store);

class Forwarding {
 public:
  Forwarding(CallLine& line, Clock& clock) : line_(line), programs_(clock) {}

  // Takes the mail control (made when the line controller loads) and turns
  // its events into the "MAIL" and "LineStatus" messages.
  void SetMail(std::unique_ptr<Mail> mail);

  // Opens the outbox ("\Outbox" under AppPath) with the mail sender and
  // sends what a previous run left there. Mails wait for this: the line
  // controller opens it once the options are loaded.
  void OpenOutbox(Outbox::Timing timing);
  // Other kinds of notification plug their sender in here; null before
  // OpenOutbox.
  Outbox* outbox() { return outbox_.get(); }

  // Sends the current call by mail as the options say: the mail request on
  // channel 111, or a mail put in the outbox, from which the mail control
  // sends it with the recording as it is then.
  void SendMailForCall();

  // Takes the webhook control (none: webhook requests are not sent) and
  // journals how each request ended.
  void SetWebhook(std::unique_ptr<Webhook> webhook);

  // Puts the stored call's webhook request in the outbox (its body built by
  // WebhookRequestForCall) and journals header lines left out. The journal
  // names only the URL's host: its path, user part and the header values
  // may hold secrets.
  void SendWebhookForCall(const StoredCall& call);

  // Starts the forwarding program for the current call. The template is
  // split into words before each word is filled from the call; a template
  // that does not split, or a program that cannot be started, is journalled
  // with the source "Error Send To APP ->".
  void SendToApp();

  // The words of the program's command line for the current call; false
  // with `error` when the template does not split into words or has no
  // program.
  bool AppCommandLine(std::vector<std::string>& argv, std::string& error);

 private:
  void MailProgress(int32_t total, int32_t done);
  void MailComplete(int32_t result);
  // The outbox's sender of mails.
  void SendStoredMail(const std::string& payload, Outbox::Done done);
  void WebhookComplete(int32_t result);
  // The outbox's sender of webhook requests.
  void SendStoredWebhook(const std::string& payload, Outbox::Done done);

  CallLine& line_;
  ProgramStarter programs_;
  std::unique_ptr<Mail> Mail1_;
  // The outcome of the mail the control is sending, for the outbox.
  Outbox::Done mail_done_;
  std::unique_ptr<Webhook> webhook_;
  // The outcome of the webhook request on its way, and its URL's host.
  Outbox::Done webhook_done_;
  std::string webhook_host_;
  std::unique_ptr<Outbox> outbox_;
};

}  // namespace lw
