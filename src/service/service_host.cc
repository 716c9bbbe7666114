#include "service/service_host.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <syslog.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#include <cstdlib>

#include "base/system.h"

namespace lw {

std::string ServiceStateNotification(int state) {
  switch (state) {
    case kServiceStartPending:
      return "STATUS=Starting";
    case kServiceRunning:
      return "READY=1\nSTATUS=Running";
    case kServiceStopPending:
      return "STOPPING=1\nSTATUS=Stopping";
    case kServiceStopped:
      return "STATUS=Stopped";
    default:
      return "STATUS=Unknown";
  }
}

ServiceHost::ServiceHost(asio::io_context& io)
    : stop_event_(io),
      started_event_(io),
      release_event_(io),
      thread_ended_(io) {}

ServiceHost::~ServiceHost() {
  if (thread_.joinable()) {
    release_event_.Set();
    if (release_fd_ >= 0) {
      uint64_t one = 1;
      (void)!write(release_fd_, &one, sizeof one);
    }
    thread_.join();
  }
  if (release_fd_ >= 0) close(release_fd_);
}

void ServiceHost::StartServiceThread() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGHUP);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  release_fd_ = eventfd(0, EFD_CLOEXEC);
  thread_ = std::thread([this] { ServiceThread(); });
}

void NotifyServiceManager(int state) {
  // Fails quietly (returns 0) when not started by the service manager.
  sd_notify(0, ServiceStateNotification(state).c_str());
}

void ServiceHost::SetServiceState(int state) {
  if (state != 0) state_.store(state);
  NotifyServiceManager(state_.load());
}

void ServiceHost::ServiceThread() {
  // The dispatcher refuses a process the service manager did not start.
  const char* notify = std::getenv("NOTIFY_SOCKET");
  if (notify != nullptr && *notify != '\0') ServiceMain();
  thread_ended_.Set();
}

void ServiceHost::ServiceMain() {
  SetServiceState(kServiceStartPending);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGUSR1);
  sigaddset(&set, SIGHUP);
  const int sfd = signalfd(-1, &set, SFD_CLOEXEC);
  started_event_.Set();
  for (;;) {
    if (release_event_.IsSet()) break;
    pollfd fds[2] = {{sfd, POLLIN, 0}, {release_fd_, POLLIN, 0}};
    const int n = poll(fds, 2, -1);
    if (n < 0) continue;
    if (fds[1].revents & POLLIN) break;
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (read(sfd, &info, sizeof info) == sizeof info)
        ServiceHandler(static_cast<int>(info.ssi_signo));
    }
  }
  if (sfd >= 0) close(sfd);
}

void ServiceHost::ServiceHandler(int signal) {
  if (signal == SIGTERM || signal == SIGINT) {
    SetServiceState(kServiceStopPending);
    stop_event_.Set();
  } else {
    // Interrogate (SIGUSR1, SIGHUP): report the state again, unchanged.
    SetServiceState(0);
  }
}

void ServiceHost::JoinServiceThread() {
  if (!thread_.joinable()) return;
  if (release_event_.IsSet() && release_fd_ >= 0) {
    uint64_t one = 1;
    (void)!write(release_fd_, &one, sizeof one);
  }
  thread_.join();
}

void ShowMessage(const std::string& text) {
  ShowOnConsoleAndSystemLog(LOG_INFO, text);
}

void ShowError(const std::string& text) {
  ShowOnConsoleAndSystemLog(LOG_ERR, text);
}

}  // namespace lw
