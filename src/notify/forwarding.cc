#include "notify/forwarding.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <memory>
#include <nlohmann/json.hpp>

#include "base/message_text.h"
#include "base/paths.h"
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

std::string WebhookHost(const std::string& url) {
  std::string host = UrlHost(url);
  return host.empty() ? "the webhook URL" : host;
}

// The outbox's outcome of a mail or webhook transfer that ended with
// `result` (0: the server took it).
template <typename Control>
Outbox::Outcome OutcomeOf(Control& control, int32_t result) {
  if (result == 0) return Outbox::Outcome::kAccepted;
  return control.Refused(result) ? Outbox::Outcome::kRefused
                                 : Outbox::Outcome::kFailed;
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
  Outbox::Done done = std::move(mail_done_);
  mail_done_ = nullptr;
  if (result == 0) {
    // The recipient named is that of the options now: a later call may have
    // changed them while this mail was on its way.
    const ProcessState& p = line_.process();
    line_.Send(kChannelOut, {"LineStatus", line_.DeviceIndexText(),
                             std::to_string(p.LineStat), BoolText(p.AutoMode)});
    line_.journal().LogSys(
        "Sent the call details to " + line_.options().mail_to + " complete", 0,
        "");
  }
  // A failure is journalled by the outbox, once per mail.
  if (done) done(OutcomeOf(*Mail1_, result), Mail1_->ErrorText(result));
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

namespace {

// What a stored mail keeps, by name: not the server and the login.
std::array<std::pair<const char*, std::string*>, 8> StoredFields(
    MailMessage& m) {
  return {{{"from", &m.from},
           {"from_name", &m.from_name},
           {"to", &m.to},
           {"subject", &m.subject},
           {"body", &m.body},
           {"attachment", &m.attachment},
           {"mailer", &m.mailer},
           {"organization", &m.organization}}};
}

}  // namespace

std::string MailPayload(const MailMessage& mail) {
  MailMessage m = mail;
  nlohmann::json j = nlohmann::json::object();
  for (auto [key, field] : StoredFields(m)) j[key] = *field;
  return j.dump();
}

bool MailFromPayload(const std::string& payload, MailMessage& m) {
  const nlohmann::json j = nlohmann::json::parse(payload, nullptr, false);
  if (!j.is_object()) return false;
  for (auto [key, field] : StoredFields(m)) {
    if (!j.contains(key) || !j[key].is_string()) return false;
    *field = j[key].get<std::string>();
  }
  return true;
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
  if (!outbox_) return;
  MailMessage m;
  m.from = o.mail_from;
  m.from_name = std::string(kAppTitle);
  m.to = o.mail_to;
  m.subject = subject;
  m.body = text;
  m.attachment = attachment;
  m.mailer = std::string(kAppTitle);
  m.organization = std::string(kAppTitle);
  const CallInfo& info = line_.call().Call.info;
  outbox_->Add(kOutboxMail, MailPayload(m),
               "The mail of the call at " + info.date + " " + info.time +
                   " to " + o.mail_to);
}

void Forwarding::SendStoredMail(const std::string& payload, Outbox::Done done) {
  MailMessage m;
  if (!MailFromPayload(payload, m)) {
    done(Outbox::Outcome::kFailed, "the stored mail cannot be read");
    return;
  }
  if (!Mail1_) {
    done(Outbox::Outcome::kFailed, "no mail control");
    return;
  }
  // The server and the login are those set now: a mail that waited for a
  // wrong server goes once the setting is right, and the password is never
  // stored with the mail.
  const CallOptions& o = line_.options();
  m.server = o.smtp_server;
  m.user_name = o.smtp_user;
  m.password = o.smtp_password;
  const int32_t result = Mail1_->Send(m);
  if (result != 0) {
    done(Outbox::Outcome::kFailed, Mail1_->ErrorText(result));
    return;
  }
  mail_done_ = std::move(done);
}

void Forwarding::OpenOutbox(Outbox::Timing timing) {
  mail_done_ = nullptr;
  outbox_.reset();
  outbox_ =
      std::make_unique<Outbox>(NativePath(line_.process().AppPath, "\\Outbox"),
                               line_.clock(), line_.journal(), timing);
  outbox_->SetSender(kOutboxWebhook,
                     [this](const std::string& payload, Outbox::Done done) {
                       SendStoredWebhook(payload, std::move(done));
                     });
  outbox_->SetSender(kOutboxMail,
                     [this](const std::string& payload, Outbox::Done done) {
                       SendStoredMail(payload, std::move(done));
                     });
  // An unreadable folder must not keep the line controller from loading.
  Trapped(line_.journal(), Outbox::kSource, [&] { outbox_->Load(); });
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
  // A mail the old control was sending never completes; the outbox made
  // afterwards sends it again.
  mail_done_ = nullptr;
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
  // A request the old control was sending never completes; the outbox sends
  // it again.
  webhook_done_ = nullptr;
  if (!webhook_) return;
  WebhookEvents events;
  events.Complete = [this](int32_t result) {
    Trapped(line_.journal(), "Webhook1_Complete",
            [&] { WebhookComplete(result); });
  };
  webhook_->SetEvents(std::move(events));
}

void Forwarding::SendWebhookForCall(const StoredCall& call) {
  if (!webhook_ || !outbox_) return;
  std::vector<int> bad_lines;
  const WebhookRequest request =
      WebhookRequestForCall(call, line_.options(), bad_lines);
  for (int number : bad_lines)
    line_.journal().LogSys("txtWebhookHeaders line " + std::to_string(number) +
                               " is not a header \"Name: value\"; it is left "
                               "out",
                           0, kWebhookSource);
  const CallInfo& info = line_.call().Call.info;
  outbox_->Add(kOutboxWebhook, request.body,
               "The webhook request of the call at " + info.date + " " +
                   info.time + " to " + WebhookHost(request.url));
}

void Forwarding::SendStoredWebhook(const std::string& payload,
                                   Outbox::Done done) {
  if (!webhook_) {
    done(Outbox::Outcome::kFailed, "no webhook control");
    return;
  }
  // The URL and the header lines are those set now, as for a mail's login:
  // a token never waits on disk, and a request that waited for a wrong URL
  // goes once the setting is right. Header lines left out were journalled
  // when the request was made.
  const CallOptions& o = line_.options();
  std::vector<int> bad_lines;
  const WebhookRequest request = WebhookRequestTo(o, payload, bad_lines);
  const int32_t result = webhook_->Post(request);
  if (result != 0) {
    done(Outbox::Outcome::kFailed, webhook_->ErrorText(result));
    return;
  }
  webhook_done_ = std::move(done);
  webhook_host_ = WebhookHost(request.url);
}

void Forwarding::WebhookComplete(int32_t result) {
  Outbox::Done done = std::move(webhook_done_);
  webhook_done_ = nullptr;
  // A failure is journalled by the outbox, once per request.
  if (result == 0)
    line_.journal().LogSys(
        "Sent the call details to " + webhook_host_ + " complete", 0, "");
  if (done) done(OutcomeOf(*webhook_, result), webhook_->ErrorText(result));
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
