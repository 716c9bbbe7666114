#include "drivers/curl_mail/curl_mail.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <asio/executor_work_guard.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <thread>

namespace lw {

namespace {

std::once_flag curl_init_once;

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

// One mail on its way: the easy handle and what it points into.
struct Transfer {
  CURL* easy = nullptr;
  curl_mime* mime = nullptr;
  curl_slist* recipients = nullptr;
  curl_slist* headers = nullptr;
  MailMessage mail;
  std::string body;  // the text as it goes into the mail
  int32_t last_percent = -1;

  ~Transfer() {
    if (easy != nullptr) curl_easy_cleanup(easy);
    if (mime != nullptr) curl_mime_free(mime);
    curl_slist_free_all(recipients);
    curl_slist_free_all(headers);
  }
};

// What the loop thread owns: the handlers, and whether the control is still
// there to raise events.
struct CurlMailFront {
  MailEvents events;
  std::function<void(const std::string&)> note;
  bool alive = true;
};

// Everything below runs on the driver's own thread, in its own io_context.
struct CurlMail::Impl {
  Impl(asio::io_context& io, asio::io_context& main_io,
       std::shared_ptr<CurlMailFront> front, Limits limits)
      : io(io),
        main_io(main_io),
        front(std::move(front)),
        limits(limits),
        timer(io) {
    std::call_once(curl_init_once,
                   [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
    multi = curl_multi_init();
    curl_multi_setopt(multi, CURLMOPT_SOCKETFUNCTION, &Impl::OnSocket);
    curl_multi_setopt(multi, CURLMOPT_SOCKETDATA, this);
    curl_multi_setopt(multi, CURLMOPT_TIMERFUNCTION, &Impl::OnTimer);
    curl_multi_setopt(multi, CURLMOPT_TIMERDATA, this);
  }

  ~Impl() {
    closing = true;
    *alive = false;
    try {
      timer.cancel();
      // Asio lets go of the sockets before curl closes them.
      for (auto& [fd, watch] : sockets) {
        asio::error_code ec;
        watch->descriptor.cancel(ec);
        watch->descriptor.release();
      }
      sockets.clear();
    } catch (...) {
      // Nothing is left to tell; curl still closes its sockets below.
    }
    if (current) {
      curl_multi_remove_handle(multi, current->easy);
      current.reset();
    }
    curl_multi_cleanup(multi);
  }

  // What curl wants of one socket, and the waits armed on it.
  struct SocketWatch {
    explicit SocketWatch(asio::io_context& io, int fd) : descriptor(io, fd) {}
    asio::posix::stream_descriptor descriptor;
    int what = CURL_POLL_NONE;
    bool reading = false;
    bool writing = false;
  };

  static int OnSocket(CURL*, curl_socket_t fd, int what, void* self, void*) {
    static_cast<Impl*>(self)->WatchSocket(fd, what);
    return 0;
  }

  static int OnTimer(CURLM*, long timeout_ms, void* self) {
    static_cast<Impl*>(self)->Wake(timeout_ms);
    return 0;
  }

  static int OnProgress(void* self, curl_off_t, curl_off_t, curl_off_t ultotal,
                        curl_off_t ulnow) {
    static_cast<Impl*>(self)->Progress(ultotal, ulnow);
    return 0;
  }

  void WatchSocket(curl_socket_t fd, int what) {
    if (what == CURL_POLL_REMOVE) {
      {
        std::lock_guard lock(fds_mutex);
        open_fds.erase(fd);
      }
      auto it = sockets.find(fd);
      if (it == sockets.end()) return;
      asio::error_code ec;
      it->second->descriptor.cancel(ec);
      it->second->descriptor.release();
      sockets.erase(it);
      return;
    }
    if (closing) return;
    auto& watch = sockets[fd];
    if (!watch) {
      watch = std::make_unique<struct SocketWatch>(io, fd);
      std::lock_guard lock(fds_mutex);
      open_fds.insert(fd);
    }
    watch->what = what;
    Arm(fd);
  }

  void Arm(curl_socket_t fd) {
    auto it = sockets.find(fd);
    if (it == sockets.end()) return;
    struct SocketWatch& w = *it->second;
    const auto on_ready = [this, fd, alive = alive](const asio::error_code& ec,
                                                    bool write) {
      if (!*alive || ec) return;
      auto found = sockets.find(fd);
      if (found == sockets.end()) return;
      (write ? found->second->writing : found->second->reading) = false;
      Act(fd, write ? CURL_CSELECT_OUT : CURL_CSELECT_IN);
      Arm(fd);
    };
    if ((w.what & CURL_POLL_IN) && !w.reading) {
      w.reading = true;
      w.descriptor.async_wait(
          asio::posix::stream_descriptor::wait_read,
          [on_ready](const asio::error_code& ec) { on_ready(ec, false); });
    }
    if ((w.what & CURL_POLL_OUT) && !w.writing) {
      w.writing = true;
      w.descriptor.async_wait(
          asio::posix::stream_descriptor::wait_write,
          [on_ready](const asio::error_code& ec) { on_ready(ec, true); });
    }
  }

  void Wake(long timeout_ms) {
    timer.cancel();
    if (timeout_ms < 0) return;
    timer.expires_after(std::chrono::milliseconds(timeout_ms));
    timer.async_wait([this, alive = alive](const asio::error_code& ec) {
      if (!*alive || ec) return;
      Act(CURL_SOCKET_TIMEOUT, 0);
    });
  }

  void Act(curl_socket_t fd, int mask) {
    int running = 0;
    curl_multi_socket_action(multi, fd, mask, &running);
    Finished();
  }

  void Progress(curl_off_t total, curl_off_t done) {
    if (total <= 0 || !current) return;
    const int32_t percent = static_cast<int32_t>(done * 100 / total);
    if (percent == current->last_percent) return;
    current->last_percent = percent;
    const auto clamp = [](curl_off_t v) {
      return static_cast<int32_t>(std::min<curl_off_t>(v, INT32_MAX));
    };
    Raise([t = clamp(total), d = clamp(done)](CurlMailFront& f) {
      if (f.events.Progress) f.events.Progress(t, d);
    });
  }

  // Events go to the main loop, where the handlers live.
  void Raise(std::function<void(CurlMailFront&)> event) {
    asio::post(main_io, [front = front, event = std::move(event)] {
      if (front->alive) event(*front);
    });
  }

  void Finished() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE || !current ||
          msg->easy_handle != current->easy)
        continue;
      const int32_t result = static_cast<int32_t>(msg->data.result);
      curl_multi_remove_handle(multi, current->easy);
      current.reset();
      Raise([result](CurlMailFront& f) {
        if (f.events.Complete) f.events.Complete(result);
      });
      StartNext();
    }
  }

  void StartNext() {
    while (!current && !queue.empty()) {
      MailMessage mail = std::move(queue.front());
      queue.pop_front();
      auto t = std::make_unique<Transfer>();
      t->mail = std::move(mail);
      if (!Setup(*t) || curl_multi_add_handle(multi, t->easy) != CURLM_OK) {
        Raise([](CurlMailFront& f) {
          if (f.events.Complete) f.events.Complete(kMailSetupFailed);
        });
        continue;
      }
      current = std::move(t);
    }
  }

  bool Setup(Transfer& t) {
    const MailMessage& m = t.mail;
    t.easy = curl_easy_init();
    if (t.easy == nullptr) return false;
    CURL* e = t.easy;
    curl_easy_setopt(e, CURLOPT_URL, ServerUrl(m.server).c_str());
    curl_easy_setopt(e, CURLOPT_DEFAULT_PROTOCOL, "smtp");
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
    curl_easy_setopt(e, CURLOPT_MAIL_FROM, Bracketed(m.from).c_str());
    t.recipients = curl_slist_append(nullptr, Bracketed(m.to).c_str());
    curl_easy_setopt(e, CURLOPT_MAIL_RCPT, t.recipients);
    if (!m.user_name.empty()) {
      curl_easy_setopt(e, CURLOPT_USERNAME, m.user_name.c_str());
      curl_easy_setopt(e, CURLOPT_PASSWORD, m.password.c_str());
    }
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS,
                     static_cast<long>(limits.connect.count() * 1000));
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(e, CURLOPT_LOW_SPEED_TIME,
                     static_cast<long>(limits.stall.count()));
    curl_easy_setopt(e, CURLOPT_SERVER_RESPONSE_TIMEOUT,
                     static_cast<long>(limits.stall.count()));
    curl_easy_setopt(e, CURLOPT_TIMEOUT_MS,
                     static_cast<long>(limits.total.count() * 1000));
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &Impl::OnProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, this);

    const auto header = [&](const std::string& name, const std::string& value) {
      t.headers = curl_slist_append(t.headers, (name + ": " + value).c_str());
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
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headers);

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
    t.mime = curl_mime_init(e);
    curl_mimepart* text = curl_mime_addpart(t.mime);
    const bool plain = SevenBitLines(body);
    t.body = plain ? CrLfLines(body) : body;
    curl_mime_data(text, t.body.data(), t.body.size());
    curl_mime_type(text, "text/plain; charset=UTF-8");
    // Plain text stays readable as it is; anything else goes in base64.
    // Both keep the mail's size known, so progress can be told.
    curl_mime_encoder(text, plain ? "7bit" : "base64");
    if (attach) {
      curl_mimepart* file = curl_mime_addpart(t.mime);
      curl_mime_filedata(file, m.attachment.c_str());
      curl_mime_filename(file, BaseName(m.attachment).c_str());
      curl_mime_type(file, "audio/wav");
      curl_mime_encoder(file, "base64");
    }
    curl_easy_setopt(e, CURLOPT_MIMEPOST, t.mime);
    return true;
  }

  void Note(const std::string& text) {
    Raise([text](CurlMailFront& f) {
      if (f.note) f.note(text);
    });
  }

  // Wakes a transfer that waits for its server inside curl, so the thread
  // can end: curl waits for the answer to the end of a mail without
  // returning to the loop.
  void ShutDownSockets() {
    std::lock_guard lock(fds_mutex);
    for (int fd : open_fds) ::shutdown(fd, SHUT_RDWR);
  }

  asio::io_context& io;
  asio::io_context& main_io;
  std::shared_ptr<CurlMailFront> front;
  std::mutex fds_mutex;
  std::set<int> open_fds;
  Limits limits;
  asio::steady_timer timer;
  CURLM* multi = nullptr;
  std::map<curl_socket_t, std::unique_ptr<struct SocketWatch>> sockets;
  std::deque<MailMessage> queue;
  std::unique_ptr<Transfer> current;
  bool closing = false;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

CurlMail::CurlMail(asio::io_context& io, Limits limits)
    : front_(std::make_shared<CurlMailFront>()),
      work_(asio::make_work_guard(worker_io_)),
      impl_(std::make_unique<Impl>(worker_io_, io, front_, limits)) {
  thread_ = std::thread([this] { worker_io_.run(); });
}

CurlMail::~CurlMail() {
  front_->alive = false;
  impl_->ShutDownSockets();
  asio::post(worker_io_, [this] { impl_.reset(); });
  work_.reset();
  thread_.join();
}

void CurlMail::SetEvents(MailEvents events) {
  front_->events = std::move(events);
}

void CurlMail::SetNoteHandler(std::function<void(const std::string&)> handler) {
  front_->note = std::move(handler);
}

int32_t CurlMail::Send(const MailMessage& mail) {
  if (mail.to.empty()) return kMailNoRecipient;
  if (mail.server.empty()) return kMailNoServer;
  asio::post(worker_io_, [impl = impl_.get(), mail] {
    impl->queue.push_back(mail);
    impl->StartNext();
  });
  return 0;
}

std::string MissingRecordingText(const std::string& file_name) {
  return "The recording " + file_name +
         " is not attached: it was deleted or could not be read when this "
         "mail was sent.";
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
      return curl_easy_strerror(static_cast<CURLcode>(code));
  }
}

}  // namespace lw
