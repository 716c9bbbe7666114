// The real process started in broken surroundings, and lwdctl run by the
// administrator against a home that belongs to the service's user.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "process_runner.h"

namespace lw::testing {
namespace {

namespace fs = std::filesystem;

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A store the way lwdctl leaves it, cut to half its length.
std::string TruncatedStore(const ProgramEnv& env) {
  const std::string path = env.home() + "/registry.db";
  if (env.Run("lwdctl",
              {"reg", "set", "Properties\\TabLog", "chkLogSys", "1"}) != 0)
    return "";
  fs::resize_file(path, fs::file_size(path) / 2);
  return ReadFile(path);
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
  // Prepares the surroundings; returns environment entries for the run.
  std::function<std::vector<std::string>(const ProgramEnv&)> setup;
  int status;
  std::vector<std::string> says;  // each in the output
  // When true, home/registry.db exists before the run and must keep its
  // bytes; otherwise the run must not create it.
  bool store_kept;
};

TEST(StartupE2E, EndsAtOnceWithOneClearLineAndTouchesNothing) {
  // given help requests and unusable surroundings, expect the answer or one
  // line naming the fault, no process left running, no store created and a
  // broken store left byte for byte as it was
  const auto none = [](const ProgramEnv&) {
    return std::vector<std::string>{};
  };
  const auto store_bytes = [](std::string bytes) {
    return [bytes](const ProgramEnv& env) {
      WriteFile(env.home() + "/registry.db", bytes);
      return std::vector<std::string>{};
    };
  };
  const std::vector<StartCase> cases = {
      {"help", {"--help"}, none, 0, {"Usage: linewarden-proc", "-gc"}, false},
      {"short help", {"-h"}, none, 0, {"Usage: linewarden-proc"}, false},
      {"help after -gc", {"-gc", "--help"}, none, 0, {"Usage:"}, false},
      {"version", {"--version"}, none, 0, {"Linewarden 1.0"}, false},
      {"home missing",
       {},
       [](const ProgramEnv& env) {
         return std::vector<std::string>{"LINEWARDEN_HOME=" + env.home() +
                                         "/gone"};
       },
       1,
       {"The home folder", "/gone does not exist"},
       false},
      {"runtime parent missing",
       {},
       [](const ProgramEnv& env) {
         return std::vector<std::string>{"LINEWARDEN_RUNTIME=" + env.home() +
                                         "/no/such/run"};
       },
       1,
       {"The runtime folder cannot be made", "/no/such/run"},
       false},
      {"runtime is a file",
       {},
       [](const ProgramEnv& env) {
         WriteFile(env.runtime(), "");
         return std::vector<std::string>{};
       },
       1,
       {"The runtime folder cannot be made", "Not a directory"},
       false},
      {"store is a folder",
       {},
       [](const ProgramEnv& env) {
         return std::vector<std::string>{"LINEWARDEN_REGISTRY=" + env.home() +
                                         "/Journal"};
       },
       1,
       {"The settings store cannot be opened", "/Journal"},
       false},
      {"store of random bytes",
       {},
       store_bytes(RandomBytes()),
       1,
       {"The settings store cannot be opened", "/registry.db",
        "lwdctl reg import"},
       true},
      {"truncated store",
       {},
       [](const ProgramEnv& env) {
         TruncatedStore(env);
         return std::vector<std::string>{};
       },
       1,
       {"The settings store cannot be opened", "/registry.db"},
       true},
      {"empty store",
       {},
       store_bytes(""),
       1,
       {"The settings store cannot be opened", "/registry.db", "empty"},
       true},
  };
  for (const StartCase& c : cases) {
    SCOPED_TRACE(c.name);
    ProgramEnv env;
    const std::string store = env.home() + "/registry.db";
    const std::vector<std::string> extra = c.setup(env);
    ASSERT_EQ(fs::exists(store), c.store_kept);
    const std::string before = c.store_kept ? ReadFile(store) : "";
    if (c.store_kept && std::string(c.name) != "empty store") {
      ASSERT_FALSE(before.empty());
    }
    const bool runtime_before = fs::exists(env.runtime());

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
    if (c.status != 0) {
      // One line, on standard error (and in the system log).
      EXPECT_EQ(out.find('\n'), out.size() - 1) << out;
    }
    if (c.store_kept) {
      EXPECT_EQ(ReadFile(store), before);
    } else {
      EXPECT_FALSE(fs::exists(store));
    }
    if (c.status == 0) {
      EXPECT_EQ(fs::exists(env.runtime()), runtime_before);
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
