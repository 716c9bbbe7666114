// A real SMTP server on loopback for the tests: tests/smtp_sink.py (aiosmtpd)
// in a folder of its own, where it leaves every mail it accepted, parsed.
// Needs LW_SOURCE_DIR.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <string>
#include <vector>

#include "process_runner.h"
#include "temp_dir.h"

namespace lw::testing {

class SmtpSink {
 public:
  // `options`: "--auth", "USER:PASS" or "--drop-at-rcpt".
  explicit SmtpSink(std::vector<std::string> options = {}) {
    std::vector<std::string> args = {
        "/usr/bin/python3", LW_SOURCE_DIR "/tests/smtp_sink.py", dir_.path()};
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) !=
        0)
      pid_ = -1;
    WaitFor([&] { return !ReadFile(dir_ / "port").empty(); });
    port_ = ReadFile(dir_ / "port");
  }
  ~SmtpSink() { Stop(); }

  // "127.0.0.1:<port>", as "txtSMTP" takes it; ":0" when it did not start.
  std::string server() const {
    return "127.0.0.1:" + (port_.empty() ? "0" : port_);
  }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  // Waits for the n-th mail (from 1); false when it did not come.
  bool WaitMail(
      int n, std::chrono::milliseconds limit = std::chrono::seconds(10)) const {
    return WaitFor([&] { return Has(n); }, limit);
  }
  bool Has(int n) const {
    return std::filesystem::exists(dir_ / (std::to_string(n) + "/done"));
  }
  // One part of the n-th mail: "mail_from", "rcpt_tos", "from", "to",
  // "subject", "text", "attachment_name", "attachment_type", "attachment",
  // "raw.eml".
  std::string Part(int n, const std::string& part) const {
    return ReadFile(dir_ / (std::to_string(n) + "/" + part));
  }

 private:
  TempDir dir_;
  pid_t pid_ = -1;
  std::string port_;
};

}  // namespace lw::testing
