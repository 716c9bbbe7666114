// What the libcurl controls (mail, webhook) share: transfers run one after
// another through curl_multi, driven by an Asio loop on a thread of the
// runner's own. curl tells which sockets to watch and when to wake it, and
// that loop runs the transfer a piece at a time when a socket is ready. The
// loop is not the process's main loop, because libcurl may wait for a
// server's answer without returning (for up to the `stall` limit); the main
// loop only receives the controls' events (MainLoopEvents), so a slow
// server never holds up the line, the channels or the web server.
//
// Limits: a server that takes longer than `connect` to accept the
// connection, or through which less than 1 byte a second moves for `stall`
// (a server that stops answering), or a transfer that takes longer than
// `total` in all, ends the transfer with a failure.
#pragma once

#include <curl/curl.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace lw {

struct CurlLimits {
  std::chrono::seconds connect{30};
  std::chrono::seconds stall{60};
  std::chrono::seconds total{600};
};

// Hands a control's events from the runner's thread to the main loop, where
// they run only while the control is still there.
class MainLoopEvents {
 public:
  explicit MainLoopEvents(asio::io_context& main_io) : main_io_(main_io) {}
  // Any thread.
  void Post(std::function<void()> event);
  // On the main loop: events still on their way are dropped.
  void Close() { *alive_ = false; }

 private:
  asio::io_context& main_io_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// What a control's transfers reach on the main loop: its handlers and the
// way there. Transfers keep it while they run.
template <typename Handlers>
struct ControlFront {
  explicit ControlFront(asio::io_context& main_io) : events(main_io) {}
  MainLoopEvents events;
  Handlers handlers;
  // Notes for the journal; never hold a password.
  std::function<void(const std::string&)> note;
};

// One transfer. Every member runs on the runner's thread.
class CurlTransfer {
 public:
  virtual ~CurlTransfer() = default;
  // Sets the transfer's own options on `easy` (the limits and the progress
  // function are set already); false = it cannot be prepared, and Failed
  // follows instead of a transfer.
  virtual bool Setup(CURL* easy) = 0;
  // `done` of `total` bytes sent.
  virtual void Progress(curl_off_t /*total*/, curl_off_t /*done*/) {}
  // The transfer has ended with libcurl's result; `easy` can still be asked
  // (the HTTP status).
  virtual void Done(CURL* easy, CURLcode code) = 0;
  // The transfer could not be prepared or started.
  virtual void Failed() = 0;
};

class CurlRunner {
 public:
  explicit CurlRunner(CurlLimits limits);
  // A transfer still on its way is abandoned: neither Done nor Failed.
  ~CurlRunner();
  CurlRunner(const CurlRunner&) = delete;
  CurlRunner& operator=(const CurlRunner&) = delete;

  // Queues a transfer; any thread. Transfers run in the order given.
  void Run(std::unique_ptr<CurlTransfer> transfer);

  struct Impl;

 private:
  asio::io_context io_;
  asio::executor_work_guard<asio::io_context::executor_type> work_;
  std::unique_ptr<Impl> impl_;
  std::thread thread_;
};

}  // namespace lw
