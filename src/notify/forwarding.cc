#include "notify/forwarding.h"

#include <algorithm>
#include <memory>

#include "base/message_text.h"
#include "base/system.h"
#include "base/trapped.h"
#include "line/line_messages.h"
#include "notify/program_starter.h"
#include "settings/registry_routines.h"

namespace lw {

namespace {

constexpr int kTransMailProgress = 7;  // "Sending mail: "
constexpr const char* kAppErrorSource = "Error Send To APP ->";

void MailProgress(LineState& s, int32_t total, int32_t done) {
  const int32_t percent = MailPercent(total, done);
  if (percent < 0) return;
  const std::string device = DeviceIndexText(s);
  const std::string text =
      s.process.TransText[kTransMailProgress] + std::to_string(percent) + " %";
  SendToDesktop(s, s.udiOut.get(), kChannelOut, {"MAIL", device, text});
}

void MailComplete(LineState& s, int32_t result) {
  // The recipient named is that of the options now: a later call may have
  // changed them while this mail was on its way.
  if (result != 0) {
    s.journal.LogSys("The call details were not sent to " + s.Options.sMailTo +
                         ": " + s.Mail1->ErrorText(result),
                     result, "Mail1");
    return;
  }
  SendToDesktop(
      s, s.udiOut.get(), kChannelOut,
      {"LineStatus", DeviceIndexText(s), std::to_string(s.process.LineStat),
       BoolText(s.process.AutoMode)});
  s.journal.LogSys(
      "Sent the call details to " + s.Options.sMailTo + " complete", 0, "");
}

}  // namespace

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

void SendMailForCall(LineState& s) {
  const CallOptions& o = s.Options;
  const std::string subject = FillForCall(s, o.sSubject);
  const std::string text = FillForCall(s, o.sMessage);
  const std::string attachment = CallAttachment(s.Call);
  if (o.bMAPI) {
    if (s.udiMail)
      SendOn(*s.udiMail, kChannelMail,
             MapiRequest(o.sMailTo, subject, text, attachment));
    return;
  }
  if (!s.Mail1) return;
  MailMessage m;
  m.server = o.sSMTP;
  m.from = o.sFromMail;
  m.from_name = std::string(kAppTitle);
  m.to = o.sMailTo;
  m.subject = subject;
  m.body = text;
  m.attachment = attachment;
  m.user_name = o.sSMTPUserName;
  m.password = o.sSMTPPass;
  m.mailer = std::string(kAppTitle);
  m.organization = std::string(kAppTitle);
  const int32_t result = s.Mail1->Send(m);
  // A mail that never starts has no completion; say why once.
  if (result != 0)
    s.journal.LogSys("The call details were not sent to " + o.sMailTo + ": " +
                         s.Mail1->ErrorText(result),
                     result, "Mail1");
}

bool AppCommandLine(const LineState& s, std::vector<std::string>& argv,
                    std::string& error) {
  if (!SplitCommandLine(s.Options.sAppTo, argv, error)) return false;
  for (std::string& word : argv) word = FillForCall(s, word);
  if (argv.empty() || argv[0].empty()) {
    error = "the command line names no program";
    argv.clear();
    return false;
  }
  return true;
}

void WireForwarding(LineState& s) {
  if (s.Mail1) {
    MailEvents events;
    events.Progress = [&s](int32_t total, int32_t done) {
      Trapped(s.journal, "Mail1_Progress",
              [&] { MailProgress(s, total, done); });
    };
    events.Complete = [&s](int32_t result) {
      Trapped(s.journal, "Mail1_Complete", [&] { MailComplete(s, result); });
    };
    s.Mail1->SetEvents(std::move(events));
  }
  s.hooks.SendMailForCall = [&s] { SendMailForCall(s); };
  // The starter lives as long as the hook that uses it.
  auto programs = std::make_shared<ProgramStarter>(s.devices.clock);
  s.hooks.SendToApp = [&s, programs] { SendToApp(s, *programs); };
}

void SendToApp(LineState& s, ProgramStarter& programs) {
  std::vector<std::string> argv;
  std::string error;
  if (!AppCommandLine(s, argv, error)) {
    s.journal.LogSys(error, 0, kAppErrorSource);
    return;
  }
  const int result = programs.Start(argv, s.Options.bBGApp);
  if (result != 0)
    s.journal.LogSys(argv[0] + ": " + ErrnoText(result), result,
                     kAppErrorSource);
}

}  // namespace lw
