// Running under the service manager. Service mode means: started by systemd
// as a Type=notify unit. A watcher thread plays the service dispatcher: it
// reports "start pending", signals that it is up, turns SIGTERM and SIGINT
// into a stop request and SIGUSR1 and SIGHUP into a re-report of the state
// (the unit's reload), and ends once
// the main thread releases it. When the process was not started by the
// service manager (no NOTIFY_SOCKET), the thread ends at once, as a refused
// dispatcher does.
//
// The two threads share only the three events and the current state.
#pragma once

#include <asio/io_context.hpp>
#include <atomic>
#include <string>
#include <thread>

#include "service/wait_for_objects.h"

namespace lw {

// The service states reported.
enum ServiceState : int {
  kServiceStopped = 1,
  kServiceStartPending = 2,
  kServiceStopPending = 3,
  kServiceRunning = 4,
};

// The text sent to the service manager for a state.
std::string ServiceStateNotification(int state);

// Sends that text; nothing happens when the service manager did not start
// the process. A plain process under the service manager reports its states
// this way, so a notify unit works in both modes.
void NotifyServiceManager(int state);

class ServiceHost {
 public:
  explicit ServiceHost(asio::io_context& io);
  ~ServiceHost();
  ServiceHost(const ServiceHost&) = delete;
  ServiceHost& operator=(const ServiceHost&) = delete;

  // Blocks SIGTERM, SIGINT, SIGUSR1 and SIGHUP in the calling thread (so in
  // every thread made after it) and starts the watcher thread. Call before any
  // other thread exists.
  void StartServiceThread();

  // SetServiceState: when `state` is not 0 it becomes the current state; then
  // the current state is reported. Safe from both threads.
  void SetServiceState(int state);
  int state() const { return state_.load(); }

  ManualResetEvent& stop_event() { return stop_event_; }
  ManualResetEvent& started_event() { return started_event_; }
  ManualResetEvent& release_event() { return release_event_; }
  // Signalled when the watcher thread has ended.
  ManualResetEvent& thread_ended() { return thread_ended_; }

  // Joins the watcher thread (after release, or when it ended by itself).
  void JoinServiceThread();

 private:
  void ServiceThread();
  void ServiceMain();
  void ServiceHandler(int signal);

  ManualResetEvent stop_event_;
  ManualResetEvent started_event_;
  ManualResetEvent release_event_;
  ManualResetEvent thread_ended_;
  std::atomic<int> state_{0};
  int release_fd_ = -1;
  std::thread thread_;
};

// Shows a message the way the service entry shows its message boxes: on
// standard error and in the system log, caption "Linewarden Proc".
void ShowMessage(const std::string& text);

// The same for a failure that stops the process: logged as an error.
void ShowError(const std::string& text);

}  // namespace lw
