#include "drivers/curl/curl_mail.h"

#include <curl/curl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>

namespace lw {

namespace {

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) {
    return static_cast<unsigned char>(c) < 128;
  });
}

// ASCII without NUL and with lines of at most 998 bytes.
bool SevenBitLines(const std::string& text) {
  size_t line = 0;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u == 0 || u >= 128) return false;
    line = (c == '\n') ? 0 : line + 1;
    if (line > 998) return false;
  }
  return true;
}

// Lines of a mail end in CR LF.
std::string CrLfLines(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::string Base64(std::string_view in) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const uint32_t v = (static_cast<uint8_t>(in[i]) << 16) |
                       (static_cast<uint8_t>(in[i + 1]) << 8) |
                       static_cast<uint8_t>(in[i + 2]);
    for (int shift : {18, 12, 6, 0}) out += kAlphabet[(v >> shift) & 63];
  }
  if (i < in.size()) {
    uint32_t v = static_cast<uint8_t>(in[i]) << 16;
    if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += i + 1 < in.size() ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

// "Mon, 07 Dec 2026 05:20:00 +0000"
std::string DateHeader() {
  const time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  char buf[64];
  strftime(buf, sizeof buf, "%a, %d %b %Y %H:%M:%S %z", &t);
  return buf;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string ServerUrl(const std::string& server) {
  if (server.starts_with("smtp://") || server.starts_with("smtps://"))
    return server;
  return "smtp://" + server;
}

std::string Bracketed(const std::string& address) {
  if (address.starts_with("<")) return address;
  return "<" + address + ">";
}

}  // namespace

std::string MailHeaderText(const std::string& text) {
  std::string line = text;
  for (char& c : line)
    if (c == '\r' || c == '\n') c = ' ';
  if (IsAscii(line)) return line;
  // Encoded words of at most 45 bytes of text each (60 encoded), cut on a
  // character boundary so every word decodes on its own.
  std::string out;
  size_t at = 0;
  while (at < line.size()) {
    size_t end = std::min(at + 45, line.size());
    while (end < line.size() && end > at &&
           (static_cast<uint8_t>(line[end]) & 0xC0) == 0x80)
      --end;
    if (end == at) end = std::min(at + 45, line.size());
    if (!out.empty()) out += "\r\n ";
    out += "=?UTF-8?B?" + Base64(std::string_view(line).substr(at, end - at)) +
           "?=";
    at = end;
  }
  return out;
}

namespace {

// One mail on its way, with what its easy handle points into.
class MailTransfer : public CurlTransfer {
 public:
  MailTransfer(MailMessage mail, std::shared_ptr<CurlMail::Front> front)
      : mail_(std::move(mail)), front_(std::move(front)) {}
  ~MailTransfer() override {
    if (mime_ != nullptr) curl_mime_free(mime_);
    curl_slist_free_all(recipients_);
    curl_slist_free_all(headers_);
  }

  bool Setup(CURL* e) override;
  void Progress(curl_off_t total, curl_off_t done) override;
  void Done(CURL* e, CURLcode code) override {
    long reply = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &reply);
    curl_off_t sent = 0;
    curl_easy_getinfo(e, CURLINFO_SIZE_UPLOAD_T, &sent);
    Complete(MailResult(code, reply, sent > 0));
  }
  void Failed() override { Complete(kMailSetupFailed); }

 private:
  void Complete(int32_t result) {
    front_->events.Post([front = front_, result] {
      if (front->handlers.Complete) front->handlers.Complete(result);
    });
  }
  void Note(const std::string& text) {
    front_->events.Post([front = front_, text] {
      if (front->note) front->note(text);
    });
  }

  MailMessage mail_;
  std::shared_ptr<CurlMail::Front> front_;
  curl_mime* mime_ = nullptr;
  curl_slist* recipients_ = nullptr;
  curl_slist* headers_ = nullptr;
  std::string body_;  // the text as it goes into the mail
  int32_t last_percent_ = -1;
};

void MailTransfer::Progress(curl_off_t total, curl_off_t done) {
  if (total <= 0) return;
  const int32_t percent = static_cast<int32_t>(done * 100 / total);
  if (percent == last_percent_) return;
  last_percent_ = percent;
  const auto clamp = [](curl_off_t v) {
    return static_cast<int32_t>(std::min<curl_off_t>(v, INT32_MAX));
  };
  front_->events.Post([front = front_, t = clamp(total), d = clamp(done)] {
    if (front->handlers.Progress) front->handlers.Progress(t, d);
  });
}

bool MailTransfer::Setup(CURL* e) {
  const MailMessage& m = mail_;
  curl_easy_setopt(e, CURLOPT_URL, ServerUrl(m.server).c_str());
  curl_easy_setopt(e, CURLOPT_DEFAULT_PROTOCOL, "smtp");
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
  curl_easy_setopt(e, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
  curl_easy_setopt(e, CURLOPT_MAIL_FROM, Bracketed(m.from).c_str());
  recipients_ = curl_slist_append(nullptr, Bracketed(m.to).c_str());
  curl_easy_setopt(e, CURLOPT_MAIL_RCPT, recipients_);
  if (!m.user_name.empty()) {
    curl_easy_setopt(e, CURLOPT_USERNAME, m.user_name.c_str());
    curl_easy_setopt(e, CURLOPT_PASSWORD, m.password.c_str());
  }

  const auto header = [&](const std::string& name, const std::string& value) {
    headers_ = curl_slist_append(headers_, (name + ": " + value).c_str());
  };
  header("Date", DateHeader());
  const std::string name = MailHeaderText(m.from_name);
  header("From", name.empty() ? Bracketed(m.from)
                              : "\"" + name + "\" " + Bracketed(m.from));
  header("To", Bracketed(m.to));
  header("Subject", MailHeaderText(m.subject));
  if (!m.mailer.empty()) header("X-Mailer", MailHeaderText(m.mailer));
  if (!m.organization.empty())
    header("Organization", MailHeaderText(m.organization));
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_);

  // The recording is read now, not when the mail was asked for: one
  // deleted meanwhile is left out, and the text tells the reader why.
  std::string body = m.body;
  const bool attach =
      !m.attachment.empty() && access(m.attachment.c_str(), R_OK) == 0;
  if (!m.attachment.empty() && !attach) {
    Note("The recording " + m.attachment + " cannot be read; the mail to " +
         m.to + " goes without it");
    body += "\n\n" + MissingRecordingText(BaseName(m.attachment)) + "\n";
  }
  mime_ = curl_mime_init(e);
  curl_mimepart* text = curl_mime_addpart(mime_);
  const bool plain = SevenBitLines(body);
  body_ = plain ? CrLfLines(body) : body;
  curl_mime_data(text, body_.data(), body_.size());
  curl_mime_type(text, "text/plain; charset=UTF-8");
  // Plain text stays readable as it is; anything else goes in base64.
  // Both keep the mail's size known, so progress can be told.
  curl_mime_encoder(text, plain ? "7bit" : "base64");
  if (attach) {
    curl_mimepart* file = curl_mime_addpart(mime_);
    curl_mime_filedata(file, m.attachment.c_str());
    curl_mime_filename(file, BaseName(m.attachment).c_str());
    curl_mime_type(file, "audio/wav");
    curl_mime_encoder(file, "base64");
  }
  curl_easy_setopt(e, CURLOPT_MIMEPOST, mime_);
  return true;
}

}  // namespace

CurlMail::CurlMail(asio::io_context& io, Limits limits)
    : front_(std::make_shared<CurlMail::Front>(io)), runner_(limits) {}

CurlMail::~CurlMail() { front_->events.Close(); }

void CurlMail::SetEvents(MailEvents events) {
  front_->handlers = std::move(events);
}

void CurlMail::SetNoteHandler(std::function<void(const std::string&)> handler) {
  front_->note = std::move(handler);
}

int32_t CurlMail::Send(const MailMessage& mail) {
  if (mail.to.empty()) return kMailNoRecipient;
  if (mail.server.empty()) return kMailNoServer;
  runner_.Run(std::make_unique<MailTransfer>(mail, front_));
  return 0;
}

std::string MissingRecordingText(const std::string& file_name) {
  return "The recording " + file_name +
         " is not attached: it was deleted or could not be read when this "
         "mail was sent.";
}

int32_t MailResult(CURLcode code, long reply, bool mail_sent) {
  if (code == CURLE_OK) return 0;
  if (reply < 400 || reply > 599) return static_cast<int32_t>(code);
  // Only a mail refused once its whole text was sent is refused for its
  // own sake (too large, its content rejected). A refused sender or
  // recipient, the greeting or the login hang on the settings or the
  // server ("relay access denied" often means a login is missing): those
  // are retried, and the owner can mend them within the day.
  const bool login = reply == 530 || reply == 534 || reply == 535;
  const bool refused = reply >= 500 && !login && mail_sent;
  return (refused ? kMailRefusedReply : kMailReply) +
         static_cast<int32_t>(reply);
}

bool CurlMail::Refused(int32_t code) {
  return code >= kMailRefusedReply + 500 && code < kMailRefusedReply + 600;
}

std::string CurlMail::ErrorText(int32_t code) {
  switch (code) {
    case 0:
      return "Sent";
    case kMailNoRecipient:
      return "No recipient";
    case kMailNoServer:
      return "No SMTP server set";
    case kMailSetupFailed:
      return "The mail could not be prepared";
    default:
      break;
  }
  for (const int32_t base : {kMailReply, kMailRefusedReply}) {
    const int32_t reply = code - base;
    if (reply < 400 || reply > 599) continue;
    if (reply == 530 || reply == 534 || reply == 535)
      return "The server refused the login (SMTP " + std::to_string(reply) +
             ")";
    return "The server answered SMTP " + std::to_string(reply);
  }
  return curl_easy_strerror(static_cast<CURLcode>(code));
}

}  // namespace lw
