// Runs the real programs (linewarden-proc, lwdctl) from the build folder in a
// home and runtime folder of their own, for end-to-end tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "loopback.h"
#include "temp_dir.h"

extern char** environ;

namespace lw::testing {

inline std::string BinDir() {
  const char* bin = std::getenv("LW_TEST_BIN");
  return bin != nullptr ? bin : "build/bin";
}

class ProgramEnv {
 public:
  ProgramEnv() : home_(dir_.path() + "/home"), runtime_(dir_.path() + "/run") {
    std::string cmd = "mkdir -p '" + home_ + "/Journal'";
    if (std::system(cmd.c_str()) != 0) std::abort();
  }
  const std::string& home() const { return home_; }
  const std::string& runtime() const { return runtime_; }

  std::vector<std::string> Environment(
      const std::vector<std::string>& extra = {}) const {
    // `extra` comes first: the first entry of a name is the one that counts,
    // so a test can point LINEWARDEN_HOME or LINEWARDEN_RUNTIME elsewhere.
    std::vector<std::string> env = extra;
    for (char** e = environ; *e != nullptr; ++e) {
      std::string s(*e);
      if (s.rfind("LINEWARDEN_", 0) == 0 || s.rfind("NOTIFY_SOCKET=", 0) == 0)
        continue;
      env.push_back(s);
    }
    env.push_back("LINEWARDEN_HOME=" + home_);
    env.push_back("LINEWARDEN_RUNTIME=" + runtime_);
    return env;
  }

  // Starts a program of the build folder; returns its pid (stdout and stderr
  // go to `out_file` when given).
  pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& extra_env = {},
              const std::string& out_file = "") const {
    std::vector<std::string> argv_s = {BinDir() + "/" + program};
    argv_s.insert(argv_s.end(), args.begin(), args.end());
    return SpawnProgram(argv_s, Environment(extra_env), out_file);
  }

  // Runs a program to its end; returns its exit status (-1 when it failed
  // to start or was killed) and fills `output`.
  int Run(const std::string& program, const std::vector<std::string>& args,
          std::string* output = nullptr) const {
    const std::string out = dir_.path() + "/run-output.txt";
    const pid_t pid = Spawn(program, args, {}, out);
    if (pid < 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    if (output != nullptr) *output = ReadFile(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::string SysJournal() const {
    std::string all;
    std::string cmd = "cat '" + home_ + "'/Journal/*_Sys.txt 2>/dev/null";
    if (FILE* p = popen(cmd.c_str(), "r")) {
      char buf[4096];
      size_t n;
      while ((n = fread(buf, 1, sizeof buf, p)) > 0) all.append(buf, n);
      pclose(p);
    }
    return all;
  }

 private:
  TempDir dir_;
  std::string home_;
  std::string runtime_;
};

// Waits for `pid` to end within `limit`; true when it did (status filled).
inline bool WaitExit(
    pid_t pid, int* status,
    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  return WaitFor([&] { return waitpid(pid, status, WNOHANG) == pid; }, limit);
}

}  // namespace lw::testing
