#include "drivers/curl/curl_runner.h"

#include <sys/socket.h>

#include <algorithm>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <deque>
#include <map>
#include <mutex>
#include <set>

namespace lw {

namespace {

std::once_flag curl_init_once;

}  // namespace

void MainLoopEvents::Post(std::function<void()> event) {
  asio::post(main_io_, [alive = alive_, event = std::move(event)] {
    if (*alive) event();
  });
}

// Everything below runs on the runner's own thread, in its own io_context.
struct CurlRunner::Impl {
  Impl(asio::io_context& io, CurlLimits limits)
      : io(io), limits(limits), timer(io) {
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
    EndCurrent();
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
    Impl& impl = *static_cast<Impl*>(self);
    if (impl.current) impl.current->Progress(ultotal, ulnow);
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

  // The easy handle goes before the transfer: it points into what the
  // transfer owns (MIME parts, header lists).
  void EndCurrent() {
    if (easy != nullptr) {
      curl_multi_remove_handle(multi, easy);
      curl_easy_cleanup(easy);
      easy = nullptr;
    }
    current.reset();
  }

  void Finished() {
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
      if (msg->msg != CURLMSG_DONE || !current || msg->easy_handle != easy)
        continue;
      current->Done(easy, msg->data.result);
      EndCurrent();
      StartNext();
    }
  }

  void StartNext() {
    while (!current && !queue.empty()) {
      current = std::move(queue.front());
      queue.pop_front();
      easy = curl_easy_init();
      if (easy == nullptr || !Setup() ||
          curl_multi_add_handle(multi, easy) != CURLM_OK) {
        if (easy != nullptr) curl_easy_cleanup(easy);
        easy = nullptr;
        current->Failed();
        current.reset();
      }
    }
  }

  bool Setup() {
    CURL* e = easy;
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
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
    return current->Setup(e);
  }

  // Wakes a transfer that waits for its server inside curl, so the thread
  // can end: curl may wait for an answer without returning to the loop.
  void ShutDownSockets() {
    std::lock_guard lock(fds_mutex);
    for (int fd : open_fds) ::shutdown(fd, SHUT_RDWR);
  }

  asio::io_context& io;
  std::mutex fds_mutex;
  std::set<int> open_fds;
  CurlLimits limits;
  asio::steady_timer timer;
  CURLM* multi = nullptr;
  std::map<curl_socket_t, std::unique_ptr<struct SocketWatch>> sockets;
  std::deque<std::unique_ptr<CurlTransfer>> queue;
  std::unique_ptr<CurlTransfer> current;
  CURL* easy = nullptr;  // the current transfer's
  bool closing = false;
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

CurlRunner::CurlRunner(CurlLimits limits)
    : work_(asio::make_work_guard(io_)),
      impl_(std::make_unique<Impl>(io_, limits)),
      thread_([this] { io_.run(); }) {}

CurlRunner::~CurlRunner() {
  impl_->ShutDownSockets();
  asio::post(io_, [this] { impl_.reset(); });
  work_.reset();
  thread_.join();
}

void CurlRunner::Run(std::unique_ptr<CurlTransfer> transfer) {
  // Asio copies its handlers: the transfer travels in a shared holder.
  auto held =
      std::make_shared<std::unique_ptr<CurlTransfer>>(std::move(transfer));
  asio::post(io_, [impl = impl_.get(), held] {
    impl->queue.push_back(std::move(*held));
    impl->StartNext();
  });
}

}  // namespace lw
