#include "web/http_server.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <charconv>
#include <chrono>
#include <csignal>
#include <list>
#include <vector>

#include "base/descriptors.h"
#include "base/text.h"
#include "settings/call_options.h"
#include "settings/registry_routines.h"
#include "web/app_streams.h"
#include "web/folder_file.h"
#include "web/request.h"

namespace lw {

namespace {

using asio::ip::tcp;

constexpr size_t kMaxRequest = size_t{64} * 1024;
// The whole request must arrive within this time after the connection,
// however it trickles in: "txtWWWRequestSeconds", from kMinRequestSeconds
// to kMaxRequestSeconds, kRequestSeconds when missing or not one.
constexpr int kRequestSeconds = 10;
constexpr int kMinRequestSeconds = 1;
constexpr int kMaxRequestSeconds = 300;
// With every slot taken, a new client takes the slot of the client that has
// waited longest for its request, once that one had this long to send it:
// a request comes in milliseconds, and a flood of new connections must not
// push out the owner's own before it could send.
constexpr auto kEvictAfter = std::chrono::milliseconds(1500);
// A connection kept open after its answer is closed when no next request
// began within this time. With every slot taken it is the first one taken
// over.
constexpr auto kKeptIdle = std::chrono::seconds(5);
// While an answer goes out, a client that takes nothing for this long is
// dropped.
constexpr auto kIdleLimit = std::chrono::seconds(30);
// A request that stops arriving before its header block ends is handled as
// it stands once nothing more came for this long.
constexpr auto kQuietGap = std::chrono::milliseconds(200);
// After the answer the connection is closed for sending; what the client
// still sent beyond its request is read and dropped for this long, so that
// closing never resets a connection whose answer the client has not read
// yet.
constexpr auto kLingerLimit = std::chrono::seconds(2);

constexpr std::string_view kInternalError = "Internal Error\r\n";
constexpr const char* kWebSection = "RemoteAccess\\TabInternetAccess";

// A connection whose answer is complete: closed for sending, it reads and
// drops what the client still sends until the client closes or the limit
// passes. Its own handlers keep it alive.
class Lingering : public std::enable_shared_from_this<Lingering> {
 public:
  Lingering(tcp::socket socket, asio::io_context& io)
      : socket_(std::move(socket)), timer_(io) {}
  void Start() {
    timer_.expires_after(kLingerLimit);
    timer_.async_wait([self = shared_from_this()](const asio::error_code& ec) {
      if (!ec) self->Close();
    });
    Read();
  }
  void Close() noexcept {
    asio::error_code ignored;
    socket_.close(ignored);
    try {
      timer_.cancel();
    } catch (...) {
      // The timer's handler finds the socket closed and does nothing.
    }
  }

 private:
  void Read() {
    socket_.async_read_some(
        asio::buffer(buffer_),
        [self = shared_from_this()](const asio::error_code& ec, size_t) {
          if (ec) {
            self->Close();
            return;
          }
          self->Read();
        });
  }
  tcp::socket socket_;
  asio::steady_timer timer_;
  std::array<char, 1024> buffer_{};
};

}  // namespace

class HttpCore : public std::enable_shared_from_this<HttpCore> {
 public:
  HttpCore(asio::io_context& io, Clock& clock, SettingsStore& store,
           Journal& journal, std::string app_path, WebOptions options)
      : io_(io),
        clock_(clock),
        store_(store),
        journal_(journal),
        app_path_(std::move(app_path)),
        options_(options),
        acceptor_(io),
        retry_(io) {}

  void Load();
  void Shutdown() noexcept;
  bool Listening() const { return acceptor_.is_open(); }

 private:
  struct Slot {
    explicit Slot(asio::io_context& io) : socket(io), idle(io), quiet(io) {}
    // No answer under way: the next request's time runs from now.
    void AwaitRequest() {
      answering = anything_sent = keep_alive = headed = false;
      accepted = std::chrono::steady_clock::now();
    }
    tcp::socket socket;
    asio::steady_timer idle;
    asio::steady_timer quiet;
    std::chrono::steady_clock::time_point idle_armed;
    std::chrono::steady_clock::time_point accepted;
    bool SlotFree = true;
    bool SlotBusy = false;
    bool SlotError = false;
    uint64_t generation = 0;
    // An answer is under way: what arrives now is no request, or, when the
    // connection stays open after it, the next one.
    bool answering = false;
    bool anything_sent = false;
    // The answer under way keeps the connection open after it.
    bool keep_alive = false;
    // Kept open after an answer, no byte of a next request came yet.
    bool kept_idle = false;
    // The client closed its sending side while it was answered.
    bool peer_closed = false;
    // The answer under way began with its own status line and headers.
    bool headed = false;
    std::string request;
    std::array<char, 8192> buffer{};
    std::string out;
    int file = -1;
    off_t offset = 0;
    uint64_t remaining = 0;
  };

  template <typename F>
  auto Guarded(int slot, F&& f) {
    return [self = shared_from_this(), slot, gen = slots_[slot]->generation,
            f = std::forward<F>(f)](auto&&... args) mutable {
      if (self->closed_ || self->slots_[slot]->generation != gen) return;
      f(std::forward<decltype(args)>(args)...);
    };
  }

  void StartAccept();
  void Accepted(tcp::socket socket);
  void Listen(asio::error_code& ec);
  // "txtWWWRequestSeconds" (a bad value journalled, the default kept).
  int RequestSeconds(RegistryRoutines& reg);
  // The taken slot to take over for a new client: a connection kept open
  // with no next request begun, else the one that has waited longest for
  // its request; -1 when every taken slot is answering.
  int OldestWaiting() const;
  void StartRead(int s);
  void OnRead(int s, const asio::error_code& ec, size_t n);
  // Answers the request read so far when it is whole (or fills the limit),
  // else waits for the rest.
  void TakeRequest(int s);
  // Closes the slot after `limit` unless an answer is under way by then.
  void ArmLimit(int s, std::chrono::steady_clock::duration limit);
  // Starts the 30 s of silence afresh; at most once a second unless forced
  // (an answer begins), as progress is reported for every written block.
  void ArmIdle(int s, bool force = false);
  void HandleRequest(int s);
  void SendText(int s, std::string text);
  void SendFile(int s, const std::string& folder, const std::string& native);
  // Sends `head`, then [first, end) of the open file `fd` (taken).
  void SendFrom(int s, int fd, std::string head, uint64_t first, uint64_t end);
  // A recording of the owner's interface: sent as it is stored when it is
  // a plain 16-bit PCM WAV, else handed to the streams to be converted.
  void SendRecording(int s, const WebReply& reply, const std::string& request);
  // A descriptor of `native` opened below `folder` (-1 when refused).
  int OpenBelow(const std::string& folder, const std::string& native) const;
  void PumpFile(int s);
  // Holds back partial frames (on) or sends what is held back (off).
  static void SetCork(Slot& slot, bool on);
  void Abort(int s);
  void Finish(int s);
  // After an answer that keeps the connection: waits for the next request,
  // or answers the one already read.
  void KeepOpen(int s);
  void Release(int s);
  void sender_Error(int s, const asio::error_code& ec);
  void Linger(tcp::socket socket);

  asio::io_context& io_;
  Clock& clock_;
  SettingsStore& store_;
  Journal& journal_;
  std::string app_path_;
  WebOptions options_;
  bool http_headers_ = false;
  bool closed_ = false;
  bool accepting_ = false;
  int taken_ = 0;  // slots whose SlotFree is false
  std::chrono::seconds request_limit_{kRequestSeconds};
  tcp::acceptor acceptor_;
  asio::steady_timer retry_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::unique_ptr<WebDispatcher> dispatcher_;
  // The settings store's files, which no route may open.
  std::unique_ptr<StoreFiles> never_open_;
  std::unique_ptr<AppStreams> streams_;
  std::list<std::weak_ptr<Lingering>> lingering_;
};

void HttpCore::Load() {
  // sendfile has no MSG_NOSIGNAL: a client that resets the connection in the
  // middle of a file would end the process with SIGPIPE. Every other write
  // of the process asks for no signal, so ignoring it loses nothing.
  std::signal(SIGPIPE, SIG_IGN);
  RegistryRoutines reg(store_);
  reg.SetSubkey(kWebSection);
  bool headers = false;
  http_headers_ = OptionToBoolean(reg.GetRegistryValue("chkWWWHttpHeaders"),
                                  headers) == 0 &&
                  headers;
  never_open_ = std::make_unique<StoreFiles>(store_.FilePath());
  dispatcher_ = std::make_unique<WebDispatcher>(
      clock_, store_, journal_, app_path_, options_, http_headers_);
  streams_ = std::make_unique<AppStreams>(io_, clock_, app_path_);
  slots_.reserve(HttpServer::kSlots);
  for (int i = 0; i < HttpServer::kSlots; ++i)
    slots_.push_back(std::make_unique<Slot>(io_));

  asio::error_code ec;
  Listen(ec);
  if (ec) {
    asio::error_code ignored;
    acceptor_.close(ignored);
    journal_.LogWWW("Can't opening WWW," + ec.message() + " (" +
                    std::to_string(ec.value()) + ")");
    journal_.LogSys("Can't opening WWW - " + ec.message(), ec.value(),
                    "OpenWeb");
    options_.RCWWWAllow = 0;
    return;
  }
  StartAccept();
}

int HttpCore::RequestSeconds(RegistryRoutines& reg) {
  const RegValue value = reg.GetRegistryValue("txtWWWRequestSeconds");
  if (IsEmpty(value)) return kRequestSeconds;
  const std::string text = RegValueText(value);
  const std::string_view digits = Trim(text, " ");
  int seconds = 0;
  const auto [end, err] =
      std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
  if (!digits.empty() && err == std::errc() &&
      end == digits.data() + digits.size() && seconds >= kMinRequestSeconds &&
      seconds <= kMaxRequestSeconds)
    return seconds;
  journal_.LogSys("txtWWWRequestSeconds " + JournalShown(text) +
                      " is not a number of seconds from " +
                      std::to_string(kMinRequestSeconds) + " to " +
                      std::to_string(kMaxRequestSeconds) + "; " +
                      std::to_string(kRequestSeconds) + " is kept",
                  0, "OpenWeb");
  return kRequestSeconds;
}

void HttpCore::Listen(asio::error_code& ec) {
  if (options_.RCWWWPort < 0 || options_.RCWWWPort > 65535) {
    ec = asio::error::invalid_argument;
    return;
  }
  const auto port = static_cast<uint16_t>(options_.RCWWWPort);
  RegistryRoutines reg(store_);
  reg.SetSubkey(kWebSection);
  request_limit_ = std::chrono::seconds(RequestSeconds(reg));
  std::string address = RegValueText(reg.GetRegistryValue("txtWWWListen"));
  while (!address.empty() && address.back() == ' ') address.pop_back();
  while (!address.empty() && address.front() == ' ') address.erase(0, 1);
  tcp::endpoint endpoint;
  if (!address.empty()) {
    endpoint = tcp::endpoint(asio::ip::make_address(address, ec), port);
    if (ec) {
      journal_.LogSys("txtWWWListen " + JournalShown(address) +
                          " is not an address of this machine",
                      0, "OpenWeb");
      return;
    }
    dispatcher_->SetListenAddress(address);
  } else if (!PasswordSet(options_)) {
    // Nobody else may reach pages that ask for no password.
    endpoint = tcp::endpoint(asio::ip::address_v4::loopback(), port);
    journal_.LogSys(
        "The web server answers this machine only (127.0.0.1) until a "
        "password is set or txtWWWListen names an address",
        0, "OpenWeb");
  } else {
    // Every interface: both address families when the machine has IPv6,
    // else IPv4 alone.
    endpoint = tcp::endpoint(tcp::v6(), port);
    acceptor_.open(tcp::v6(), ec);
    if (!ec) {
      asio::error_code ignored;
      acceptor_.set_option(asio::ip::v6_only(false), ignored);
    } else {
      endpoint = tcp::endpoint(tcp::v4(), port);
      ec.clear();
    }
  }
  if (!acceptor_.is_open()) acceptor_.open(endpoint.protocol(), ec);
  if (!ec) acceptor_.set_option(tcp::acceptor::reuse_address(true), ec);
  if (!ec) acceptor_.bind(endpoint, ec);
  if (!ec) acceptor_.listen(asio::socket_base::max_listen_connections, ec);
}

void HttpCore::Shutdown() noexcept {
  closed_ = true;
  // Handlers still queued find `closed_` and do nothing, so a timer that
  // cannot be cancelled does no harm.
  try {
    asio::error_code ignored;
    acceptor_.close(ignored);
    retry_.cancel();
    for (auto& slot : slots_) {
      slot->socket.close(ignored);
      if (slot->file >= 0) ::close(slot->file);
      slot->file = -1;
      slot->idle.cancel();
      slot->quiet.cancel();
    }
    for (auto& weak : lingering_)
      if (auto lingering = weak.lock()) lingering->Close();
    lingering_.clear();
    streams_.reset();
  } catch (...) {
  }
}

void HttpCore::StartAccept() {
  if (closed_ || accepting_ || !acceptor_.is_open()) return;
  if (taken_ >= HttpServer::kSlots) {
    // Every slot taken: connection requests wait in the listen queue until
    // a slot is released or the oldest waiting one may be taken over.
    const int oldest = OldestWaiting();
    if (oldest < 0) return;
    const auto ready = slots_[oldest]->accepted + kEvictAfter;
    if (!slots_[oldest]->kept_idle &&
        ready > std::chrono::steady_clock::now()) {
      retry_.expires_at(ready);
      retry_.async_wait([self = shared_from_this()](const asio::error_code& e) {
        if (!e && !self->closed_) self->StartAccept();
      });
      return;
    }
  }
  accepting_ = true;
  acceptor_.async_accept([self = shared_from_this()](const asio::error_code& ec,
                                                     tcp::socket socket) {
    self->accepting_ = false;
    if (self->closed_) return;
    if (ec) {
      // A connection gone before it was taken: try again shortly instead of
      // spinning. Out of descriptors: stop accepting for a second, leaving
      // what descriptors come free to the line.
      const bool out_of_descriptors =
          ec.category() == asio::system_category() &&
          NoteDescriptorRefusal(ec.value());
      self->retry_.expires_after(out_of_descriptors
                                     ? std::chrono::milliseconds(1000)
                                     : std::chrono::milliseconds(100));
      self->retry_.async_wait([self](const asio::error_code& e) {
        if (!e && !self->closed_) self->StartAccept();
      });
      return;
    }
    self->Accepted(std::move(socket));
  });
}

int HttpCore::OldestWaiting() const {
  int oldest = -1;
  for (int s = 0; s < HttpServer::kSlots; ++s) {
    const Slot& slot = *slots_[s];
    if (slot.SlotFree || slot.answering) continue;
    if (oldest < 0) {
      oldest = s;
      continue;
    }
    const Slot& other = *slots_[oldest];
    if (slot.kept_idle != other.kept_idle ? slot.kept_idle
                                          : slot.accepted < other.accepted)
      oldest = s;
  }
  return oldest;
}

void HttpCore::Accepted(tcp::socket socket) {
  if (taken_ >= HttpServer::kSlots) {
    // Accepting started with a slot to take over.
    const int oldest = OldestWaiting();
    if (oldest < 0) {
      StartAccept();
      return;
    }
    // The slot released is this client's: no other accept starts for it.
    accepting_ = true;
    Release(oldest);
    accepting_ = false;
  }
  int s = 0;
  while (s < HttpServer::kSlots && !slots_[s]->SlotFree) ++s;
  if (s == HttpServer::kSlots) return;
  Slot& slot = *slots_[s];
  slot.SlotFree = false;
  ++taken_;
  ++slot.generation;
  asio::error_code ignored;
  slot.socket.close(ignored);
  slot.socket = std::move(socket);
  slot.AwaitRequest();
  slot.kept_idle = false;
  slot.peer_closed = false;
  slot.request.clear();
  StartRead(s);
  ArmLimit(s, request_limit_);
  StartAccept();
}

void HttpCore::ArmLimit(int s, std::chrono::steady_clock::duration limit) {
  Slot& slot = *slots_[s];
  slot.idle.expires_after(limit);
  slot.idle.async_wait(Guarded(s, [this, s](const asio::error_code& ec) {
    if (!ec && !slots_[s]->answering) Release(s);
  }));
}

void HttpCore::ArmIdle(int s, bool force) {
  Slot& slot = *slots_[s];
  const auto now = std::chrono::steady_clock::now();
  if (!force && now - slot.idle_armed < std::chrono::seconds(1)) return;
  slot.idle_armed = now;
  slot.idle.expires_after(kIdleLimit);
  slot.idle.async_wait(Guarded(s, [this, s](const asio::error_code& ec) {
    if (!ec) Release(s);
  }));
}

void HttpCore::StartRead(int s) {
  Slot& slot = *slots_[s];
  slot.socket.async_read_some(
      asio::buffer(slot.buffer),
      Guarded(s, [this, s](const asio::error_code& ec, size_t n) {
        OnRead(s, ec, n);
      }));
}

void HttpCore::OnRead(int s, const asio::error_code& ec, size_t n) {
  Slot& slot = *slots_[s];
  if (ec) {
    // While an answer goes out, a closed reading side is no reason to stop
    // sending; the send notices a connection that is really gone.
    if (slot.answering) {
      slot.peer_closed = true;
      return;
    }
    if (ec == asio::error::eof && !slot.request.empty()) {
      // The client closed its sending side after its request (with or
      // without the empty line): it still waits for the answer.
      slot.quiet.cancel();
      slot.peer_closed = true;
      HandleRequest(s);
      if (slot.answering) return;
    }
    if (ec != asio::error::eof) sender_Error(s, ec);
    Release(s);
    return;
  }
  const size_t room = kMaxRequest - slot.request.size();
  if (slot.answering) {
    // The next request on a connection kept open is kept for its turn;
    // one beyond the limit ends the connection after this answer.
    if (slot.keep_alive)
      slot.request.append(slot.buffer.data(), std::min(n, room));
    if (n > room) slot.keep_alive = false;
    StartRead(s);
    return;
  }
  if (slot.kept_idle) {
    // A next request begins: it has the whole time from its first byte.
    slot.kept_idle = false;
    slot.accepted = std::chrono::steady_clock::now();
    ArmLimit(s, request_limit_);
  }
  slot.request.append(slot.buffer.data(), std::min(n, room));
  TakeRequest(s);
  if (!slot.SlotFree) StartRead(s);
}

void HttpCore::TakeRequest(int s) {
  Slot& slot = *slots_[s];
  const bool full = slot.request.size() >= kMaxRequest;
  if (full || RequestComplete(slot.request)) {
    slot.quiet.cancel();
    HandleRequest(s);
    // A request that filled the limit ends its connection when nothing
    // answered it.
    if (full && !slot.answering && !slot.SlotFree) Release(s);
    return;
  }
  slot.quiet.expires_after(kQuietGap);
  slot.quiet.async_wait(Guarded(s, [this, s](const asio::error_code& e) {
    if (!e && !slots_[s]->answering && !slots_[s]->request.empty())
      HandleRequest(s);
  }));
}

void HttpCore::HandleRequest(int s) {
  Slot& slot = *slots_[s];
  std::string request = std::move(slot.request);
  slot.request.clear();
  // A request that may keep its connection open is cut from what follows
  // it, the start of the next one.
  if (const size_t length = RequestLength(request);
      length > 0 && length < request.size() && WantsKeepAlive(request)) {
    slot.request = request.substr(length);
    request.resize(length);
  }
  WebReply reply = dispatcher_->Handle(request);
  if (reply.kind == WebReply::kNone) return;
  slot.answering = true;
  slot.keep_alive = reply.keep_alive && !slot.peer_closed;
  if (!slot.keep_alive) slot.request.clear();
  asio::error_code ignored;
  // The end of an answer must not wait for the client's acknowledgement of
  // the one before it.
  if (slot.keep_alive) slot.socket.set_option(tcp::no_delay(true), ignored);
  ArmIdle(s, true);
  switch (reply.kind) {
    case WebReply::kText:
      SendText(s, std::move(reply.body));
      break;
    case WebReply::kFile:
      SendFile(s, reply.folder, reply.body);
      break;
    case WebReply::kRecording:
      SendRecording(s, reply, request);
      break;
    case WebReply::kEvents:
      // The stream leaves the slot: the connection is the streams' now.
      streams_->AddEventStream(std::move(slot.socket));
      slot.socket = tcp::socket(io_);
      Release(s);
      break;
    default:
      Abort(s);
      break;
  }
}

void HttpCore::SendRecording(int s, const WebReply& reply,
                             const std::string& request) {
  Slot& slot = *slots_[s];
  const int fd = OpenBelow(reply.folder, reply.body);
  struct stat st {};
  if (fd >= 0 && ::fstat(fd, &st) == 0 &&
      SentAsStored(fd, static_cast<uint64_t>(st.st_size))) {
    uint64_t first = 0;
    uint64_t end = 0;
    std::string head = RecordingHead(request, static_cast<uint64_t>(st.st_size),
                                     slot.keep_alive, first, end);
    SendFrom(s, fd, std::move(head), first, end);
    return;
  }
  // Converted as it goes out, on a connection the streams close after it.
  streams_->SendRecording(std::move(slot.socket), fd, request);
  slot.socket = tcp::socket(io_);
  Release(s);
}

void HttpCore::SendText(int s, std::string text) {
  Slot& slot = *slots_[s];
  slot.out = std::move(text);
  slot.SlotBusy = true;
  asio::async_write(slot.socket, asio::buffer(slot.out),
                    Guarded(s, [this, s](const asio::error_code& ec, size_t) {
                      Slot& sl = *slots_[s];
                      sl.SlotBusy = false;
                      sl.anything_sent = true;
                      if (ec) {
                        sender_Error(s, ec);
                        Abort(s);
                        return;
                      }
                      Finish(s);
                    }));
}

int HttpCore::OpenBelow(const std::string& folder,
                        const std::string& native) const {
  std::string relative;
  return SplitBelow(folder, native, relative)
             ? OpenInFolder(folder, relative, never_open_.get())
             : -1;
}

void HttpCore::SendFile(int s, const std::string& folder,
                        const std::string& native) {
  const int fd = OpenBelow(folder, native);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    Abort(s);
    return;
  }
  const auto size = static_cast<uint64_t>(st.st_size);
  SendFrom(s, fd,
           http_headers_ ? StatusHead("200 OK", ContentTypeOf(native), size)
                         : std::string(),
           0, size);
}

void HttpCore::SendFrom(int s, int fd, std::string head, uint64_t first,
                        uint64_t end) {
  Slot& slot = *slots_[s];
  slot.file = fd;
  slot.offset = static_cast<off_t>(first);
  slot.remaining = end - first;
  asio::error_code ignored;
  slot.socket.native_non_blocking(true, ignored);
  if (head.empty()) {
    PumpFile(s);
    return;
  }
  slot.out = std::move(head);
  slot.headed = true;
  // The head goes out with the file's first bytes, not alone.
  SetCork(slot, true);
  slot.SlotBusy = true;
  asio::async_write(slot.socket, asio::buffer(slot.out),
                    Guarded(s, [this, s](const asio::error_code& ec, size_t) {
                      slots_[s]->SlotBusy = false;
                      slots_[s]->anything_sent = true;
                      if (ec) {
                        sender_Error(s, ec);
                        Abort(s);
                        return;
                      }
                      PumpFile(s);
                    }));
}

void HttpCore::PumpFile(int s) {
  Slot& slot = *slots_[s];
  const int out = slot.socket.native_handle();
  bool progressed = false;
  while (slot.remaining > 0) {
    const ssize_t n = ::sendfile(
        out, slot.file, &slot.offset,
        static_cast<size_t>(std::min<uint64_t>(slot.remaining, 1u << 30)));
    if (n > 0) {
      slot.remaining -= static_cast<uint64_t>(n);
      slot.anything_sent = true;
      progressed = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (progressed) ArmIdle(s);
      slot.SlotBusy = true;
      slot.socket.async_wait(tcp::socket::wait_write,
                             Guarded(s, [this, s](const asio::error_code& ec) {
                               slots_[s]->SlotBusy = false;
                               if (ec) {
                                 sender_Error(s, ec);
                                 Abort(s);
                                 return;
                               }
                               PumpFile(s);
                             }));
      return;
    }
    if (n < 0) {
      // The client went away in the middle of the file.
      sender_Error(s, asio::error_code(errno, asio::system_category()));
    }
    // n == 0: the file became shorter while it was sent.
    Abort(s);
    return;
  }
  if (slot.file >= 0) ::close(slot.file);
  slot.file = -1;
  if (slot.headed) SetCork(slot, false);
  Finish(s);
}

void HttpCore::SetCork(Slot& slot, bool on) {
  const int value = on ? 1 : 0;
  ::setsockopt(slot.socket.native_handle(), IPPROTO_TCP, TCP_CORK, &value,
               sizeof value);
}

void HttpCore::sender_Error(int s, const asio::error_code& ec) {
  slots_[s]->SlotError = true;
  const std::string text =
      "sender_Error:" + ec.message() + " (" + std::to_string(ec.value()) + ")";
  journal_.LogWWW(text);
  journal_.LogSys(text, 0, "");
}

void HttpCore::Abort(int s) {
  Slot& slot = *slots_[s];
  slot.keep_alive = false;
  if (slot.file >= 0) ::close(slot.file);
  slot.file = -1;
  const bool connected = !slot.SlotError && slot.socket.is_open();
  slot.SlotError = false;
  if (!connected) {
    Release(s);
    return;
  }
  slot.answering = true;
  if ((http_headers_ || slot.headed) && slot.anything_sent) {
    // The length was announced: the client learns of the failure from the
    // short answer.
    Release(s);
    return;
  }
  std::string text(kInternalError);
  if (http_headers_)
    text = StatusHead("404 Not Found", "text/plain", text.size()) + text;
  slot.out = std::move(text);
  slot.SlotBusy = true;
  asio::async_write(slot.socket, asio::buffer(slot.out),
                    Guarded(s, [this, s](const asio::error_code&, size_t) {
                      slots_[s]->SlotBusy = false;
                      Finish(s);
                    }));
}

void HttpCore::Finish(int s) {
  Slot& slot = *slots_[s];
  if (slot.keep_alive && slot.socket.is_open()) {
    KeepOpen(s);
    return;
  }
  asio::error_code ignored;
  slot.socket.shutdown(tcp::socket::shutdown_send, ignored);
  // With nothing unread the close is a plain one; only a client that sent
  // more than its request is given time to take the answer first.
  asio::error_code ec;
  if (slot.socket.available(ec) > 0 || ec) {
    Linger(std::move(slot.socket));
    slot.socket = tcp::socket(io_);
  }
  Release(s);
}

void HttpCore::KeepOpen(int s) {
  Slot& slot = *slots_[s];
  // The next request's time runs from the end of this answer.
  slot.AwaitRequest();
  slot.out.clear();
  slot.kept_idle = slot.request.empty();
  if (slot.kept_idle) {
    if (slot.peer_closed) {
      Release(s);
      return;
    }
    ArmLimit(s, kKeptIdle);
  } else {
    ArmLimit(s, request_limit_);
    // The next request, already read in part or whole, is taken up once
    // the loop returns (a run of small answers must not nest).
    asio::post(io_, Guarded(s, [this, s] {
                 Slot& sl = *slots_[s];
                 if (sl.answering || sl.request.empty()) return;
                 if (!sl.peer_closed) {
                   TakeRequest(s);
                   return;
                 }
                 // The client sent its last request and closed: it is answered
                 // as it stands.
                 sl.quiet.cancel();
                 HandleRequest(s);
                 if (!sl.answering) Release(s);
               }));
  }
  // With every slot taken, a new client may take this one now.
  StartAccept();
}

void HttpCore::Release(int s) {
  Slot& slot = *slots_[s];
  asio::error_code ignored;
  slot.socket.close(ignored);
  slot.idle.cancel();
  slot.quiet.cancel();
  if (slot.file >= 0) ::close(slot.file);
  slot.file = -1;
  slot.request.clear();
  slot.out.clear();
  slot.SlotBusy = false;
  slot.SlotError = false;
  slot.keep_alive = false;
  slot.kept_idle = false;
  if (!slot.SlotFree) --taken_;
  slot.SlotFree = true;
  // Handlers still queued for the connection just ended find a new
  // generation and do nothing.
  ++slot.generation;
  StartAccept();
}

void HttpCore::Linger(tcp::socket socket) {
  // Bounded: under a flood the oldest lingering connection is closed first.
  if (lingering_.size() >= static_cast<size_t>(HttpServer::kSlots))
    lingering_.remove_if([](const auto& w) { return w.expired(); });
  if (lingering_.size() >= static_cast<size_t>(HttpServer::kSlots)) {
    if (auto oldest = lingering_.front().lock()) oldest->Close();
    lingering_.pop_front();
  }
  auto lingering = std::make_shared<Lingering>(std::move(socket), io_);
  lingering_.push_back(lingering);
  lingering->Start();
}

HttpServer::HttpServer(asio::io_context& io, Clock& clock, SettingsStore& store,
                       Journal& journal, std::string app_path,
                       WebOptions options)
    : core_(std::make_shared<HttpCore>(io, clock, store, journal,
                                       std::move(app_path), options)) {}

HttpServer::~HttpServer() { core_->Shutdown(); }

void HttpServer::Load() { core_->Load(); }

bool HttpServer::Listening() const { return core_->Listening(); }

}  // namespace lw
