#include "drivers/unix_channel/unix_channel.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio/local/datagram_protocol.hpp>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

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
  if (path.size() >= sizeof addr->sun_path) return false;
  std::memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  std::memcpy(addr->sun_path, path.data(), path.size());
  *len =
      static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() + 1);
  return true;
}

bool IsSocket(DIR* dir, const dirent* e) {
  if (e->d_type == DT_SOCK) return true;
  if (e->d_type != DT_UNKNOWN) return false;
  struct stat st;
  return ::fstatat(::dirfd(dir), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISSOCK(st.st_mode);
}

}  // namespace

struct UnixChannel::Binding {
  Binding(asio::io_context& io, UnixChannel* owner_in, int32_t channel_in)
      : owner(owner_in), channel(channel_in), socket(io) {}
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
};

UnixChannel::UnixChannel(asio::io_context& io, std::string runtime_dir)
    : io_(io), runtime_dir_(std::move(runtime_dir)) {}

UnixChannel::~UnixChannel() { binding_.reset(); }

std::string UnixChannel::ChannelFolder(const std::string& runtime_dir,
                                       int32_t channel) {
  return runtime_dir + "/ch" + std::to_string(channel);
}

std::string UnixChannel::socket_path() const {
  return binding_ ? binding_->dir + "/" + binding_->name : std::string();
}

bool UnixChannel::OpenChannel(int32_t channel) {
  if (binding_ && binding_->channel == channel) {
    struct stat st;
    if (::fstatat(binding_->dir_fd, binding_->name.c_str(), &st,
                  AT_SYMLINK_NOFOLLOW) == 0)
      return true;
  }
  binding_.reset();
  binding_ = Bind(channel);
  return binding_ != nullptr;
}

std::shared_ptr<UnixChannel::Binding> UnixChannel::Bind(int32_t channel) {
  if (runtime_dir_.empty()) return nullptr;
  if (::mkdir(runtime_dir_.c_str(), 0700) != 0 && errno != EEXIST)
    return nullptr;
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
  Binding& b = *binding_;
  const int list_fd =
      ::openat(b.dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (list_fd < 0) return;
  DIR* dir = ::fdopendir(list_fd);
  if (dir == nullptr) {
    ::close(list_fd);
    return;
  }
  // Each message leaves through a socket of its own. The datagrams a party
  // that stopped reading keeps in its queue stay charged to the socket that
  // sent them; with one long-lived sending socket they would use up its room
  // and every later message would be refused for all parties.
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ::closedir(dir);
    return;
  }
  SetBuffer(fd, SO_SNDBUF);
  while (const dirent* e = ::readdir(dir)) {
    if (e->d_name[0] == '.' || b.name == e->d_name || !IsSocket(dir, e))
      continue;
    sockaddr_un addr;
    socklen_t len;
    if (!MakeAddress(b.dir, b.dir_fd, e->d_name, &addr, &len)) continue;
    ssize_t sent;
    do {
      sent = ::sendto(fd, text.data(), text.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                      reinterpret_cast<const sockaddr*>(&addr), len);
    } while (sent < 0 && errno == EINTR);
    // Refused: nobody is bound to that file any more; its party died
    // without unbinding. Every other failure (a full queue above all) drops
    // the message for that party only.
    if (sent < 0 && errno == ECONNREFUSED)
      ::unlinkat(::dirfd(dir), e->d_name, 0);
  }
  ::close(fd);
  ::closedir(dir);
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
