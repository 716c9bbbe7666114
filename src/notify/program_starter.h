// Starting the owner's program with a finished call's details, without a
// shell. The command-line template is split into words first, with the
// quoting rules of a shell (blanks separate words; '...' keeps everything
// literally; "..." keeps blanks and lets a backslash escape \ " $ and `;
// a backslash outside quotes keeps the next character). Each word is filled
// from the call afterwards, so whatever a caller's name or number holds
// (blanks, quotes, "$(...)", ";") lands inside one argument and is never
// read by a shell.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "devices/clock.h"

namespace lw {

// Splits `text` into words. An unbalanced quote or a backslash at the very
// end is an error: false with `error` saying which; `words` is then empty.
bool SplitCommandLine(std::string_view text, std::vector<std::string>& words,
                      std::string& error);

// Starts programs and reaps them when they end, so none is left as a zombie.
// While children run, a 1 s timer collects those that have ended; the timer
// is off when there are none, so an idle process is never woken. A program
// that never ends is left running.
class ProgramStarter {
 public:
  explicit ProgramStarter(Clock& clock);
  ~ProgramStarter();
  ProgramStarter(const ProgramStarter&) = delete;
  ProgramStarter& operator=(const ProgramStarter&) = delete;

  // Starts `argv[0]` (looked up in PATH when it holds no "/") with `argv`.
  // With `inherit_streams` it shares this process's standard streams;
  // otherwise they are /dev/null. The program gets a clean signal mask and
  // default signal handling, and none of this process's other descriptors.
  // 0 when it was started, else the errno value (ENOENT: no such program).
  int Start(const std::vector<std::string>& argv, bool inherit_streams);

  // Children started and not yet reaped.
  size_t running() const { return children_.size(); }
  // Reaps every child that has ended; the timer runs this too.
  void Reap();

 private:
  std::vector<pid_t> children_;
  std::unique_ptr<Timer> reaper_;
};

}  // namespace lw
