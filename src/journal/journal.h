// The daily journals: "\Journal\<date stamp>_Sys.txt" and "_WWW.txt" under
// AppPath. Every call opens the file, appends one CR LF line and closes it,
// so the files can be read or removed by anyone between two lines. Every
// failure is passed over silently: the writers can be called from error
// handlers, and the journal folder is never created here.
//
// A line that an opened file does not take whole (a full disk) is kept, its
// unwritten rest first, and written before the next line once the file takes
// it again: a line cut short is completed, never glued to the next one, and
// the lines written meanwhile follow in order. At most kMaxUnwrittenLines are
// kept; later lines are lost until the file takes them again.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "devices/clock.h"

namespace lw {

class Journal {
 public:
  // `app_path` is AppPath (native, no trailing separator).
  Journal(Clock& clock, std::string app_path);

  // LogSysOn and LogWWWOn; both start off.
  void SetSwitches(bool log_sys_on, bool log_www_on);
  bool LogSysOn() const { return log_sys_on_; }
  bool LogWWWOn() const { return log_www_on_; }

  // time + " : " + source + "->" + text + "(" + code + ")" CR LF
  void LogSys(const std::string& text, int32_t code,
              const std::string& source) noexcept;
  // time + " : " + text CR LF
  void LogWWW(const std::string& text) noexcept;

  const std::string& app_path() const { return app_path_; }

  static constexpr size_t kMaxUnwrittenLines = 1000;

 private:
  struct Unwritten {
    std::string path;
    std::string bytes;
  };
  // Writes the kept lines in order; false while one is still not taken.
  bool WriteUnwritten() noexcept;

  // Appends time + " : " + the parts + CR LF to today's file of the kind
  // named by `suffix`. The date of the file name is read from the clock
  // before the time of the line, each on its own.
  void Append(const char* suffix,
              std::initializer_list<std::string_view> parts) noexcept;

  Clock& clock_;
  std::string app_path_;
  bool log_sys_on_ = false;
  bool log_www_on_ = false;
  std::vector<Unwritten> unwritten_;  // oldest first
};

// A text from outside (a number to dial, a file name) as a journal entry
// shows it. Texts are bytes and normally UTF-8; they pass through the system
// unchanged, and only here, where a line must stay one readable line, are
// control characters and bytes that are not part of a UTF-8 character
// written as \xNN. Cut after `max_chars` characters, marked by "...".
std::string JournalShown(std::string_view text, size_t max_chars = 64);

}  // namespace lw
