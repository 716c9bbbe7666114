// The daily journals: "\Journal\<date stamp>_Sys.txt" and "_WWW.txt" under
// AppPath. Every call opens the file, appends one CR LF line and closes it,
// so the files can be read or removed by anyone between two lines. Every
// failure is passed over silently: the writers can be called from error
// handlers, and the journal folder is never created here.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

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

 private:
  // Appends time + " : " + the parts + CR LF to today's file of the kind
  // named by `suffix`. The date of the file name is read from the clock
  // before the time of the line, each on its own.
  void Append(const char* suffix,
              std::initializer_list<std::string_view> parts) noexcept;

  Clock& clock_;
  std::string app_path_;
  bool log_sys_on_ = false;
  bool log_www_on_ = false;
};

// A text from outside (a number to dial, a file name) as a journal entry
// shows it. Texts are bytes and normally UTF-8; they pass through the system
// unchanged, and only here, where a line must stay one readable line, are
// control characters and bytes that are not part of a UTF-8 character
// written as \xNN. Cut after `max_chars` characters, marked by "...".
std::string JournalShown(std::string_view text, size_t max_chars = 64);

}  // namespace lw
