// Passing a finished call on: by mail (through the mail control, or as a
// mail request to the desktop side on channel 111), by a webhook request to
// the owner's URL, and by starting the owner's program with the call's
// details. The call state machine decides which calls go (the "cmbActMail",
// "cmbActWebhook" and "cmbActApp" rule) and calls SendMailForCall,
// SendWebhookForCall and SendToApp; Forwarding reaches the call through the
// CallLine.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "call/call_line.h"
#include "callstore/call_record.h"
#include "callstore/call_wrapup.h"
#include "devices/mail.h"
#include "devices/webhook.h"
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

  // Sends the current call by mail as the options say.
  void SendMailForCall();

  // Takes the webhook control (none: webhook requests are not sent) and
  // journals how each request ended.
  void SetWebhook(std::unique_ptr<Webhook> webhook);

  // Sends the stored call to the webhook URL: builds the request
  // (WebhookRequestForCall), journals header lines left out, and posts it.
  void SendWebhookForCall(const StoredCall& call);

  // Posts a request built earlier. The journal names only the URL's host:
  // its path, user part and the header values may hold secrets.
  void PostWebhook(const WebhookRequest& request);

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
  void WebhookComplete(int32_t result);

  CallLine& line_;
  ProgramStarter programs_;
  std::unique_ptr<Mail> Mail1_;
  std::unique_ptr<Webhook> webhook_;
  // The host of each request on its way, oldest first: requests complete in
  // the order they were posted.
  std::deque<std::string> webhook_hosts_;
};

}  // namespace lw
