// The real process as the service manager and the desktop application
// drive it, started in broken surroundings, and lwdctl run by the
// administrator against a home that belongs to the service's user.
#include <gtest/gtest.h>
#include <pwd.h>

#include <cstring>
#include <optional>
#include <random>
#include <tuple>
#include <utility>

#include "e2e_util.h"
#include "journal/regional.h"

namespace lw::testing {
namespace {

namespace fs = std::filesystem;

// The service manager's end of NOTIFY_SOCKET.
class NotifySocket : public DatagramSocket {
 public:
  using DatagramSocket::DatagramSocket;
  // Every notification received so far, in order.
  const std::vector<std::string>& Drain() {
    for (std::string& m : DatagramSocket::Drain()) got_.push_back(std::move(m));
    return got_;
  }
  bool WaitCount(size_t n) {
    return WaitFor([&] { return Drain().size() >= n; });
  }

 private:
  std::vector<std::string> got_;
};

// "ChkRunAsProc" = "1" (service mode), or "0" with the "-gc" switch (a
// plain process), under the service manager's notify protocol.
class ServiceManagerE2E : public ::testing::TestWithParam<const char*> {};

TEST_P(ServiceManagerE2E, ReportsItsStatesSurvivesReloadsAndStopsInOrder) {
  // given either mode, expect start pending, running, a re-report on
  // SIGUSR1 and on SIGHUP with the process still serving, a second instance
  // ending at once and silently (one on the same home with another runtime
  // folder with one line and status 1), then stop pending and stopped after the
  // line was closed
  ProgramEnv env;
  MinimalSettings(env);
  env.Set("Properties\\TabGeneral", "ChkRunAsProc", GetParam());
  NotifySocket notify(env.home() + "/notify.sock");
  std::vector<std::string> args;
  if (*GetParam() == '0') args.push_back("-gc");
  pid_t proc = env.Spawn("linewarden-proc", args,
                         {"NOTIFY_SOCKET=" + env.home() + "/notify.sock"},
                         env.home() + "/out");
  ASSERT_TRUE(notify.WaitCount(2));
  EXPECT_EQ(notify.Drain()[0], "STATUS=Starting");
  EXPECT_EQ(notify.Drain()[1], "READY=1\nSTATUS=Running");
  ASSERT_TRUE(
      WaitFor([&] { return env.Journalled("OpenLine:Tapi1.LineOpen(0)->"); }));
  EXPECT_TRUE(env.Journalled(" : ->Opening Linewarden 1.0 Process(0)\r\n"));

  kill(proc, SIGUSR1);
  ASSERT_TRUE(notify.WaitCount(3));
  kill(proc, SIGHUP);
  ASSERT_TRUE(notify.WaitCount(4));
  EXPECT_EQ(notify.Drain()[2], "READY=1\nSTATUS=Running");
  EXPECT_EQ(notify.Drain()[3], "READY=1\nSTATUS=Running");
  Listener listener(env, {"107"}, {"--count", "1", "--timeout", "5"});
  ASSERT_EQ(env.Run("lwdctl", {"send", "108", "HELLO"}), 0);
  int status = 0;
  ASSERT_TRUE(listener.Wait(&status));
  EXPECT_EQ(
      listener.Text(),
      "{\"channel\":107,\"text\":\"LineStatus\\r\\n0\\r\\n0\\r\\nFalse\"}\n");
  std::string second;
  EXPECT_EQ(env.Run("linewarden-proc", {"-gc"}, &second), 0);
  EXPECT_EQ(second, "");
  // Another runtime folder on the same home: one clear line, status 1.
  const std::string out = env.home() + "/third";
  const pid_t third =
      env.Spawn("linewarden-proc", args,
                {"LINEWARDEN_RUNTIME=" + env.home() + "/run2"}, out);
  ASSERT_TRUE(WaitExit(third, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1);
  EXPECT_EQ(
      ReadFile(out),
      "Linewarden Proc: Another linewarden-proc runs on the home folder " +
          env.home() +
          " (with another runtime folder); nothing "
          "started.\n");

  kill(proc, SIGTERM);
  ASSERT_TRUE(WaitExit(proc, &status));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  const auto& got = notify.Drain();
  ASSERT_EQ(got.size(), 6u);
  EXPECT_EQ(got[4], "STOPPING=1\nSTATUS=Stopping");
  EXPECT_EQ(got[5], "STATUS=Stopped");
  EXPECT_TRUE(env.Journalled("CloseLine->"));
}

INSTANTIATE_TEST_SUITE_P(BothModes, ServiceManagerE2E,
                         ::testing::Values("1", "0"));

// A store the way lwdctl leaves it, cut to half its length.
std::string TruncatedStore() {
  ProgramEnv env;
  env.Set("Properties\\TabLog", "chkLogSys", "1");
  const std::string bytes = ReadFile(env.home() + "/registry.db");
  return bytes.substr(0, bytes.size() / 2);
}

std::string RandomBytes() {
  std::mt19937 gen(12);
  std::string bytes(3000, '\0');
  for (char& c : bytes) c = static_cast<char>(gen());
  return bytes;
}

struct StartCase {
  const char* name;
  std::vector<std::string> args;
  std::string env;  // NAME=VALUE for the run, "%" standing for the home
  std::optional<std::string> store;  // home/registry.db before the run
  const char* run_as_proc;           // "ChkRunAsProc" set first, or nullptr
  int status;
  std::vector<std::string> says;  // each in the output; none: no output
};

TEST(StartupE2E, EndsAtOnceWithOneClearLineAndTouchesNothing) {
  // given help requests, a mode that does not fit and unusable
  // surroundings, expect the answer or one line naming the fault, no
  // process left running, nothing journalled, no store created and a broken
  // store left byte for byte as it was
  const std::string kOpen = "The settings store cannot be opened";
  const std::string truncated = TruncatedStore();
  ASSERT_GT(truncated.size(), 1000u);
  // clang-format off
  const std::vector<StartCase> cases = {
      {"help", {"--help"}, "", {}, {}, 0, {"Usage: linewarden-proc", "-gc"}},
      {"version", {"--version"}, "", {}, {}, 0, {"Linewarden 1.0"}},
      {"service mode from a prompt", {}, "", {}, "1", 0, {"This program must be started as a service."}},
      {"process mode without -gc", {"-GC"}, "", {}, "0", 0, {}},
      {"home missing", {}, "LINEWARDEN_HOME=%/gone", {}, {}, 1, {"The home folder", "/gone does not exist"}},
      {"runtime parent missing", {}, "LINEWARDEN_RUNTIME=%/no/run", {}, {}, 1, {"The runtime folder cannot be made", "/no/run"}},
      {"store is a folder", {}, "LINEWARDEN_REGISTRY=%/Journal", {}, {}, 1, {kOpen, "/Journal"}},
      {"random bytes", {}, "", RandomBytes(), {}, 1, {kOpen, "/registry.db", "lwdctl reg import"}},
      {"truncated store", {}, "", truncated, {}, 1, {kOpen, "/registry.db"}},
      {"empty store", {}, "", "", {}, 1, {kOpen, "/registry.db", "empty"}},
  };
  // clang-format on
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramEnv env;
    const std::string store = env.home() + "/registry.db";
    if (c.store) std::ofstream(store, std::ios::binary) << *c.store;
    if (c.run_as_proc != nullptr) {
      MinimalSettings(env);
      env.Set("Properties\\TabGeneral", "ChkRunAsProc", c.run_as_proc);
    }
    std::vector<std::string> extra;
    if (!c.env.empty()) {
      extra.push_back(c.env);
      extra.back().replace(extra.back().find('%'), 1, env.home());
    }
    const std::string out_file = env.home() + "/../out.txt";
    const pid_t pid = env.Spawn("linewarden-proc", c.args, extra, out_file);
    int status = 0;
    if (!WaitExit(pid, &status)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      ADD_FAILURE() << "the process ran on";
      continue;
    }
    const std::string out = ReadFile(out_file);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status)
        << status << "\n"
        << out;
    for (const std::string& text : c.says) EXPECT_THAT(out, HasSubstr(text));
    if (c.says.empty()) {
      EXPECT_EQ(out, "");
    }
    // A failure is one line (on standard error and in the system log).
    if (c.status != 0) {
      EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    }
    if (c.store) {
      EXPECT_EQ(ReadFile(store), *c.store);
    } else if (c.run_as_proc == nullptr) {
      EXPECT_FALSE(fs::exists(store));
    }
    EXPECT_EQ(env.Journal(), "");
  }
}

TEST(StartupE2E, RootKeepsTheServiceUsersStoreItsOwn) {
  // given root setting a value in a home that belongs to another user,
  // expect lwdctl to name that user and the new store to be that user's,
  // owner-only, also after a second change
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || nobody == nullptr) GTEST_SKIP() << "needs root";
  ProgramEnv env;
  ASSERT_EQ(chown(env.home().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  for (const char* value : {"1", "0"}) {
    std::string out;
    ASSERT_EQ(
        env.Run("lwdctl",
                {"reg", "set", "Properties\\TabLog", "chkLogSys", value}, &out),
        0)
        << out;
    EXPECT_THAT(out, HasSubstr("to user nobody"));
    struct stat st {};
    ASSERT_EQ(stat((env.home() + "/registry.db").c_str(), &st), 0);
    EXPECT_EQ(std::tuple(st.st_uid, st.st_gid, st.st_mode & 07777),
              std::tuple(nobody->pw_uid, nobody->pw_gid, 0600u));
  }
}

TEST(ChannelBurstE2E, EveryCommandOfABurstIsAnsweredToEveryListenerInOrder) {
  // given 2,000 commands on 108 sent back to back (1,998 "HELLO" with an
  // "OFF" and an "ON" among them), one listener on 107 reading throughout and
  // one stopped until the burst is over, expect 2,000 replies at each, in
  // the order sent, and no journalled loss
  ProgramEnv env;
  MinimalSettings(env);
  pid_t proc = -1;
  ASSERT_TRUE(StartProcess(env, &proc));
  const std::vector<std::string> options = {"--count", "2000", "--timeout",
                                            "60"};
  Listener reader(env, {"107"}, options);
  Listener late(env, {"107"}, options);
  int status = 0;
  kill(late.pid(), SIGSTOP);
  ASSERT_EQ(waitpid(late.pid(), &status, WUNTRACED), late.pid());

  EXPECT_EQ(env.Run("lwdctl", {"send", "--repeat", "1000", "108", "HELLO"}), 0);
  EXPECT_EQ(env.Run("lwdctl", {"send", "108", "OFF"}), 0);
  EXPECT_EQ(env.Run("lwdctl", {"send", "--repeat", "998", "108", "HELLO"}), 0);
  EXPECT_EQ(env.Run("lwdctl", {"send", "108", "ON"}), 0);
  ASSERT_TRUE(reader.Wait(&status, std::chrono::seconds(60)));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  kill(late.pid(), SIGCONT);
  ASSERT_TRUE(late.Wait(&status, std::chrono::seconds(60)));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Line on ("0") for the first 1,000 replies, off from "OFF" on, on again
  // at the last.
  std::string expected;
  for (int i = 0; i < 2000; ++i)
    expected +=
        std::string("{\"channel\":107,\"text\":\"LineStatus\\r\\n0\\r\\n") +
        (i < 1000 || i == 1999 ? '0' : '1') + "\\r\\nFalse\"}\n";
  EXPECT_TRUE(reader.Text() == expected);
  EXPECT_TRUE(late.Text() == expected);
  EXPECT_FALSE(env.Journalled("MessageChannel"));
  EndProgram(&proc);
}

TEST(AutoModeE2E, LineFollowsAWindowOpeningAndClosingSecondsAfterStartUp) {
  // given "cmbLineStat" = "2" and a window from two to six seconds after
  // start-up, expect channel 107 to show the line open at start-up, closed
  // at the first tick, open when the window begins and closed when it ends,
  // but only once an outgoing call across that end is over, and a call made
  // after that finding the line closed
  ProgramEnv env;
  MinimalSettings(env);
  env.Set("Properties\\TabLineStat", "cmbLineStat", "2");
  // Started as a second begins, so that the first tick comes before the
  // window whatever the start-up takes up to a second.
  const time_t start = time(nullptr) + 2;
  tm t{};
  localtime_r(&start, &t);
  for (const auto& [name, s] : {std::pair{"txtTimeOn", 2}, {"txtTimeOff", 6}})
    env.Set("Properties\\TabLineStat", name,
            LongTimeText(FromCivilSeconds(start + t.tm_gmtoff + s)));
  Listener listener(env, {"107"});
  WaitFor([&] { return time(nullptr) >= start; });
  pid_t proc = -1;
  ASSERT_TRUE(StartProcess(env, &proc));
  ASSERT_TRUE(WaitFor([&] { return Count(listener.Text(), "Line") >= 3; }));
  const std::string answer = env.home() + "/answer.txt";
  env.Spawn("lwdctl", {"phone", "answer", "--hangup-after", "5"}, {}, answer);
  ASSERT_TRUE(WaitFor([&] { return !ReadFile(answer).empty(); }));
  ASSERT_EQ(env.Run("lwdctl", {"send", "108", "CallOut", "5554444"}), 0);
  ASSERT_TRUE(WaitFor([&] { return Count(listener.Text(), "Line") >= 4; }));
  EXPECT_THAT(ReadFile(answer), HasSubstr(R"("hangup","by":"caller")"));
  std::string out;
  env.Run("lwdctl", {"phone", "call", "--rings", "1", "--ring-interval", "0.1"},
          &out);
  EXPECT_THAT(out, HasSubstr("\"line_open\":false"));
  EXPECT_EQ(listener.Text(),
            R"({"channel":107,"text":"LineStatus\r\n0\r\n0\r\nTrue"}
{"channel":107,"text":"LineStatus\r\n0\r\n1\r\nTrue"}
{"channel":107,"text":"LineStatus\r\n0\r\n0\r\nTrue"}
{"channel":107,"text":"Tapi_Dialing\r\n0"}
{"channel":107,"text":"Tapi_Connected\r\n0"}
{"channel":107,"text":"Tapi_Idle\r\n0\r\n1"}
{"channel":107,"text":"LineStatus\r\n0\r\n1\r\nTrue"}
)");
  EndProgram(&proc);
}

}  // namespace
}  // namespace lw::testing
