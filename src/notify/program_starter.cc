#include "notify/program_starter.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>

extern char** environ;

namespace lw {

namespace {

constexpr uint32_t kReapIntervalMs = 1000;

}  // namespace

bool SplitCommandLine(std::string_view text, std::vector<std::string>& words,
                      std::string& error) {
  words.clear();
  std::string word;
  bool in_word = false;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (in_word) words.push_back(std::move(word));
      word.clear();
      in_word = false;
      ++i;
    } else if (c == '\'') {
      const size_t end = text.find('\'', i + 1);
      if (end == std::string_view::npos) {
        error = "unbalanced ' in the command line";
        words.clear();
        return false;
      }
      word.append(text.substr(i + 1, end - i - 1));
      in_word = true;
      i = end + 1;
    } else if (c == '"') {
      ++i;
      bool closed = false;
      while (i < text.size()) {
        const char d = text[i];
        if (d == '"') {
          closed = true;
          ++i;
          break;
        }
        if (d == '\\' && i + 1 < text.size() &&
            std::string_view("\\\"$`").find(text[i + 1]) !=
                std::string_view::npos) {
          word += text[i + 1];
          i += 2;
        } else {
          word += d;
          ++i;
        }
      }
      if (!closed) {
        error = "unbalanced \" in the command line";
        words.clear();
        return false;
      }
      in_word = true;
    } else if (c == '\\') {
      if (i + 1 >= text.size()) {
        error = "the command line ends in a lone backslash";
        words.clear();
        return false;
      }
      word += text[i + 1];
      in_word = true;
      i += 2;
    } else {
      word += c;
      in_word = true;
      ++i;
    }
  }
  if (in_word) words.push_back(std::move(word));
  return true;
}

ProgramStarter::ProgramStarter(Clock& clock)
    : reaper_(clock.CreateTimer([this] { Reap(); })) {
  reaper_->SetInterval(kReapIntervalMs);
}

ProgramStarter::~ProgramStarter() {
  // Children still running are left to run; whoever adopts them reaps them.
  Reap();
}

int ProgramStarter::Start(const std::vector<std::string>& argv,
                          bool inherit_streams) {
  if (argv.empty() || argv[0].empty()) return ENOENT;
  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv)
    args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_init(&attr);
  if (!inherit_streams) {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  }
  // Sockets, the settings store and the lock file stay with this process.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  // The service host blocks the stop signals in its threads; the program
  // must be stoppable like any other.
  sigset_t none;
  sigset_t all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  pid_t pid = 0;
  const int result =
      posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  if (result != 0) return result;
  children_.push_back(pid);
  reaper_->SetEnabled(true);
  return 0;
}

void ProgramStarter::Reap() {
  std::erase_if(children_, [](pid_t pid) {
    int status = 0;
    const pid_t r = waitpid(pid, &status, WNOHANG);
    // Gone (r == pid) or not ours any more (ECHILD): forget it.
    return r == pid || (r < 0 && errno == ECHILD);
  });
  if (children_.empty()) reaper_->SetEnabled(false);
}

}  // namespace lw
