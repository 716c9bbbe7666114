#include "drivers/simline/simulated_line.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <asio/local/stream_protocol.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <set>

#include "base/system.h"
#include "drivers/simline/simulated_telephony.h"

namespace lw {
namespace {

using asio::local::stream_protocol;

// What a far end that does not read may have waiting before the line drops
// further audio for it (control messages are always queued).
constexpr size_t kMaxQueuedWriteBytes = 1 << 20;

std::error_code Errno() {
  return std::error_code(errno, std::generic_category());
}

void SetCloseOnExec(int fd) {
  const int flags = ::fcntl(fd, F_GETFD);
  if (flags >= 0) ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
}

// True when a process accepts connections on the socket file `path`.
bool SomeoneListens(const sockaddr_un& addr, socklen_t len) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool ok =
      ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0;
  ::close(fd);
  return ok;
}

}  // namespace

// ------------------------------------------------------- socket far ends

struct SimulatedLine::Listener
    : public std::enable_shared_from_this<SimulatedLine::Listener> {
  struct Session : public std::enable_shared_from_this<Session> {
    Session(std::weak_ptr<Listener> l, stream_protocol::socket s)
        : listener(std::move(l)), socket(std::move(s)) {}

    void StartRead() {
      socket.async_read_some(
          asio::buffer(buffer),
          [self = shared_from_this()](const std::error_code& ec, size_t n) {
            self->OnRead(ec, n);
          });
    }

    void OnRead(const std::error_code& ec, size_t n) {
      if (closed) return;
      if (ec) return Close();
      decoder.Feed(std::string_view(buffer.data(), n));
      SimlineMessage m;
      for (;;) {
        const SimlineDecoder::Result r = decoder.Next(&m);
        if (r == SimlineDecoder::Result::kNeedMore) break;
        if (r == SimlineDecoder::Result::kFailed) return Close();
        std::shared_ptr<Listener> l = listener.lock();
        if (!l || l->line == nullptr || closed) return Close();
        l->line->FromFarEnd(id, m);
      }
      StartRead();
    }

    void Send(const SimlineMessage& m) {
      if (closed) return;
      if (m.type == SimlineType::kAudio && queued_bytes > kMaxQueuedWriteBytes)
        return;
      queue.push_back(EncodeSimline(m));
      queued_bytes += queue.back().size();
      if (!writing) WriteNext();
    }

    void WriteNext() {
      if (queue.empty() || closed) {
        writing = false;
        return;
      }
      writing = true;
      asio::async_write(
          socket, asio::buffer(queue.front()),
          [self = shared_from_this()](const std::error_code& ec, size_t) {
            if (self->closed) return;
            self->queued_bytes -= self->queue.front().size();
            self->queue.pop_front();
            if (ec) return self->Close();
            self->WriteNext();
          });
    }

    // The far end is gone (or broke the protocol): it hangs up.
    void Close() {
      if (closed) return;
      closed = true;
      std::error_code ignored;
      socket.shutdown(stream_protocol::socket::shutdown_both, ignored);
      socket.close(ignored);
      std::shared_ptr<Listener> l = listener.lock();
      if (!l) return;
      auto self = shared_from_this();
      l->sessions.erase(self);
      if (l->line != nullptr) l->line->DisconnectFarEnd(id);
    }

    std::weak_ptr<Listener> listener;
    stream_protocol::socket socket;
    FarEndId id = 0;
    SimlineDecoder decoder;
    std::array<char, 8192> buffer;
    std::deque<std::string> queue;
    size_t queued_bytes = 0;
    bool writing = false;
    bool closed = false;
  };

  Listener(asio::io_context& io, SimulatedLine* l)
      : line(l), acceptor(io), retry(io) {}

  void StartAccept() {
    acceptor.async_accept(
        [self = shared_from_this()](const std::error_code& ec,
                                    stream_protocol::socket socket) {
          self->OnAccept(ec, std::move(socket));
        });
  }

  void OnAccept(const std::error_code& ec, stream_protocol::socket socket) {
    if (line == nullptr || ec == asio::error::operation_aborted) return;
    if (ec) {
      // Out of descriptors or a connection that died in the backlog: try
      // again a little later instead of spinning.
      retry.expires_after(std::chrono::milliseconds(100));
      retry.async_wait([self = shared_from_this()](const std::error_code& e) {
        if (!e && self->line != nullptr) self->StartAccept();
      });
      return;
    }
    // A program started by the process must not keep a far end connected.
    SetCloseOnExec(socket.native_handle());
    auto session =
        std::make_shared<Session>(weak_from_this(), std::move(socket));
    sessions.insert(session);
    std::weak_ptr<Session> weak = session;
    session->id = line->ConnectFarEnd([weak](const SimlineMessage& m) {
      if (auto s = weak.lock()) s->Send(m);
    });
    session->StartRead();
    StartAccept();
  }

  void Shutdown() {
    line = nullptr;
    std::error_code ignored;
    acceptor.close(ignored);
    retry.cancel();
    const auto all = sessions;
    for (const auto& s : all) {
      s->closed = true;
      s->socket.close(ignored);
    }
    sessions.clear();
  }

  SimulatedLine* line;  // null once the line is gone
  stream_protocol::acceptor acceptor;
  asio::steady_timer retry;
  std::set<std::shared_ptr<Session>> sessions;
};

// ------------------------------------------------------------ the line

SimulatedLine::SimulatedLine(asio::io_context& io, Clock& clock,
                             LineAudioHub& hub, std::string runtime_dir,
                             Options options)
    : io_(io),
      clock_(clock),
      hub_(hub),
      runtime_dir_(std::move(runtime_dir)),
      options_(options) {
  socket_path_ = runtime_dir_ + "/" + kSocketName;
  pacing_ = clock_.CreateTimer([this] { OnPacingTick(); });
  pacing_->SetInterval(kLineBlockSamples * 1000 / kLineSampleRate);
  hub_.Register(options_.wave_in, this);
  hub_.Register(options_.wave_out, this);
  if (options_.listen) {
    StartListening();
  } else {
    listen_error_ = std::make_error_code(std::errc::not_connected);
  }
}

SimulatedLine::~SimulatedLine() {
  *alive_ = false;
  if (listener_) {
    listener_->Shutdown();
    // Only our own socket file: a failed listen may have met another's.
    if (!listen_error_) ::unlink(socket_path_.c_str());
  }
  if (hub_.Find(options_.wave_in) == this) hub_.Unregister(options_.wave_in);
  if (hub_.Find(options_.wave_out) == this) hub_.Unregister(options_.wave_out);
  // Controls left behind no longer reach the line through their pointers;
  // the contract says they are gone first, so this only guards the list.
  controls_.clear();
}

void SimulatedLine::StartListening() {
  if (runtime_dir_.empty()) {
    listen_error_ = std::make_error_code(std::errc::invalid_argument);
    return;
  }
  if (const int err = MakeRuntimeFolder(runtime_dir_); err != 0) {
    listen_error_ = std::error_code(err, std::generic_category());
    return;
  }
  sockaddr_un addr;
  socklen_t len;
  if (!UnixSocketAddress(socket_path_, &addr, &len)) {
    listen_error_ = std::make_error_code(std::errc::filename_too_long);
    return;
  }
  struct stat st;
  if (::lstat(socket_path_.c_str(), &st) == 0) {
    if (SomeoneListens(addr, len)) {
      listen_error_ = std::make_error_code(std::errc::address_in_use);
      return;
    }
    // Left behind by a process that is gone.
    ::unlink(socket_path_.c_str());
  }
  const int fd =
      ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    listen_error_ = Errno();
    return;
  }
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) != 0 ||
      ::listen(fd, 16) != 0) {
    listen_error_ = Errno();
    ::close(fd);
    return;
  }
  auto listener = std::make_shared<Listener>(io_, this);
  std::error_code ec;
  listener->acceptor.assign(stream_protocol(), fd, ec);
  if (ec) {
    ::close(fd);
    ::unlink(socket_path_.c_str());
    listen_error_ = ec;
    return;
  }
  listener_ = std::move(listener);
  listener_->StartAccept();
}

std::string SimulatedLine::ListenStatus() const {
  if (!listen_error_)
    return std::string(kDeviceName) + " listens at " + socket_path_;
  if (listen_error_ == std::errc::address_in_use)
    return std::string(kDeviceName) + ": another process listens at " +
           socket_path_ + "; no far end can reach this line";
  return std::string(kDeviceName) + ": cannot listen at " + socket_path_ +
         ": " + listen_error_.message() + "; no far end can reach this line";
}

// --- Controls.

void SimulatedLine::Detach(SimulatedTelephony* t) {
  controls_.erase(std::remove(controls_.begin(), controls_.end(), t),
                  controls_.end());
}

bool SimulatedLine::IsAttached(const SimulatedTelephony* t) const {
  return std::find(controls_.begin(), controls_.end(), t) != controls_.end();
}

int32_t SimulatedLine::OpenControls() const {
  return static_cast<int32_t>(
      std::count_if(controls_.begin(), controls_.end(),
                    [](const SimulatedTelephony* t) { return t->open_; }));
}

void SimulatedLine::ForEachOpen(
    const std::function<void(SimulatedTelephony&)>& raise) {
  const std::vector<SimulatedTelephony*> snapshot = controls_;
  for (SimulatedTelephony* t : snapshot) {
    // A handler may have closed a line or destroyed a control meanwhile.
    if (IsAttached(t) && t->open_) raise(*t);
  }
}

void SimulatedLine::Post(std::function<void()> event) {
  std::weak_ptr<bool> alive = alive_;
  asio::post(io_, [alive, event = std::move(event)] {
    auto a = alive.lock();
    if (!a || !*a) return;
    try {
      event();
    } catch (...) {
      // Handlers journal their own failures; nothing leaves the loop.
    }
  });
}

void SimulatedLine::Raise(
    const std::function<void(SimulatedTelephony&)>& raise) {
  // Delivered in the order things happened on the line, also when the call
  // is over by then (its Idle comes after), to the lines that were open
  // when it happened and still are.
  std::vector<SimulatedTelephony*> open;
  for (SimulatedTelephony* t : controls_)
    if (t->open_) open.push_back(t);
  if (open.empty()) return;
  Post([this, open, raise] {
    for (SimulatedTelephony* t : open) {
      // A handler may have closed a line or destroyed a control meanwhile.
      if (IsAttached(t) && t->open_) raise(*t);
    }
  });
}

void SimulatedLine::RaiseIdle() {
  Raise([](SimulatedTelephony& t) {
    if (t.events_.Idle) t.events_.Idle();
  });
}

void SimulatedLine::ControlOpened(SimulatedTelephony* t) {
  if (state_ != CallState::kOffered && state_ != CallState::kPickedUp) return;
  // The call rang before this line opened: report it as offered now.
  const uint64_t serial = call_serial_;
  Post([this, t, serial] {
    if (serial != call_serial_ || !IsAttached(t) || !t->open_) return;
    if (state_ != CallState::kOffered && state_ != CallState::kPickedUp) return;
    if (t->events_.InComeCall) t->events_.InComeCall();
  });
}

void SimulatedLine::ControlClosed() {
  if (OpenControls() > 0) return;
  // With no line left open, a call of the process is abandoned; an offered
  // call goes on ringing at the far end.
  if (state_ == CallState::kDialing || state_ == CallState::kConnected ||
      state_ == CallState::kDisconnected) {
    Tell(call_far_end_, SimlineOf(SimlineType::kHungUp));
    EndCall();
  }
}

int32_t SimulatedLine::Answer(SimulatedTelephony* t) {
  if (state_ == CallState::kNone) return kSimLineNoCall;
  if (state_ != CallState::kOffered && state_ != CallState::kPickedUp)
    return kSimLineBadState;
  const uint64_t serial = call_serial_;
  Post([this, t, serial] {
    // The caller may have given up, or the line closed, before the line
    // went off-hook.
    if (serial != call_serial_ || !IsAttached(t) || !t->open_) return;
    if (state_ != CallState::kOffered && state_ != CallState::kPickedUp) return;
    state_ = CallState::kConnected;
    Tell(call_far_end_, SimlineOf(SimlineType::kAnswered));
    UpdatePacing();
    ForEachOpen([](SimulatedTelephony& c) {
      if (c.events_.Connected) c.events_.Connected();
    });
  });
  return 0;
}

int32_t SimulatedLine::Drop() {
  if (state_ == CallState::kNone) return kSimLineNoCall;
  Tell(call_far_end_, SimlineOf(SimlineType::kHungUp));
  EndCall();
  RaiseIdle();
  return 0;
}

int32_t SimulatedLine::Dial(const std::string& number) {
  if (state_ != CallState::kNone) return kSimLineCallExists;
  state_ = CallState::kDialing;
  ++call_serial_;
  rings_ = 0;
  dialed_number_ = number;
  Raise([](SimulatedTelephony& t) {
    if (t.events_.Dialing) t.events_.Dialing();
  });
  if (!waiting_answerers_.empty()) {
    call_far_end_ = waiting_answerers_.front();
    waiting_answerers_.pop_front();
    SimlineMessage m = SimlineOf(SimlineType::kDialed);
    m.number = number;
    Tell(call_far_end_, m);
  }
  return 0;
}

// --- Far ends.

SimulatedLine::FarEndId SimulatedLine::ConnectFarEnd(
    std::function<void(const SimlineMessage&)> deliver) {
  const FarEndId id = next_far_end_++;
  far_ends_[id] = std::move(deliver);
  return id;
}

void SimulatedLine::DisconnectFarEnd(FarEndId id) {
  far_ends_.erase(id);
  waiting_answerers_.erase(
      std::remove(waiting_answerers_.begin(), waiting_answerers_.end(), id),
      waiting_answerers_.end());
  if (id == call_far_end_) OnFarEndHangup();
}

void SimulatedLine::Tell(FarEndId id, const SimlineMessage& message) {
  auto it = far_ends_.find(id);
  if (it == far_ends_.end() || !it->second) return;
  it->second(message);
}

void SimulatedLine::FromFarEnd(FarEndId id, const SimlineMessage& m) {
  if (far_ends_.count(id) == 0) return;
  const bool own_call = id == call_far_end_ && state_ != CallState::kNone;
  switch (m.type) {
    case SimlineType::kOffer: {
      if (state_ != CallState::kNone) {
        Tell(id, SimlineOf(SimlineType::kBusy));
        return;
      }
      state_ = CallState::kOffered;
      ++call_serial_;
      call_far_end_ = id;
      rings_ = 0;
      SimlineMessage ack = SimlineOf(SimlineType::kOffered);
      ack.line_open = OpenControls() > 0;
      Tell(id, ack);
      Raise([](SimulatedTelephony& t) {
        if (t.events_.InComeCall) t.events_.InComeCall();
      });
      return;
    }
    case SimlineType::kRing: {
      if (!own_call || state_ != CallState::kOffered) return;
      const int32_t count = ++rings_;
      Raise([count](SimulatedTelephony& t) {
        if (t.events_.Ring) t.events_.Ring(count);
      });
      return;
    }
    case SimlineType::kCallerId: {
      if (!own_call ||
          (state_ != CallState::kOffered && state_ != CallState::kPickedUp))
        return;
      Raise([name = m.name, number = m.number](SimulatedTelephony& t) {
        if (t.events_.CallerID) t.events_.CallerID(name, number);
      });
      return;
    }
    case SimlineType::kPickUp:
      if (!own_call || state_ != CallState::kOffered) return;
      state_ = CallState::kPickedUp;
      UpdatePacing();
      return;
    case SimlineType::kDigit: {
      if (!own_call || !AudioFlows()) return;
      // Heard by the lines that monitor digits when the key is pressed.
      if (std::none_of(controls_.begin(), controls_.end(),
                       [](const SimulatedTelephony* t) {
                         return t->open_ && t->monitoring_;
                       }))
        return;
      Raise([digit = std::string(1, m.digit)](SimulatedTelephony& t) {
        if (t.monitoring_ && t.events_.MonitorDigit)
          t.events_.MonitorDigit(digit);
      });
      return;
    }
    case SimlineType::kAudio:
      if (!own_call || !AudioFlows() || !sink_) return;
      far_audio_.insert(far_audio_.end(), m.samples.begin(), m.samples.end());
      if (far_audio_.size() > kMaxQueuedSamples)
        far_audio_.erase(far_audio_.begin(),
                         far_audio_.end() - kMaxQueuedSamples);
      return;
    case SimlineType::kHangup:
      if (own_call) OnFarEndHangup();
      return;
    case SimlineType::kWaitCall: {
      if (std::find(waiting_answerers_.begin(), waiting_answerers_.end(), id) !=
          waiting_answerers_.end())
        return;
      if (state_ == CallState::kDialing && call_far_end_ == 0) {
        // The process already dials: this far end takes that call.
        call_far_end_ = id;
        SimlineMessage d = SimlineOf(SimlineType::kDialed);
        d.number = dialed_number_;
        Tell(id, d);
        return;
      }
      waiting_answerers_.push_back(id);
      return;
    }
    case SimlineType::kAnswerCall:
      if (!own_call || state_ != CallState::kDialing) return;
      state_ = CallState::kConnected;
      Tell(id, SimlineOf(SimlineType::kAnswered));
      UpdatePacing();
      Raise([](SimulatedTelephony& t) {
        if (t.events_.Connected) t.events_.Connected();
      });
      return;
    default:
      // The line's own messages mean nothing coming from a far end.
      return;
  }
}

void SimulatedLine::OnFarEndHangup() {
  switch (state_) {
    case CallState::kOffered:
    case CallState::kPickedUp:
    case CallState::kDialing:
      EndCall();
      RaiseIdle();
      return;
    case CallState::kConnected:
      // The call stays until the process drops it.
      state_ = CallState::kDisconnected;
      call_far_end_ = 0;
      UpdatePacing();
      Raise([](SimulatedTelephony& t) {
        if (t.events_.Disconnected) t.events_.Disconnected();
      });
      return;
    default:
      return;
  }
}

void SimulatedLine::EndCall() {
  state_ = CallState::kNone;
  ++call_serial_;
  call_far_end_ = 0;
  rings_ = 0;
  dialed_number_.clear();
  // Digit monitoring belongs to the call.
  for (SimulatedTelephony* t : controls_) t->monitoring_ = false;
  UpdatePacing();
}

// --- Audio.

void SimulatedLine::PlayToLine(std::span<const int16_t> samples) {
  if (state_ != CallState::kConnected || call_far_end_ == 0) return;
  while (!samples.empty()) {
    const size_t n = std::min(samples.size(), kSimlineMaxSamples);
    Tell(call_far_end_, SimlineAudio(samples.first(n)));
    samples = samples.subspan(n);
  }
}

void SimulatedLine::SetRecordSink(Sink sink) {
  sink_ = std::move(sink);
  UpdatePacing();
}

void SimulatedLine::UpdatePacing() {
  const bool run = sink_ && AudioFlows();
  if (!run) far_audio_.clear();
  if (run != pacing_->Enabled()) pacing_->SetEnabled(run);
}

void SimulatedLine::OnPacingTick() {
  if (!sink_ || !AudioFlows()) return;
  std::array<int16_t, kLineBlockSamples> block{};
  const size_t n = std::min(far_audio_.size(), block.size());
  std::copy_n(far_audio_.begin(), n, block.begin());
  far_audio_.erase(far_audio_.begin(), far_audio_.begin() + n);
  // The sink may detach itself.
  const Sink sink = sink_;
  sink(std::span<const int16_t>(block.data(), block.size()));
}

}  // namespace lw
