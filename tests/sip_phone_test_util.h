// The far end of the SIP line's tests against real peers: baresip, driven
// over its ctrl_tcp interface.
#pragma once

#include <sys/socket.h>

#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "e2e_util.h"

namespace lw::testing {

// A program of the system the test needs; the test fails without it, as
// scripts/setup installs it.
inline std::string Peer(const std::string& path) {
  EXPECT_EQ(access(path.c_str(), X_OK), 0)
      << path << " is missing: scripts/setup installs it";
  return path;
}

// baresip with one account ("Alice" <sip:5551234@`account`>`params`,
// answering calls at once unless `params` say otherwise), `voice` as what it
// says, what it hears written to dump/.
class Phone {
 public:
  Phone(const ProgramEnv& env, const std::string& account,
        const std::string& voice,
        const std::string& params = ";answermode=auto")
      : dir_(env.home() + "/baresip") {
    std::filesystem::create_directories(dir_ + "/dump");
    std::ifstream in(LW_SOURCE_DIR "/tests/sip/baresip.conf");
    const std::string pattern((std::istreambuf_iterator<char>(in)), {});
    std::ofstream(dir_ + "/accounts")
        << "\"Alice\" <sip:5551234@" << account << ">" << params << "\n";
    // baresip also binds ports next to its SIP port (TLS), which another
    // test may hold by then: on such a clash it starts again on new ports.
    for (int attempt = 0; attempt < 3; ++attempt) {
      sip_port_ = FreePort();
      ctrl_port_ = FreePort();
      std::string config = pattern;
      for (const auto& [field, value] :
           {std::pair<std::string, std::string>{"@SIP_PORT@",
                                                std::to_string(sip_port_)},
            {"@CTRL_PORT@", std::to_string(ctrl_port_)},
            {"@VOICE@", voice},
            {"@DUMP@", dir_ + "/dump"}})
        config = std::regex_replace(config, std::regex(field), value);
      std::ofstream(dir_ + "/config") << config;
      pid_ = SpawnProgram({Peer("/usr/bin/baresip"), "-f", dir_}, {},
                          dir_ + "/out.txt");
      if (WaitFor([&] { return (fd_ = Connect(ctrl_port_)) >= 0; },
                  std::chrono::seconds(5)))
        return;
      EndProgram(&pid_);
      if (ReadFile(dir_ + "/out.txt").find("Address already in use") ==
          std::string::npos)
        break;
    }
    ADD_FAILURE() << "baresip did not start: " << ReadFile(dir_ + "/out.txt");
  }
  ~Phone() {
    if (fd_ >= 0) close(fd_);
    EndProgram(&pid_);
  }
  // One command of the ctrl_tcp interface (a JSON netstring).
  void Command(const std::string& command, const std::string& params) {
    const std::string json = "{\"command\":\"" + command + "\",\"params\":\"" +
                             params + "\",\"token\":\"t\"}";
    const std::string netstring =
        std::to_string(json.size()) + ":" + json + ",";
    ASSERT_EQ(send(fd_, netstring.data(), netstring.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(netstring.size()));
  }
  // Waits until baresip reported `event` (a ctrl_tcp event type) `n` times.
  bool WaitEvent(const std::string& event, size_t n = 1) {
    return WaitFor([&] { return Count(Read(), "\"" + event + "\"") >= n; },
                   std::chrono::seconds(20));
  }
  // Waits until its account is registered (it registers before the test
  // connects, so no event tells).
  bool WaitRegistered() {
    return WaitFor([&] {
      Command("reginfo", "");
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
      return Read().find("mOK") != std::string::npos;
    });
  }
  // What baresip heard in its calls, one recording per call.
  std::vector<std::string> Heard() const {
    return FilesIn(dir_ + "/dump", "-dec.wav");
  }
  const std::string& events() const { return events_; }
  int sip_port() const { return sip_port_; }
  // What ctrl_tcp sent so far.
  const std::string& Read() {
    char buf[4096];
    for (ssize_t got; (got = recv(fd_, buf, sizeof buf, MSG_DONTWAIT)) > 0;)
      events_.append(buf, static_cast<size_t>(got));
    return events_;
  }

 private:
  std::string dir_;
  int ctrl_port_ = -1;
  int sip_port_ = -1;
  pid_t pid_ = -1;
  int fd_ = -1;
  std::string events_;
};

}  // namespace lw::testing
