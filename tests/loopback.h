// Real peers on loopback, shared by the tests and the benchmarks: a free
// TCP port, a client connection, a datagram socket bound in a folder, and an
// SMTP server (tests/smtp_sink.py,
// aiosmtpd) that leaves every mail it accepted, parsed, in a folder of its
// own. The SMTP server needs LW_SOURCE_DIR.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "devices/mail.h"
#include "temp_dir.h"

extern char** environ;

namespace lw::testing {

// Polls `done` every 20 ms for up to `limit`; true once it holds.
inline bool WaitFor(
    const std::function<bool()>& done,
    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Starts argv[0] with `env` (this process's environment when empty), its
// standard output and error going to `out_file` when given; returns its pid,
// -1 when it did not start.
inline pid_t SpawnProgram(std::vector<std::string> argv,
                          std::vector<std::string> env = {},
                          const std::string& out_file = "") {
  std::vector<char*> args, envp;
  for (auto& a : argv) args.push_back(a.data());
  for (auto& e : env) envp.push_back(e.data());
  args.push_back(nullptr);
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  if (!out_file.empty()) {
    posix_spawn_file_actions_addopen(&fa, 1, out_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&fa, 1, 2);
  }
  pid_t pid = -1;
  if (posix_spawn(&pid, args[0], &fa, nullptr, args.data(),
                  env.empty() ? environ : envp.data()) != 0)
    pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  return pid;
}

inline sockaddr_in LoopbackAddress(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A port nobody listens on now.
inline int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = LoopbackAddress(0);
  socklen_t len = sizeof a;
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), len) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
    std::abort();
  close(fd);
  return ntohs(a.sin_port);
}

// A connection to `port` on loopback; -1 when nobody listens there.
inline int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in a = LoopbackAddress(port);
  if (connect(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A datagram socket bound at `path` that reads only when asked: a party
// that never reads by itself, or (once closed) one that died without
// unbinding.
class DatagramSocket {
 public:
  explicit DatagramSocket(const std::string& path)
      : fd_(socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~DatagramSocket() { Close(); }
  DatagramSocket(const DatagramSocket&) = delete;
  DatagramSocket& operator=(const DatagramSocket&) = delete;
  bool bound() const { return bound_; }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  // Takes every message queued now, without waiting.
  std::vector<std::string> Drain() {
    std::vector<std::string> out;
    std::vector<char> buf(size_t{64} * 1024);
    for (ssize_t n; (n = recv(fd_, buf.data(), buf.size(), MSG_DONTWAIT)) >= 0;)
      out.emplace_back(buf.data(), static_cast<size_t>(n));
    return out;
  }

 private:
  int fd_;
  bool bound_ = false;
};

// A mail of text only, as the line sends one, to `server` ("host:port").
inline MailMessage MailTo(const std::string& server) {
  MailMessage m;
  m.server = server;
  m.from = "line@example.org";
  m.from_name = "Linewarden 1.0";
  m.to = "owner@example.org";
  m.subject = "Voice Message from TESTCALLER";
  m.body = "5 5 5 1 2 3 4 at 10:15 AM";
  return m;
}

#ifdef LW_SOURCE_DIR
// A server of the tests in python on loopback (tests/NAME): it writes its
// port to DIR/port and each request it takes to the folder DIR/N (from 1),
// DIR/N/done last.
class PythonSink {
 public:
  PythonSink(const char* name, std::vector<std::string> options) {
    options.insert(options.begin(),
                   {"/usr/bin/python3",
                    std::string(LW_SOURCE_DIR "/tests/") + name, dir_.path()});
    pid_ = SpawnProgram(options);
    WaitFor([&] { return !ReadFile(dir_ / "port").empty(); });
    port_ = ReadFile(dir_ / "port");
  }
  ~PythonSink() { Stop(); }

  // "127.0.0.1:<port>"; ":0" when it did not start.
  std::string server() const {
    return "127.0.0.1:" + (port_.empty() ? "0" : port_);
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  // Waits for the n-th request (from 1); false when it did not come.
  bool Wait(int n) const {
    return WaitFor([&] { return Has(n); });
  }
  bool Has(int n) const {
    return std::filesystem::exists(dir_ / (std::to_string(n) + "/done"));
  }
  // One file of the n-th request.
  std::string Part(int n, const std::string& part) const {
    return ReadFile(dir_ / (std::to_string(n) + "/" + part));
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  std::string port_;
};

// aiosmtpd (smtp_sink.py); a mail's parts: "mail_from", "rcpt_tos", "from",
// "subject", "text", "attachment_name", "attachment_type", "attachment".
// `options`: "--auth", "USER:PASS" for a server that wants a login.
class SmtpSink : public PythonSink {
 public:
  explicit SmtpSink(std::vector<std::string> options = {})
      : PythonSink("smtp_sink.py", std::move(options)) {}
  bool WaitMail(int n) const { return Wait(n); }
};

// python's http.server (http_sink.py); a request's parts: "request",
// "headers", "body". `options`: "--status", "500"; "--tls", CERT, KEY.
class HttpSink : public PythonSink {
 public:
  explicit HttpSink(std::vector<std::string> options = {})
      : PythonSink("http_sink.py", std::move(options)) {}
};
#endif

}  // namespace lw::testing
