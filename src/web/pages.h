// The pages of the web server: the frame every page shares (TopPage, Links,
// BottomPage), the calls list (LastCalls), the journal page (Journal) and the
// options page with its form (OptionsPage, SaveOptions).
//
// Texts taken from calls, contacts and journal files are HTML-escaped; the
// links keep the targets the server's routes answer.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "devices/clock.h"

namespace lw {

class Journal;
class RegistryRoutines;
class StoreFiles;

// The page builders keep their own names; `web::Journal` is the journal
// page, `lw::Journal` the journal writer.
namespace web {

std::string TopPage();
std::string Links();
std::string BottomPage();

// "Empty In", "Empty Out", "Message", "Record In", "Record Out" for the
// trimmed codes "0" to "4"; empty text for any other.
std::string GetTypeString(std::string_view type);

// What a page builder works on: AppPath (native, no trailing separator),
// the clock of the title bars, the files no page may open (see
// OpenInFolder).
struct PageContext {
  std::string app_path;
  Clock& clock;
  const StoreFiles* never_open = nullptr;
};

// The title bar and the calls table of the latest-call list "\Data\Last".
// Lines whose record cannot be read leave the list (it is rewritten without
// them). With `players`, every recording that a browser can play gets an
// audio element beside its link, and a GSM 6.10 recording a note that it
// downloads.
std::string LastCalls(const PageContext& page, bool players = false);

// The journal page: the chooser of the files of "\Journal\" (oldest first,
// `day_file` selected) and the chosen file's text. The selector names a
// file of that folder only; any other text shows an empty box.
std::string Journal(const PageContext& page, std::string_view day_file);

// A journal file name with its date (the first ten characters read as a
// date; nullopt when they are not one, which sorts first).
struct LogFileEntry {
  std::string name;
  std::optional<int64_t> day;
};
// Sorts by date, oldest first; entries of the same date keep their order.
void SortArr(std::vector<LogFileEntry>& entries);
// The chooser: a select "dt" with the files that match `WhatToShow`
// ("All", "System", "Calls").
std::string MakeLogList(const PageContext& page, std::string_view WhatToShow,
                        std::string_view selected_file);
// The lines of "\Journal\" + file_name (found without regard to case), each
// followed by CR LF: the whole lines of its last kJournalShown bytes. Empty
// when the name leaves the folder, the file cannot be read or is reached
// through a symbolic link.
inline constexpr off_t kJournalShown = off_t{1} << 20;
std::string GetLogFile(const PageContext& page, std::string_view file_name);

// The options page: title bar and the form of the four settings, with the
// values the settings store holds now.
std::string OptionsPage(const PageContext& page, RegistryRoutines& reg);
// Writes the four settings of a form submission (the request text's last
// CR LF piece). A value that cannot be written is journalled and the rest
// goes on.
void SaveOptions(std::string_view request, RegistryRoutines& reg,
                 lw::Journal& journal);

}  // namespace web
}  // namespace lw
