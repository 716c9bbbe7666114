// Bursts of desktop commands against the real process: every command is
// read and every reply reaches every listener, even one that reads late.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <sstream>
#include <string>
#include <vector>

#include "e2e_util.h"

namespace lw::testing {
namespace {

// The listener's JSON lines as runs of equal texts ("0/0 x1000, 0/1 x1"),
// LineStatus replies shortened to their line and auto fields.
std::string Runs(const std::string& out) {
  const std::string prefix = "{\"channel\":107,\"text\":\"LineStatus\\r\\n0";
  std::istringstream in(out);
  std::vector<std::pair<std::string, int>> runs;
  for (std::string line; std::getline(in, line);) {
    std::string key = line;
    if (line.rfind(prefix, 0) == 0 && line.size() > prefix.size() + 4)
      key = line.substr(prefix.size() + 4, 1);  // LineStat
    if (runs.empty() || runs.back().first != key) runs.emplace_back(key, 0);
    ++runs.back().second;
  }
  std::string s;
  for (const auto& [key, n] : runs)
    s += (s.empty() ? "" : ", ") + key + " x" + std::to_string(n);
  return s;
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

  const std::vector<std::string> listen = {"listen", "107",       "--count",
                                           "2000",   "--timeout", "60"};
  const std::string ch107 = env.runtime() + "/ch107";
  const size_t before = Entries(ch107);
  const pid_t reader = env.Spawn("lwdctl", listen, {}, env.home() + "/r.txt");
  const pid_t late = env.Spawn("lwdctl", listen, {}, env.home() + "/l.txt");
  ASSERT_TRUE(WaitFor([&] { return Entries(ch107) >= before + 2; }));
  int status = 0;
  kill(late, SIGSTOP);
  ASSERT_EQ(waitpid(late, &status, WUNTRACED), late);
  ASSERT_TRUE(WIFSTOPPED(status));

  EXPECT_EQ(env.Run("lwdctl", {"send", "--repeat", "1000", "108", "HELLO"}), 0);
  EXPECT_EQ(env.Run("lwdctl", {"send", "108", "OFF"}), 0);
  EXPECT_EQ(env.Run("lwdctl", {"send", "--repeat", "998", "108", "HELLO"}), 0);
  EXPECT_EQ(env.Run("lwdctl", {"send", "108", "ON"}), 0);

  ASSERT_TRUE(WaitExit(reader, &status, std::chrono::seconds(60)));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  kill(late, SIGCONT);
  ASSERT_TRUE(WaitExit(late, &status, std::chrono::seconds(60)));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

  // Line on ("0") for the first 1,000 replies, off from "OFF" on, on again
  // at the last.
  const std::string expected = "0 x1000, 1 x999, 0 x1";
  EXPECT_EQ(Runs(ReadFile(env.home() + "/r.txt")), expected);
  EXPECT_EQ(Runs(ReadFile(env.home() + "/l.txt")), expected);
  EXPECT_EQ(env.SysJournal().find("MessageChannel"), std::string::npos);

  kill(proc, SIGTERM);
  ASSERT_TRUE(WaitExit(proc, &status));
}

}  // namespace
}  // namespace lw::testing
