// The real process on the simulated line, driven as the desktop application
// and the service manager drive it.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>

#include "e2e_util.h"

namespace lw::testing {
namespace {

class ProcessE2E : public ::testing::Test {
 protected:
  void Set(const std::string& section, const std::string& name,
           const std::string& value) {
    SetSetting(env_, section, name, value);
  }
  bool JournalHas(const std::string& text) {
    return env_.SysJournal().find(text) != std::string::npos;
  }
  bool WaitJournal(const std::string& text) {
    return WaitFor([&] { return JournalHas(text); });
  }
  // Sends `fields` on `channel` and returns what one listener on `reply`
  // printed (one JSON line), or "" when nothing came.
  std::string Ask(const std::vector<std::string>& fields, int reply) {
    const std::string out = env_.home() + "/listen.txt";
    const std::string dir = env_.runtime() + "/ch" + std::to_string(reply);
    const size_t before = Entries(dir);
    pid_t listener = env_.Spawn(
        "lwdctl",
        {"listen", std::to_string(reply), "--count", "1", "--timeout", "5"}, {},
        out);
    if (!WaitFor([&] { return Entries(dir) > before; })) return "";
    std::vector<std::string> args = {"send"};
    args.insert(args.end(), fields.begin(), fields.end());
    env_.Run("lwdctl", args);
    int status = 0;
    WaitExit(listener, &status);
    return ReadFile(out);
  }

  ProgramEnv env_;
};

TEST_F(ProcessE2E, ComesUpOpensTheLineAndObeysTheDesktop) {
  // given the three settings of a fresh telephony-mode home, expect the
  // start-up journal, LineStatus answers and an orderly end on UNLOAD
  MinimalSettings(env_);
  pid_t proc = env_.Spawn("linewarden-proc", {}, {}, env_.home() + "/out.txt");
  ASSERT_GT(proc, 0);
  ASSERT_TRUE(WaitJournal("OpenLine:Tapi1.LineOpen(0)->"));
  const std::string journal = env_.SysJournal();
  EXPECT_NE(journal.find(" : ->Opening Linewarden 1.0 Process(0)\r\n"),
            std::string::npos);
  EXPECT_NE(journal.find(" : ->Init Tapi->"), std::string::npos);

  EXPECT_EQ(
      Ask({"108", "HELLO"}, 107),
      "{\"channel\":107,\"text\":\"LineStatus\\r\\n0\\r\\n0\\r\\nFalse\"}\n");
  EXPECT_EQ(
      Ask({"108", "OFF"}, 107),
      "{\"channel\":107,\"text\":\"LineStatus\\r\\n0\\r\\n1\\r\\nFalse\"}\n");
  EXPECT_EQ(
      Ask({"108", "ON"}, 107),
      "{\"channel\":107,\"text\":\"LineStatus\\r\\n0\\r\\n0\\r\\nFalse\"}\n");

  // Speech: "MakeWave" writes an 8 kHz 16-bit mono sound file.
  const std::string wav = env_.home() + "/spoken.wav";
  ASSERT_EQ(env_.Run("lwdctl", {"send", "106", "MakeWave", "Hello there", wav}),
            0);
  ASSERT_TRUE(WaitFor([&] { return ReadFile(wav).size() > 1000; }));
  SF_INFO info{};
  SNDFILE* f = sf_open(wav.c_str(), SFM_READ, &info);
  ASSERT_NE(f, nullptr);
  sf_close(f);
  EXPECT_EQ(info.samplerate, 8000);
  EXPECT_EQ(info.channels, 1);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
  EXPECT_GT(info.frames, 4000);

  // A second instance ends at once, silently, and leaves the first alone.
  std::string second_out;
  EXPECT_EQ(env_.Run("linewarden-proc", {}, &second_out), 0);
  EXPECT_EQ(second_out, "");

  ASSERT_EQ(env_.Run("lwdctl", {"send", "105", "UNLOAD"}), 0);
  int status = 0;
  ASSERT_TRUE(WaitExit(proc, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_TRUE(JournalHas("CloseLine->"));
}

class NotifySocket {
 public:
  explicit NotifySocket(const std::string& path) : path_(path) {
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    (void)bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    timeval tv{0, 100000};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
  }
  ~NotifySocket() { close(fd_); }
  // Every notification received so far, in order.
  const std::vector<std::string>& Drain() {
    char buf[512];
    for (;;) {
      ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      got_.emplace_back(buf, static_cast<size_t>(n));
    }
    return got_;
  }
  bool WaitCount(size_t n) {
    return WaitFor([&] { return Drain().size() >= n; });
  }

 private:
  std::string path_;
  int fd_ = -1;
  std::vector<std::string> got_;
};

// Run by the shipped notify unit, with "ChkRunAsProc" = "1" (service mode) or
// without it (a plain process).
class UnderServiceManager : public ProcessE2E,
                            public ::testing::WithParamInterface<const char*> {
};

TEST_P(UnderServiceManager, ReportsItsStatesSurvivesReloadsAndStopsInOrder) {
  // given either mode under the service manager, expect start pending,
  // running, a re-report on SIGUSR1 and on SIGHUP with the process still
  // serving, then stop pending and stopped after the line was closed
  MinimalSettings(env_);
  if (*GetParam() != '\0')
    Set("Properties\\TabGeneral", "ChkRunAsProc", GetParam());
  NotifySocket notify(env_.home() + "/notify.sock");
  pid_t proc = env_.Spawn("linewarden-proc", {},
                          {"NOTIFY_SOCKET=" + env_.home() + "/notify.sock"},
                          env_.home() + "/out.txt");
  ASSERT_TRUE(notify.WaitCount(2));
  EXPECT_EQ(notify.Drain()[0], "STATUS=Starting");
  EXPECT_EQ(notify.Drain()[1], "READY=1\nSTATUS=Running");
  ASSERT_TRUE(WaitJournal("OpenLine:Tapi1.LineOpen(0)->"));

  kill(proc, SIGUSR1);
  ASSERT_TRUE(notify.WaitCount(3));
  kill(proc, SIGHUP);
  ASSERT_TRUE(notify.WaitCount(4));
  EXPECT_EQ(notify.Drain()[2], "READY=1\nSTATUS=Running");
  EXPECT_EQ(notify.Drain()[3], "READY=1\nSTATUS=Running");
  EXPECT_EQ(
      Ask({"108", "HELLO"}, 107),
      "{\"channel\":107,\"text\":\"LineStatus\\r\\n0\\r\\n0\\r\\nFalse\"}\n");

  kill(proc, SIGTERM);
  int status = 0;
  ASSERT_TRUE(WaitExit(proc, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto& got = notify.Drain();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[4], "STOPPING=1\nSTATUS=Stopping");
  EXPECT_EQ(got[5], "STATUS=Stopped");
  EXPECT_TRUE(JournalHas("CloseLine->"));
}

INSTANTIATE_TEST_SUITE_P(BothModes, UnderServiceManager,
                         ::testing::Values("1", ""));

TEST_F(ProcessE2E, ServiceModeFromAPromptSaysSoAndEnds) {
  Set("Properties\\TabGeneral", "ChkRunAsProc", "1");
  std::string out;
  EXPECT_EQ(env_.Run("linewarden-proc", {}, &out), 0);
  EXPECT_NE(out.find("This program must be started as a service."),
            std::string::npos)
      << out;
}

TEST_F(ProcessE2E, ProcessModeOnlyWithTheGcSwitchWhenAskedFor) {
  // given "ChkRunAsProc" = "0", expect an immediate silent end without "-gc"
  MinimalSettings(env_);
  Set("Properties\\TabGeneral", "ChkRunAsProc", "0");
  std::string out;
  EXPECT_EQ(env_.Run("linewarden-proc", {"-GC"}, &out), 0);
  EXPECT_EQ(out, "");
  EXPECT_EQ(env_.SysJournal(), "");
  pid_t proc =
      env_.Spawn("linewarden-proc", {"-gc"}, {}, env_.home() + "/out.txt");
  ASSERT_TRUE(WaitJournal("OpenLine:Tapi1.LineOpen(0)->"));
  kill(proc, SIGINT);
  int status = 0;
  ASSERT_TRUE(WaitExit(proc, &status));
}

}  // namespace
}  // namespace lw::testing
