#include "drivers/simline/simulated_line.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>

#include "base/system.h"

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

SimulatedLine::SimulatedLine(Clock& clock, LineAudioHub& hub, Options options)
    : clock_(clock), options_(std::move(options)), audio_(hub) {
  pacing_ = clock_.CreateTimer([this] { OnPacingTick(); });
  pacing_->SetInterval(kLineBlockSamples * 1000 / kLineSampleRate);
  audio_.SetChangeHandler([this] { UpdatePacing(); });
  listen_error_ = std::make_error_code(std::errc::not_connected);
}

SimulatedLine::~SimulatedLine() {
  *alive_ = false;
  audio_.SetChangeHandler(nullptr);
  if (listener_) {
    // Closing the sockets and cancelling the retry timer do not fail in
    // practice; should they, the line is gone all the same.
    try {
      listener_->Shutdown();
    } catch (...) {
    }
    // Only our own socket file: a failed listen may have met another's.
    if (!listen_error_) ::unlink(socket_path_.c_str());
  }
}

void SimulatedLine::Listen(asio::io_context& io,
                           const std::string& runtime_dir) {
  if (listener_) return;
  socket_path_ = runtime_dir + "/" + kSocketName;
  listen_error_.clear();
  StartListening(io, runtime_dir);
}

void SimulatedLine::StartListening(asio::io_context& io,
                                   const std::string& runtime_dir) {
  if (runtime_dir.empty()) {
    listen_error_ = std::make_error_code(std::errc::invalid_argument);
    return;
  }
  if (const int err = MakeRuntimeFolder(runtime_dir); err != 0) {
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
  auto listener = std::make_shared<Listener>(io, this);
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

// --- The line's operations.

int32_t SimulatedLine::Initialize() {
  ops_.push_back("LineInitialize");
  return faults_.initialize_result;
}

int32_t SimulatedLine::Shutdown() {
  ops_.push_back("LineShutdown");
  return faults_.shutdown_result;
}

int32_t SimulatedLine::Open(int32_t privileges, int32_t media_modes) {
  // Every privilege and media mode the line controller asks for is granted
  // unless the modem is busy on its serial port.
  int32_t result = Fault("LineOpen(" + std::to_string(privileges) + "," +
                             std::to_string(media_modes) + ")",
                         faults_.open_result);
  if (result == 0 && ModemReports()) result = kSimLineDeviceBusy;
  if (result != 0) return result;
  if (modem_.owners != nullptr)
    modem_.owners->Acquire(modem_.port, SerialPortUser::kModemLine);
  ++open_controls_;
  return 0;
}

int32_t SimulatedLine::Close() {
  ops_.push_back("LineClose");
  if (const int32_t result = faults_.close_result) return result;
  if (open_controls_ > 0) --open_controls_;
  if (open_controls_ > 0) return 0;
  if (modem_.owners != nullptr)
    modem_.owners->Release(modem_.port, SerialPortUser::kModemLine);
  // With no control left, a call of the process is abandoned; an offered
  // call goes on ringing at the far end.
  if (state_ == CallState::kDialing || state_ == CallState::kConnected ||
      state_ == CallState::kDisconnected) {
    Tell(call_far_end_, SimlineOf(SimlineType::kHungUp));
    EndCall();
  }
  return 0;
}

int32_t SimulatedLine::Answer() {
  if (const int32_t result = Fault("LineAnswer", faults_.answer_result))
    return result;
  if (state_ == CallState::kNone) return kSimLineNoCall;
  if (!CallOffered()) return kSimLineBadState;
  const uint64_t serial = call_serial_;
  std::weak_ptr<bool> alive = alive_;
  clock_.Post([this, alive, serial] {
    // The caller may have given up, or the line closed, before the line
    // went off-hook.
    if (alive.expired() || serial != call_serial_ || open_controls_ == 0)
      return;
    if (!CallOffered()) return;
    state_ = CallState::kConnected;
    Tell(call_far_end_, SimlineOf(SimlineType::kAnswered));
    UpdatePacing();
    if (events_.Connected) events_.Connected();
  });
  return 0;
}

int32_t SimulatedLine::Drop() {
  if (const int32_t result = Fault("LineDrop", faults_.drop_result))
    return result;
  if (state_ == CallState::kNone) return kSimLineNoCall;
  Tell(call_far_end_, SimlineOf(SimlineType::kHungUp));
  EndCall();
  RaiseIdle();
  return 0;
}

int32_t SimulatedLine::MonitorDigits(bool on) {
  if (const int32_t result = Fault(
          std::string("LineMonitorDigits(") + (on ? "True" : "False") + ")",
          faults_.monitor_result))
    return result;
  monitoring_digits_ = on;
  return 0;
}

int32_t SimulatedLine::Dial(const std::string& number, std::string& call_text) {
  call_text.clear();
  if (const int32_t result =
          Fault("MakeCall(" + number + ")", faults_.make_call_result))
    return result;
  if (state_ != CallState::kNone) return kSimLineCallExists;
  state_ = CallState::kDialing;
  ++call_serial_;
  rings_ = 0;
  dialed_number_ = number;
  call_text = number;
  if (events_.Dialing) events_.Dialing();
  if (!waiting_answerers_.empty()) {
    call_far_end_ = waiting_answerers_.front();
    waiting_answerers_.pop_front();
    SimlineMessage m = SimlineOf(SimlineType::kDialed);
    m.number = number;
    Tell(call_far_end_, m);
  }
  return 0;
}

int32_t SimulatedLine::GetDeviceID(int16_t device_class) {
  // Only a line with a modem has a serial port.
  if (device_class == kDeviceClassSerialPort && modem_.report)
    return modem_.port;
  return -1;
}

// --- The modem side.

void SimulatedLine::ModemReceived(const std::string& bytes) {
  for (const char c : bytes) {
    if (c != '\r') {
      // A command longer than any modem takes is noise: it is cut.
      if (c != '\n' && at_command_.size() < 256) at_command_ += c;
      continue;
    }
    const std::string command = std::move(at_command_);
    at_command_.clear();
    if (command.empty() || !ModemReports()) continue;
    const bool at = command.size() >= 2 &&
                    (command[0] == 'A' || command[0] == 'a') &&
                    (command[1] == 'T' || command[1] == 't');
    ModemLine(at ? "OK" : "ERROR");
  }
}

void SimulatedLine::ModemCallerId() {
  modem_cid_due_ = false;
  const LocalDateTime now = clock_.Now();
  char date[8];
  char time[8];
  std::snprintf(date, sizeof date, "%02d%02d", now.month % 100, now.day % 100);
  std::snprintf(time, sizeof time, "%02d%02d", now.hour % 100,
                now.minute % 100);
  ModemLine(std::string("DATE = ") + date);
  ModemLine(std::string("TIME = ") + time);
  // 'P': withheld by the caller (the name: parameter 08 of a MESG report).
  ModemLine("NMBR = " + (cid_number_.empty() ? "P" : cid_number_));
  ModemLine(cid_name_.empty() ? "MESG = 080150" : "NAME = " + cid_name_);
}

std::string SimulatedLine::ErrorText(int32_t code) {
  switch (code) {
    case kSimLineNoCall:
      return "There is no call";
    case kSimLineCallExists:
      return "The line already has a call";
    case kSimLineBadState:
      return "The call cannot be answered in its state";
    case kSimLineDeviceBusy:
      return "The line is in use";
    case kSimLineLost:
      return "The line is lost";
    default:
      return "Unknown error " + std::to_string(code);
  }
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
      if (state_ != CallState::kNone || lost_) {
        Tell(id, SimlineOf(SimlineType::kBusy));
        return;
      }
      state_ = CallState::kOffered;
      ++call_serial_;
      call_far_end_ = id;
      rings_ = 0;
      modem_rings_ = 0;
      modem_cid_due_ = false;
      SimlineMessage ack = SimlineOf(SimlineType::kOffered);
      ack.line_open = open_controls_ > 0;
      Tell(id, ack);
      if (events_.InComeCall) events_.InComeCall();
      return;
    }
    case SimlineType::kRing: {
      if (!own_call || state_ != CallState::kOffered) return;
      if (ModemReports()) {
        ++modem_rings_;
        ModemLine("RING");
        if (modem_cid_due_) ModemCallerId();
        return;
      }
      const int32_t count = ++rings_;
      if (events_.Ring) events_.Ring(count);
      return;
    }
    case SimlineType::kCallerId: {
      if (!own_call ||
          (state_ != CallState::kOffered && state_ != CallState::kPickedUp))
        return;
      cid_name_ = m.name;
      cid_number_ = m.number;
      if (ModemReports()) {
        // The modem reports the caller after the first ring.
        modem_cid_due_ = true;
        if (modem_rings_ > 0) ModemCallerId();
        return;
      }
      // The far end sends a withheld number empty.
      if (events_.CallerID)
        events_.CallerID(m.name,
                         m.number.empty() ? kWithheldCallerNumber : m.number);
      return;
    }
    case SimlineType::kModemText:
      if (ModemReports()) modem_.report(m.text);
      return;
    case SimlineType::kLoseLine:
      if (lost_) return;
      lost_ = true;
      if (state_ != CallState::kNone) {
        Tell(call_far_end_, SimlineOf(SimlineType::kHungUp));
        EndCall();
      }
      if (events_.LineLost) events_.LineLost();
      return;
    case SimlineType::kLineBack:
      if (!lost_) return;
      lost_ = false;
      if (events_.LineBack) events_.LineBack();
      return;
    case SimlineType::kPickUp:
      if (!own_call || state_ != CallState::kOffered) return;
      state_ = CallState::kPickedUp;
      UpdatePacing();
      return;
    case SimlineType::kDigit: {
      // Keys are reported only while the call's digits are monitored.
      if (!own_call || !AudioFlows() || !monitoring_digits_) return;
      if (events_.MonitorDigit) events_.MonitorDigit(std::string(1, m.digit));
      return;
    }
    case SimlineType::kAudio:
      if (!own_call || !AudioFlows() || !audio_.has_sink()) return;
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
      if (events_.Connected) events_.Connected();
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
      if (events_.Disconnected) events_.Disconnected();
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
  monitoring_digits_ = false;
  UpdatePacing();
}

// --- Audio.

void SimulatedLine::UpdatePacing() {
  const bool record = audio_.has_sink() && AudioFlows();
  if (!record) far_audio_.clear();
  const bool run = record || audio_.has_sources();
  if (run == pacing_->Enabled()) return;
  pacing_->SetEnabled(run);
  if (run && audio_.has_sources()) PlayBlock();
}

void SimulatedLine::OnPacingTick() {
  PlayBlock();
  if (!audio_.has_sink() || !AudioFlows()) return;
  std::array<int16_t, kLineBlockSamples> block{};
  const size_t n = std::min(far_audio_.size(), block.size());
  std::copy_n(far_audio_.begin(), n, block.begin());
  far_audio_.erase(far_audio_.begin(), far_audio_.begin() + n);
  audio_.Received(block);
}

void SimulatedLine::PlayBlock() {
  if (!audio_.has_sources()) return;
  std::array<int16_t, kLineBlockSamples> block;
  // Pulled whether or not a call carries it, so the sound ends in time.
  if (!audio_.PullBlock(block)) return;
  if (state_ != CallState::kConnected || call_far_end_ == 0) return;
  Tell(call_far_end_, SimlineAudio(block));
}

}  // namespace lw
