#include "drivers/unix_channel/unix_channel.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio/local/datagram_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <vector>

#include "base/descriptors.h"
#include "base/system.h"

namespace lw {
namespace {

// Buffer room asked for on every socket. A datagram waiting in a receiver's
// queue is charged to the socket that sent it, and the kernel refuses a
// datagram longer than that socket's room; the kernel caps the request at
// net.core.wmem_max / rmem_max (doubled), which by default still leaves room
// for a few 64 KiB messages.
constexpr int kSocketBufferBytes = 4 * 1024 * 1024;

// Most messages taken from the socket per wake-up before other events of the
// loop get their turn.
constexpr int kMaxReceivesPerWake = 64;

std::atomic<uint32_t> g_name_counter{0};

void SetBuffer(int fd, int option) {
  const int bytes = kSocketBufferBytes;
  ::setsockopt(fd, SOL_SOCKET, option, &bytes, sizeof bytes);
}

// The socket address of `name` in the folder `dir` (open as `dir_fd`).
// A path too long for sockaddr_un goes through the folder's descriptor.
bool MakeAddress(const std::string& dir, int dir_fd, const char* name,
                 sockaddr_un* addr, socklen_t* len) {
  std::string path = dir + "/" + name;
  if (path.size() >= sizeof addr->sun_path)
    path = "/proc/self/fd/" + std::to_string(dir_fd) + "/" + name;
  return UnixSocketAddress(path, addr, len);
}

bool IsSocket(DIR* dir, const dirent* e) {
  if (e->d_type == DT_SOCK) return true;
  if (e->d_type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISSOCK(st.st_mode);
}

}  // namespace

// One receiving party as seen by a sending end: a socket of our own
// connected to the party's file, and the messages it has not taken yet.
// Being connected is what lets us wait for the party: the kernel reports our
// socket writable once the party has read from its full receive queue. It
// also charges the datagrams waiting at a party to that party's socket only,
// so a party that stopped reading never uses up the others' room.
struct UnixChannel::Party {
  Party(const asio::any_io_executor& ex, std::string name_in, uint64_t ino_in)
      : name(std::move(name_in)), ino(ino_in), socket(ex), stall(ex) {}

  std::string name;  // its socket file in the channel folder
  uint64_t ino;      // that file's inode: a new party of the same name differs
  asio::local::datagram_protocol::socket socket;
  asio::steady_timer stall;  // runs while messages wait
  uint64_t stall_arm = 0;    // counts the arming of `stall`
  std::deque<std::shared_ptr<const std::string>> queue;
  size_t queued_bytes = 0;
  bool waiting = false;   // a writability wait is armed
  bool given_up = false;  // lost messages; taken nothing since
};

struct UnixChannel::Binding {
  Binding(asio::io_context& io, UnixChannel* owner_in, int32_t channel_in)
      : owner(owner_in), channel(channel_in), socket(io), survey(io) {}
  ~Binding() {
    if (!name.empty()) ::unlinkat(dir_fd, name.c_str(), 0);
    std::error_code ec;
    socket.close(ec);
    if (dir_fd >= 0) ::close(dir_fd);
  }

  UnixChannel* owner;  // owns this binding, so valid while it lives
  int32_t channel;
  std::string dir;   // the channel folder
  int dir_fd = -1;   // the channel folder, open
  std::string name;  // our socket file in it; empty until bound
  asio::local::datagram_protocol::socket socket;
  std::vector<char> buffer;
  std::map<std::string, std::shared_ptr<Party>> parties;  // by file name
  asio::steady_timer survey;  // runs while the folder cannot be surveyed
  bool survey_armed = false;
};

namespace {

enum class SendResult { kSent, kFull, kGone, kFailed };

SendResult TrySend(int fd, const std::string& text, int* error) {
  ssize_t sent;
  do {
    sent = ::send(fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
  } while (sent < 0 && errno == EINTR);
  if (sent >= 0) return SendResult::kSent;
  *error = errno;
  switch (errno) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
    case ENOBUFS:
      return SendResult::kFull;
    case ECONNREFUSED:
    case ENOTCONN:
    case ECONNRESET:
    case EPIPE:
      return SendResult::kGone;
    default:
      return SendResult::kFailed;
  }
}

std::string Seconds(std::chrono::milliseconds ms) {
  const auto n = ms.count();
  if (n % 1000 == 0) return std::to_string(n / 1000) + " s";
  return std::to_string(n) + " ms";
}

}  // namespace

UnixChannel::UnixChannel(asio::io_context& io, std::string runtime_dir,
                         UnixChannelLimits limits)
    : io_(io), runtime_dir_(std::move(runtime_dir)), limits_(limits) {}

UnixChannel::~UnixChannel() {
  if (binding_) FlushBeforeClose(*binding_);
  binding_.reset();
}

void UnixChannel::FlushBeforeClose(Binding& b) {
  const auto deadline = std::chrono::steady_clock::now() + kCloseFlushBudget;
  for (auto& [name, p] : b.parties) {
    while (!p->queue.empty()) {
      int error = 0;
      const SendResult r =
          TrySend(p->socket.native_handle(), *p->queue.front(), &error);
      if (r == SendResult::kSent) {
        p->queue.pop_front();
        continue;
      }
      if (r != SendResult::kFull) break;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return;
      pollfd fd{p->socket.native_handle(), POLLOUT, 0};
      if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0 &&
          errno != EINTR) {
        return;
      }
    }
  }
}

std::string UnixChannel::ChannelFolder(const std::string& runtime_dir,
                                       int32_t channel) {
  return runtime_dir + "/ch" + std::to_string(channel);
}

std::string UnixChannel::socket_path() const {
  return binding_ ? binding_->dir + "/" + binding_->name : std::string();
}

size_t UnixChannel::pending() const {
  size_t n = 0;
  if (binding_)
    for (const auto& [name, party] : binding_->parties)
      n += party->queue.size();
  return n;
}

bool UnixChannel::OpenChannel(int32_t channel) {
  if (binding_ && binding_->channel == channel) {
    struct stat st;
    if (::fstatat(binding_->dir_fd, binding_->name.c_str(), &st,
                  AT_SYMLINK_NOFOLLOW) == 0)
      return true;
  }
  dropped_ += pending();
  binding_.reset();
  binding_ = Bind(channel);
  return binding_ != nullptr;
}

std::shared_ptr<UnixChannel::Binding> UnixChannel::Bind(int32_t channel) {
  if (runtime_dir_.empty()) return nullptr;
  if (MakeRuntimeFolder(runtime_dir_) != 0) return nullptr;
  auto b = std::make_shared<Binding>(io_, this, channel);
  b->dir = ChannelFolder(runtime_dir_, channel);
  if (::mkdir(b->dir.c_str(), 0700) != 0 && errno != EEXIST) return nullptr;
  b->dir_fd = ::open(b->dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (b->dir_fd < 0) return nullptr;

  // Close-on-exec: a program started by the process must not keep our
  // socket alive after we are gone, or senders would never see us as dead.
  const int fd =
      ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return nullptr;
  std::error_code ec;
  b->socket.assign(asio::local::datagram_protocol(), fd, ec);
  if (ec) {
    ::close(fd);
    return nullptr;
  }
  SetBuffer(fd, SO_RCVBUF);

  // A name left behind by an earlier process with our pid is skipped.
  const std::string prefix = "p" + std::to_string(::getpid()) + "-";
  for (int attempt = 0; attempt < 100 && b->name.empty(); ++attempt) {
    const std::string name = prefix + std::to_string(++g_name_counter);
    sockaddr_un addr;
    socklen_t len;
    if (!MakeAddress(b->dir, b->dir_fd, name.c_str(), &addr, &len))
      return nullptr;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&addr), len) == 0) {
      b->name = name;
    } else if (errno != EADDRINUSE) {
      return nullptr;
    }
  }
  if (b->name.empty()) return nullptr;
  b->buffer.resize(kMaxMessageBytes);
  StartWait(b);
  return b;
}

void UnixChannel::SendMessage(const std::string& text) {
  if (!binding_ || text.size() > kMaxMessageBytes) return;
  const std::shared_ptr<Binding> b = binding_;
  const auto shared = std::make_shared<const std::string>(text);
  // The known parties first: a send needs no descriptor, and the kernel's
  // refusal of one frees the socket of a party that has gone. Listing the
  // folder for parties bound since needs a descriptor, so it comes last.
  std::vector<std::shared_ptr<Party>> known;
  for (const auto& [name, party] : b->parties) known.push_back(party);
  for (const auto& party : known)
    if (IsCurrent(*b, party)) Deliver(b, party, shared);
  Survey(b, shared);
}

void UnixChannel::Survey(const std::shared_ptr<Binding>& b,
                         const std::shared_ptr<const std::string>& text) {
  const int list_fd = MakeDescriptor([&] {
    return ::openat(b->dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  });
  DIR* dir = list_fd < 0 ? nullptr : ::fdopendir(list_fd);
  if (dir == nullptr) {
    if (list_fd >= 0) ::close(list_fd);
    ArmSurvey(b);
    return;
  }
  // Parties bound since the last listing are connected; a known name held
  // by a new file means another party took it over.
  std::set<std::string> listed;
  std::vector<std::shared_ptr<Party>> fresh;
  bool short_of_descriptors = false;
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.' || b->name == e->d_name || !IsSocket(dir, e))
      continue;
    listed.emplace(e->d_name);
    const uint64_t ino = e->d_ino;
    const auto it = b->parties.find(e->d_name);
    if (it != b->parties.end()) {
      if (it->second->ino == ino) continue;
      Gone(b, it->second, false);
    }
    if (std::shared_ptr<Party> p = Connect(*b, e->d_name, ino)) {
      b->parties[p->name] = p;
      fresh.push_back(p);
    } else if (errno == EMFILE || errno == ENFILE) {
      short_of_descriptors = true;
    }
  }
  ::closedir(dir);
  // Known parties whose file is no longer listed have unbound.
  std::vector<std::shared_ptr<Party>> left;
  for (const auto& [name, party] : b->parties)
    if (listed.count(name) == 0) left.push_back(party);
  for (const auto& party : left) Gone(b, party, false);
  if (short_of_descriptors) ArmSurvey(b);
  if (text)
    for (const auto& party : fresh)
      if (IsCurrent(*b, party)) Deliver(b, party, text);
}

void UnixChannel::ArmSurvey(const std::shared_ptr<Binding>& b) {
  if (b->survey_armed) return;
  b->survey_armed = true;
  b->survey.expires_after(kSurveyRetry);
  b->survey.async_wait(
      [wb = std::weak_ptr<Binding>(b)](const std::error_code& ec) {
        const std::shared_ptr<Binding> b = wb.lock();
        if (ec || !b) return;
        b->survey_armed = false;
        Survey(b, nullptr);
      });
}

bool UnixChannel::IsCurrent(const Binding& b, const std::shared_ptr<Party>& p) {
  const auto it = b.parties.find(p->name);
  return it != b.parties.end() && it->second == p;
}

std::shared_ptr<UnixChannel::Party> UnixChannel::Connect(Binding& b,
                                                         const char* name,
                                                         uint64_t ino) {
  sockaddr_un addr;
  socklen_t len;
  if (!MakeAddress(b.dir, b.dir_fd, name, &addr, &len)) return nullptr;
  const int fd =
      ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) {
    // Out of descriptors the party waits for a later survey; the reserve
    // is kept for the calls.
    const int error = errno;
    NoteDescriptorRefusal(error);
    errno = error;
    return nullptr;
  }
  SetBuffer(fd, SO_SNDBUF);
  int rc;
  do {
    rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), len);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    // Refused: nobody is bound to that file any more; its party died
    // without unbinding, before anything was waiting for it.
    if (errno == ECONNREFUSED) ::unlinkat(b.dir_fd, name, 0);
    ::close(fd);
    return nullptr;
  }
  auto p = std::make_shared<Party>(b.socket.get_executor(), name, ino);
  std::error_code ec;
  p->socket.assign(asio::local::datagram_protocol(), fd, ec);
  if (ec) {
    ::close(fd);
    return nullptr;
  }
  return p;
}

void UnixChannel::Deliver(const std::shared_ptr<Binding>& b,
                          const std::shared_ptr<Party>& p,
                          const std::shared_ptr<const std::string>& text) {
  UnixChannel& owner = *b->owner;
  if (p->queue.empty()) {
    int error = 0;
    switch (TrySend(p->socket.native_handle(), *text, &error)) {
      case SendResult::kSent:
        p->given_up = false;
        return;
      case SendResult::kGone:
        Gone(b, p, true);
        return;
      case SendResult::kFailed:
        ++owner.dropped_;
        Note(*b, *p, "could not be sent a message (" + ErrnoText(error) + ")");
        return;
      case SendResult::kFull:
        if (p->given_up) {
          ++owner.dropped_;
          return;
        }
        break;
    }
  }
  if (p->queue.size() >= owner.limits_.max_queued_messages ||
      p->queued_bytes + text->size() > owner.limits_.max_queued_bytes) {
    ++owner.dropped_;
    GiveUp(b, *p,
           "fell " + std::to_string(p->queue.size()) + " messages behind");
    return;
  }
  const bool was_empty = p->queue.empty();
  p->queue.push_back(text);
  p->queued_bytes += text->size();
  if (was_empty) ArmStall(b, p);
  WaitWritable(b, p);
}

void UnixChannel::Flush(const std::shared_ptr<Binding>& b,
                        const std::shared_ptr<Party>& p) {
  UnixChannel& owner = *b->owner;
  bool progress = false;
  while (!p->queue.empty()) {
    const std::string& text = *p->queue.front();
    int error = 0;
    const SendResult r = TrySend(p->socket.native_handle(), text, &error);
    if (r == SendResult::kFull) break;
    if (r == SendResult::kGone) {
      Gone(b, p, true);
      return;
    }
    if (r == SendResult::kFailed) {
      ++owner.dropped_;
      Note(*b, *p, "could not be sent a message (" + ErrnoText(error) + ")");
    }
    progress = true;
    p->queued_bytes -= text.size();
    p->queue.pop_front();
  }
  if (p->queue.empty()) {
    ++p->stall_arm;
    p->stall.cancel();
    return;
  }
  if (progress) ArmStall(b, p);
  WaitWritable(b, p);
}

void UnixChannel::WaitWritable(const std::shared_ptr<Binding>& b,
                               const std::shared_ptr<Party>& p) {
  if (p->waiting) return;
  p->waiting = true;
  p->socket.async_wait(
      asio::socket_base::wait_write,
      [wb = std::weak_ptr<Binding>(b),
       wp = std::weak_ptr<Party>(p)](const std::error_code& ec) {
        const std::shared_ptr<Binding> b = wb.lock();
        const std::shared_ptr<Party> p = wp.lock();
        if (!b || !p) return;
        p->waiting = false;
        if (ec || !IsCurrent(*b, p)) return;
        // The party has taken something, so an episode of loss is over.
        p->given_up = false;
        Flush(b, p);
      });
}

void UnixChannel::ArmStall(const std::shared_ptr<Binding>& b,
                           const std::shared_ptr<Party>& p) {
  const uint64_t arm = ++p->stall_arm;
  p->stall.expires_after(b->owner->limits_.stall_limit);
  p->stall.async_wait([wb = std::weak_ptr<Binding>(b),
                       wp = std::weak_ptr<Party>(p),
                       arm](const std::error_code& ec) {
    const std::shared_ptr<Binding> b = wb.lock();
    const std::shared_ptr<Party> p = wp.lock();
    if (ec || !b || !p || p->stall_arm != arm || !IsCurrent(*b, p) ||
        p->queue.empty())
      return;
    GiveUp(b, *p,
           "has taken nothing for " + Seconds(b->owner->limits_.stall_limit));
  });
}

void UnixChannel::GiveUp(const std::shared_ptr<Binding>& b, Party& p,
                         const std::string& why) {
  const size_t lost = p.queue.size();
  b->owner->dropped_ += lost;
  p.queue.clear();
  p.queued_bytes = 0;
  p.given_up = true;
  ++p.stall_arm;
  p.stall.cancel();
  Note(*b, p, why + "; " + std::to_string(lost) + " queued messages dropped");
}

void UnixChannel::Gone(const std::shared_ptr<Binding>& b,
                       const std::shared_ptr<Party>& p, bool remove_file) {
  if (IsCurrent(*b, p)) b->parties.erase(p->name);
  // Its file is removed only while it is still the dead party's own.
  struct stat st;
  if (remove_file &&
      ::fstatat(b->dir_fd, p->name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      static_cast<uint64_t>(st.st_ino) == p->ino)
    ::unlinkat(b->dir_fd, p->name.c_str(), 0);
  const size_t lost = p->queue.size();
  b->owner->dropped_ += lost;
  p->queue.clear();
  std::error_code ec;
  p->socket.close(ec);
  p->stall.cancel();
  if (lost > 0)
    Note(*b, *p,
         "is gone; " + std::to_string(lost) + " queued messages dropped");
}

void UnixChannel::Note(const Binding& b, const Party& p,
                       const std::string& what) {
  if (b.owner->note_handler_)
    b.owner->note_handler_("Channel " + std::to_string(b.channel) + ": party " +
                           p.name + " " + what);
}

void UnixChannel::SetNoteHandler(NoteHandler handler) {
  note_handler_ = std::move(handler);
}

void UnixChannel::SetMessageArrived(Handler handler) {
  handler_ = std::move(handler);
}

void UnixChannel::StartWait(const std::shared_ptr<Binding>& binding) {
  std::weak_ptr<Binding> weak = binding;
  binding->socket.async_wait(asio::socket_base::wait_read,
                             [weak](const std::error_code& ec) {
                               if (!ec) OnReadable(weak);
                             });
}

// The binding may go away in any handler call (unbind, rebind, destroy), so
// it is looked up afresh for every message and never held across a call.
void UnixChannel::OnReadable(const std::weak_ptr<Binding>& weak) {
  for (int i = 0; i < kMaxReceivesPerWake; ++i) {
    std::shared_ptr<Binding> b = weak.lock();
    if (!b) return;
    // MSG_TRUNC makes recv report the datagram's real length, so a message
    // longer than the buffer is recognised and discarded, not cut short.
    const ssize_t n = ::recv(b->socket.native_handle(), b->buffer.data(),
                             b->buffer.size(), MSG_DONTWAIT | MSG_TRUNC);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (static_cast<size_t>(n) > b->buffer.size()) continue;
    std::string text(b->buffer.data(), static_cast<size_t>(n));
    Handler handler = b->owner->handler_;
    b.reset();
    if (!handler) continue;
    try {
      handler(text);
    } catch (...) {
      // The handler's own failure; the channel goes on receiving.
    }
  }
  if (std::shared_ptr<Binding> b = weak.lock()) StartWait(b);
}

}  // namespace lw
