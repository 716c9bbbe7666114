#include "notify/forwarding.h"

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "base/message_text.h"
#include "base/system.h"
#include "base/trapped.h"
#include "callstore/call_id.h"
#include "notify/program_starter.h"
#include "settings/registry_routines.h"

namespace lw {

namespace {

constexpr int kTransMailProgress = 7;  // "Sending mail: "
constexpr const char* kAppErrorSource = "Error Send To APP ->";
constexpr const char* kWebhookSource = "Webhook1";

std::string NotSentText(const std::string& to, const std::string& error) {
  return "The call details were not sent to " + to + ": " + error;
}

}  // namespace

void Forwarding::MailProgress(int32_t total, int32_t done) {
  const int32_t percent = MailPercent(total, done);
  if (percent < 0) return;
  const std::string device = line_.DeviceIndexText();
  const std::string text = line_.process().TransText[kTransMailProgress] +
                           std::to_string(percent) + " %";
  line_.Send(kChannelOut, {"MAIL", device, text});
}

void Forwarding::MailComplete(int32_t result) {
  // The recipient named is that of the options now: a later call may have
  // changed them while this mail was on its way.
  const std::string& to = line_.options().mail_to;
  if (result != 0) {
    line_.journal().LogSys(NotSentText(to, Mail1_->ErrorText(result)), result,
                           "Mail1");
    return;
  }
  const ProcessState& p = line_.process();
  line_.Send(kChannelOut, {"LineStatus", line_.DeviceIndexText(),
                           std::to_string(p.LineStat), BoolText(p.AutoMode)});
  line_.journal().LogSys("Sent the call details to " + to + " complete", 0, "");
}

std::string CallAttachment(const CurrentCall& call) {
  const std::string& type = call.info.call_type;
  if (type != kCallTypeVoiceMessage && type != kCallTypeIncomingRecorded)
    return {};
  if (call.info.message_path.empty()) return {};
  return call.day_folder + call.info.message_path;
}

std::string MapiRequest(const std::string& to, const std::string& subject,
                        const std::string& text,
                        const std::string& attachment) {
  return JoinFields({"SendMail", to, subject, text,
                     attachment.empty() ? "NOFILE" : attachment},
                    kMailFieldSeparator);
}

int32_t MailPercent(int32_t total, int32_t done) {
  if (total <= 0) return -1;
  const int64_t t = total;
  const int64_t d = std::clamp<int64_t>(done, 0, t);
  return static_cast<int32_t>((d * 200 + t) / (2 * t));
}

void Forwarding::SendMailForCall() {
  const CallOptions& o = line_.options();
  const std::string subject = line_.FillForCall(o.mail_subject);
  const std::string text = line_.FillForCall(o.mail_text);
  const std::string attachment = CallAttachment(line_.call().Call);
  if (o.use_mail_relay) {
    line_.SendText(kChannelMail,
                   MapiRequest(o.mail_to, subject, text, attachment));
    return;
  }
  if (!Mail1_) return;
  MailMessage m;
  m.server = o.smtp_server;
  m.from = o.mail_from;
  m.from_name = std::string(kAppTitle);
  m.to = o.mail_to;
  m.subject = subject;
  m.body = text;
  m.attachment = attachment;
  m.user_name = o.smtp_user;
  m.password = o.smtp_password;
  m.mailer = std::string(kAppTitle);
  m.organization = std::string(kAppTitle);
  const int32_t result = Mail1_->Send(m);
  // A mail that never starts has no completion; say why once.
  if (result != 0)
    line_.journal().LogSys(NotSentText(o.mail_to, Mail1_->ErrorText(result)),
                           result, "Mail1");
}

bool Forwarding::AppCommandLine(std::vector<std::string>& argv,
                                std::string& error) {
  if (!SplitCommandLine(line_.options().app_command, argv, error)) return false;
  for (std::string& word : argv) word = line_.FillForCall(word);
  if (argv.empty() || argv[0].empty()) {
    error = "the command line names no program";
    argv.clear();
    return false;
  }
  return true;
}

void Forwarding::SetMail(std::unique_ptr<Mail> mail) {
  Mail1_ = std::move(mail);
  if (!Mail1_) return;
  MailEvents events;
  events.Progress = [this](int32_t total, int32_t done) {
    Trapped(line_.journal(), "Mail1_Progress",
            [&] { MailProgress(total, done); });
  };
  events.Complete = [this](int32_t result) {
    Trapped(line_.journal(), "Mail1_Complete", [&] { MailComplete(result); });
  };
  Mail1_->SetEvents(std::move(events));
}

StoredCall StoredCallOf(const WrapUpResult& stored, const PerCall& call,
                        const CallStore& store) {
  StoredCall s;
  s.record = stored.record;
  if (stored.saved) s.id = CallId(stored.day_folder, stored.record_number);
  s.contact = call.Call.info.contact;
  s.blocked = call.block_call;
  const std::string recording = store.RecordingPath(stored.record);
  s.has_recording = !recording.empty() && access(recording.c_str(), F_OK) == 0;
  return s;
}

void Forwarding::SetWebhook(std::unique_ptr<Webhook> webhook) {
  webhook_ = std::move(webhook);
  if (!webhook_) return;
  WebhookEvents events;
  events.Complete = [this](int32_t result) {
    Trapped(line_.journal(), "Webhook1_Complete",
            [&] { WebhookComplete(result); });
  };
  webhook_->SetEvents(std::move(events));
}

void Forwarding::SendWebhookForCall(const StoredCall& call) {
  std::vector<int> bad_lines;
  const WebhookRequest request =
      WebhookRequestForCall(call, line_.options(), bad_lines);
  for (int number : bad_lines)
    line_.journal().LogSys("txtWebhookHeaders line " + std::to_string(number) +
                               " is not a header \"Name: value\"; it is left "
                               "out",
                           0, kWebhookSource);
  PostWebhook(request);
}

void Forwarding::PostWebhook(const WebhookRequest& request) {
  if (!webhook_) return;
  std::string host = UrlHost(request.url);
  if (host.empty()) host = "the webhook URL";
  const int32_t result = webhook_->Post(request);
  if (result != 0) {
    line_.journal().LogSys(NotSentText(host, webhook_->ErrorText(result)),
                           result, kWebhookSource);
    return;
  }
  webhook_hosts_.push_back(host);
}

void Forwarding::WebhookComplete(int32_t result) {
  std::string host;
  if (!webhook_hosts_.empty()) {
    host = std::move(webhook_hosts_.front());
    webhook_hosts_.pop_front();
  }
  if (result != 0) {
    line_.journal().LogSys(NotSentText(host, webhook_->ErrorText(result)),
                           result, kWebhookSource);
    return;
  }
  line_.journal().LogSys("Sent the call details to " + host + " complete", 0,
                         "");
}

void Forwarding::SendToApp() {
  std::vector<std::string> argv;
  std::string error;
  if (!AppCommandLine(argv, error)) {
    line_.journal().LogSys(error, 0, kAppErrorSource);
    return;
  }
  const int result = programs_.Start(argv, line_.options().app_in_background);
  if (result != 0)
    line_.journal().LogSys(argv[0] + ": " + ErrnoText(result), result,
                           kAppErrorSource);
}

}  // namespace lw
