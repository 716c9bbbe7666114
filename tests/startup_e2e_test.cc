// The real process started in broken surroundings, and lwdctl run by the
// administrator against a home that belongs to the service's user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <random>

#include "process_runner.h"

namespace lw::testing {
namespace {

namespace fs = std::filesystem;

// A store the way lwdctl leaves it, cut to half its length.
std::string TruncatedStore() {
  ProgramEnv env;
  const std::string path = env.home() + "/registry.db";
  env.Run("lwdctl", {"reg", "set", "Properties\\TabLog", "chkLogSys", "1"});
  std::string bytes = ReadFile(path);
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
  int status;
  std::vector<std::string> says;  // each in the output
};

TEST(StartupE2E, EndsAtOnceWithOneClearLineAndTouchesNothing) {
  // given help requests and unusable surroundings, expect the answer or one
  // line naming the fault, no process left running, no store created and a
  // broken store left byte for byte as it was
  const std::string kOpen = "The settings store cannot be opened";
  const std::string truncated = TruncatedStore();
  ASSERT_GT(truncated.size(), 1000u);
  const std::vector<StartCase> cases = {
      {"help", {"--help"}, "", {}, 0, {"Usage: linewarden-proc", "-gc"}},
      {"short help after -gc", {"-gc", "-h"}, "", {}, 0, {"Usage:"}},
      {"version", {"--version"}, "", {}, 0, {"Linewarden 1.0"}},
      {"home missing",
       {},
       "LINEWARDEN_HOME=%/gone",
       {},
       1,
       {"The home folder", "/gone does not exist"}},
      {"runtime parent missing",
       {},
       "LINEWARDEN_RUNTIME=%/no/run",
       {},
       1,
       {"The runtime folder cannot be made", "/no/run"}},
      {"store is a folder",
       {},
       "LINEWARDEN_REGISTRY=%/Journal",
       {},
       1,
       {kOpen, "/Journal"}},
      {"random bytes",
       {},
       "",
       RandomBytes(),
       1,
       {kOpen, "/registry.db", "lwdctl reg import"}},
      {"truncated store", {}, "", truncated, 1, {kOpen, "/registry.db"}},
      {"empty store", {}, "", "", 1, {kOpen, "/registry.db", "empty"}},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramEnv env;
    const std::string store = env.home() + "/registry.db";
    if (c.store) std::ofstream(store, std::ios::binary) << *c.store;
    std::vector<std::string> extra;
    if (!c.env.empty()) {
      extra.push_back(c.env);
      extra.back().replace(extra.back().find('%'), 1, env.home());
    }
    const std::string out_file = env.home() + "/../out.txt";
    const pid_t pid = env.Spawn("linewarden-proc", c.args, extra, out_file);
    ASSERT_GT(pid, 0);
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
    for (const std::string& text : c.says)
      EXPECT_NE(out.find(text), std::string::npos) << text << "\n" << out;
    // A failure is one line (on standard error and in the system log).
    if (c.status != 0) {
      EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    }
    if (c.store) {
      EXPECT_EQ(ReadFile(store), *c.store);
    } else {
      EXPECT_FALSE(fs::exists(store));
    }
    if (c.status == 0) {
      EXPECT_FALSE(fs::exists(env.runtime()));
    }
  }
}

TEST(StartupE2E, RootKeepsTheServiceUsersStoreItsOwn) {
  // given root setting a value in a home that belongs to another user,
  // expect lwdctl to name that user and the new store to be that user's,
  // owner-only, also after a second change
  if (geteuid() != 0) GTEST_SKIP() << "needs root";
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user 'nobody'";
  ProgramEnv env;
  ASSERT_EQ(chown(env.home().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  const std::string store = env.home() + "/registry.db";
  for (const char* value : {"1", "0"}) {
    std::string out;
    ASSERT_EQ(
        env.Run("lwdctl",
                {"reg", "set", "Properties\\TabLog", "chkLogSys", value}, &out),
        0)
        << out;
    EXPECT_NE(out.find("to user nobody"), std::string::npos) << out;
    struct stat st {};
    ASSERT_EQ(stat(store.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, nobody->pw_uid);
    EXPECT_EQ(st.st_gid, nobody->pw_gid);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
  }
}

}  // namespace
}  // namespace lw::testing
