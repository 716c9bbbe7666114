// Runs the real lwdctl binary: `listen` in one process, `send` from others.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "drivers/unix_channel/unix_channel.h"
#include "temp_dir.h"

extern char** environ;

namespace lw {
namespace {

namespace fs = std::filesystem;

class LwdctlChannelsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("LW_TEST_BIN");
    if (bin == nullptr) GTEST_SKIP() << "LW_TEST_BIN not set (run by CTest)";
    lwdctl_ = std::string(bin) + "/lwdctl";
    ASSERT_TRUE(fs::exists(lwdctl_)) << lwdctl_;
  }

  // Starts lwdctl with `args`; its standard output goes to `*out_fd` when
  // given. Answers the child's pid.
  pid_t Start(std::vector<std::string> args, int* out_fd = nullptr) {
    args.insert(args.begin(), lwdctl_);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // The child's environment: ours, with LINEWARDEN_RUNTIME set to runtime_.
    std::vector<std::string> env_strings = {"LINEWARDEN_RUNTIME=" + runtime_};
    for (char** e = environ; *e != nullptr; ++e)
      if (std::string(*e).rfind("LINEWARDEN_RUNTIME=", 0) != 0)
        env_strings.push_back(*e);
    std::vector<char*> env;
    for (std::string& s : env_strings) env.push_back(s.data());
    env.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int pipe_fds[2] = {-1, -1};
    if (out_fd != nullptr) {
      EXPECT_EQ(::pipe(pipe_fds), 0);
      posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], 1);
      posix_spawn_file_actions_addclose(&actions, pipe_fds[0]);
      posix_spawn_file_actions_addclose(&actions, pipe_fds[1]);
    }
    pid_t pid = -1;
    EXPECT_EQ(posix_spawn(&pid, lwdctl_.c_str(), &actions, nullptr, argv.data(),
                          env.data()),
              0);
    posix_spawn_file_actions_destroy(&actions);
    if (out_fd != nullptr) {
      ::close(pipe_fds[1]);
      *out_fd = pipe_fds[0];
    }
    return pid;
  }

  static int Wait(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static std::string ReadAll(int fd) {
    std::string out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) out.append(buf, n);
    ::close(fd);
    return out;
  }

  // Waits until `count` socket files are bound in the folder of `channel`.
  bool WaitForSockets(int32_t channel, size_t count) {
    const std::string dir = UnixChannel::ChannelFolder(runtime_, channel);
    for (int i = 0; i < 2000; ++i) {
      std::error_code ec;
      size_t n = 0;
      for (auto& e : fs::directory_iterator(dir, ec))
        if (e.is_socket()) ++n;
      if (n >= count) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
  }

  testing::TempDir tmp_;
  std::string runtime_ = tmp_ / "rt";
  std::string lwdctl_;
};

TEST_F(LwdctlChannelsTest, ListenPrintsWhatSendSends) {
  int out = -1;
  const pid_t listener =
      Start({"listen", "107", "109", "--count", "3", "--timeout", "30"}, &out);
  ASSERT_TRUE(WaitForSockets(107, 1));
  ASSERT_TRUE(WaitForSockets(109, 1));
  EXPECT_EQ(Wait(Start({"send", "107", "LineStatus", "0", "0", "False"})), 0);
  // Quote, backslash, tab, control bytes and a byte that is not UTF-8.
  EXPECT_EQ(Wait(Start({"send", "109", "q\"b\\s", "t\tx\x01\x7f", "\xff"})), 0);
  // Valid UTF-8 passes through.
  EXPECT_EQ(Wait(Start({"send", "107",
                        "Gr\xc3\xbc\xc3\x9f"
                        "e"})),
            0);
  const std::string printed = ReadAll(out);
  EXPECT_EQ(Wait(listener), 0);

  std::vector<std::string> lines;
  for (size_t start = 0, end;
       (end = printed.find('\n', start)) != std::string::npos; start = end + 1)
    lines.push_back(printed.substr(start, end - start));
  ASSERT_EQ(lines.size(), 3u) << printed;
  // Messages of different channels may be read in either order.
  std::sort(lines.begin() + 1, lines.end());
  std::vector<std::string> expected = {
      R"({"channel":107,"text":"LineStatus\r\n0\r\n0\r\nFalse"})",
      "{\"channel\":107,\"text\":\"Gr\xc3\xbc\xc3\x9f"
      "e\"}",
      R"({"channel":109,"text":"q\"b\\s\r\nt\tx\u0001\u007f\r\n\u00ff"})",
  };
  std::sort(expected.begin() + 1, expected.end());
  EXPECT_EQ(lines, expected);
  // The listener unbound on leaving.
  EXPECT_TRUE(fs::is_empty(UnixChannel::ChannelFolder(runtime_, 107)));
}

TEST_F(LwdctlChannelsTest, ExitStatusTellsTimeoutBeforeCountAndBadUse) {
  int out = -1;
  EXPECT_EQ(
      Wait(Start({"listen", "107", "--count", "1", "--timeout", "0.2"}, &out)),
      1);
  EXPECT_EQ(ReadAll(out), "");
  EXPECT_EQ(Wait(Start({"listen", "107", "--timeout", "0.05"})), 0);
  EXPECT_EQ(Wait(Start({"listen", "1o7"})), 2);
  EXPECT_EQ(Wait(Start({"listen", "107", "--count", "0"})), 2);
  EXPECT_EQ(Wait(Start({"send", "107"})), 2);
  EXPECT_EQ(Wait(Start({"send", "99999999999", "x"})), 2);
  // A runtime folder whose parent is missing cannot be opened.
  runtime_ = tmp_ / "gone/rt";
  EXPECT_EQ(Wait(Start({"send", "107", "HELLO"})), 1);
}

}  // namespace
}  // namespace lw
