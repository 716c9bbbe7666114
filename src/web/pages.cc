#include "web/pages.h"

#include <dirent.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <unordered_map>

#include "base/paths.h"
#include "callstore/call_record.h"
#include "callstore/call_store.h"
#include "journal/journal.h"
#include "journal/regional.h"
#include "settings/call_options.h"
#include "settings/registry_routines.h"
#include "web/folder_file.h"
#include "web/request.h"

namespace lw::web {
namespace {

constexpr const char* kCallsSection = "Answer\\TabCallsRecord";
constexpr const char* kAnswerSection = "Answer\\TabAnsweringMachine";

std::string NowText(Clock& clock) {
  const LocalDateTime now = clock.Now();
  return ShortDateText(now) + " " + LongTimeText(now);
}

// A link target inside an attribute: characters that would end the path
// early in a browser ("#", "?"), "%" itself and the bytes of non-ASCII
// characters (UTF-8, whatever charset the browser reads the page in) are
// percent-encoded, the rest is escaped for the attribute.
std::string LinkTarget(std::string_view target) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (char c : target) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '%' || c == '#' || c == '?' || byte >= 0x80) {
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 15];
    } else {
      encoded += c;
    }
  }
  return HtmlEscape(encoded);
}

// True when the WAV file holds GSM 6.10 (format tag 0x31), which browsers
// do not play.
bool IsGsmWave(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  char head[512] = {};
  in.read(head, sizeof head);
  const std::string_view bytes(head, static_cast<size_t>(in.gcount()));
  const size_t fmt = bytes.find("fmt ");
  if (fmt == std::string_view::npos || fmt + 10 > bytes.size()) return false;
  const auto tag = static_cast<uint8_t>(bytes[fmt + 8]) |
                   static_cast<uint8_t>(bytes[fmt + 9]) << 8;
  return tag == 0x31;
}

std::string Cell(std::string_view colour, std::string_view content,
                 bool tall = false) {
  std::string out = "<td bgcolor=\"";
  out += colour;
  out += tall ? "\" align=\"center\" height=\"25\">" : "\" align=\"center\">";
  out += "<font face=\"Arial\" size=\"2\">";
  out += content;
  out += "</font></td>\r\n";
  return out;
}

std::string TitleBar(std::string_view title, Clock& clock,
                     std::string_view tail) {
  std::string out =
      "<table width=\"600\" height=\"60\" bgcolor=\"#3366FF\"><tr><td>"
      "<font face=\"Arial\" color=\"#FFFFFF\"><b><font size=\"4\">";
  out += title;
  out += "</font></b> <font size=\"2\">";
  out += NowText(clock);
  out += "</font> ";
  out += tail;
  out += "</font></td></tr></table>\r\n";
  return out;
}

bool ReadBoolean(RegistryRoutines& reg, const char* name) {
  bool b = false;
  return OptionToBoolean(reg.GetRegistryValue(name), b) == 0 && b;
}

std::string OnOffSelect(const char* name, bool on, const char* yes,
                        const char* no) {
  std::string out = "<select size=\"1\" name=\"";
  out += name;
  out += "\">";
  out += on ? "<option selected>" : "<option>";
  out += yes;
  out += "</option>";
  out += on ? "<option>" : "<option selected>";
  out += no;
  out += "</option></select>";
  return out;
}

std::string SettingRow(const char* label, const std::string& control) {
  return std::string("<tr><td width=\"50%\" valign=\"top\">") + label +
         "</td><td width=\"50%\" valign=\"top\">" + control +
         "</td></tr>\r\n"
         "<tr><td bgcolor=\"#F2F4F7\">&nbsp;</td>"
         "<td bgcolor=\"#F2F4F7\">&nbsp;</td></tr>\r\n";
}

bool HasSuffixNoCase(std::string_view name, std::string_view suffix) {
  return name.size() >= suffix.size() &&
         strncasecmp(name.data() + name.size() - suffix.size(), suffix.data(),
                     suffix.size()) == 0;
}

// The calendar day of a journal file name's first ten characters
// ("12-04-2026_Sys.txt").
std::optional<int64_t> DayOfName(std::string_view name) {
  if (name.size() < 10) return std::nullopt;
  std::string date(name.substr(0, 10));
  std::replace(date.begin(), date.end(), '-', '/');
  const auto parsed = ParseShortDate(date);
  if (!parsed) return std::nullopt;
  return ToCivilSeconds(*parsed) / 86400;
}

// A journal selector names one file of the journal folder, nothing else.
std::optional<std::string> JournalFileName(std::string_view selector) {
  if (selector.empty() || selector.find('/') != std::string_view::npos ||
      !IsContainedPath(selector))
    return std::nullopt;
  std::string name = PercentDecode(selector);
  if (name == "." || name == ".." || name.find('/') != std::string::npos ||
      name.find('\\') != std::string::npos ||
      name.find('\0') != std::string::npos)
    return std::nullopt;
  return name;
}

}  // namespace

std::string TopPage() {
  return "<html>\r\n"
         "<head><meta http-equiv=\"Content-Language\" content=\"en-us\">\r\n"
         "<style> body { font-size:10pt }</style>\r\n"
         "<style>tr { font-size:10pt }</style></head>\r\n"
         "<body>\r\n";
}

std::string Links() {
  return "<center><table border=\"0\" cellpadding=\"0\" cellspacing=\"0\" "
         "bordercolor=\"#111111\" width=\"600\"><tr><td>"
         "<font face=\"Arial\" color=\"#0000FF\"><a href=\"calls\">Calls "
         "List</a></font> - "
         "<font face=\"Arial\" color=\"#0000FF\"><a "
         "href=\"Journal\">Journal</a></font> - "
         "<font face=\"Arial\" color=\"#0000FF\"><a "
         "href=\"Options\">Options</a></font>"
         "</td></tr></table></center>";
}

std::string BottomPage() {
  return "\r\n<br><br><font face=\"Arial\" size=\"1\">" +
         std::string(kAppTitle) + "</font>\r\n</html>";
}

std::string GetTypeString(std::string_view type) {
  const std::string_view code = TrimField(type);
  if (code == "0") return "Empty In";
  if (code == "1") return "Empty Out";
  if (code == "2") return "Message";
  if (code == "3") return "Record In";
  if (code == "4") return "Record Out";
  return {};
}

std::string LastCalls(const PageContext& page, bool players) {
  CallStore store(page.app_path, page.clock);
  std::vector<std::string> lines;
  const bool readable = store.ReadLastCalls(lines);

  std::string out = "<center>";
  out += TitleBar(
      "Calls\r\nList -", page.clock,
      "<font size=\"2\">| " + std::to_string(lines.size()) + " Calls</font>");
  out +=
      "<table width=\"600\" cellpadding=\"0\" cellspacing=\"0\" "
      "style=\"border-collapse: collapse\" bordercolor=\"#EAEFF2\">\r\n"
      "<tr style=\"font-size:10pt\">\r\n";
  for (const char* head :
       {"Type", "Length", "Date-Time", "Name", "Number", "Contact", ""}) {
    out +=
        "<td align=\"center\" bgcolor=\"#FEBE47\" height=\"25\" "
        "valign=\"bottom\"><font color=\"#FFFFFF\"><b>";
    out += head;
    out += "</b></font></td>\r\n";
  }
  out += "</tr>\r\n";

  std::vector<std::string> kept;
  kept.reserve(lines.size());
  CallStore::RecordReader reader(store);
  // Contact names from one reading of the contact file, as GetContactName
  // gives them.
  const ContactMatcher contacts = store.contacts().Matcher();
  bool white = true;
  for (const std::string& line : lines) {
    int64_t number = 0;
    std::string folder;
    CallRecord record{};
    if (!SplitLastCallLine(line, number, folder) ||
        !reader.Read(record, folder, number))
      continue;
    kept.push_back(line);
    const std::string_view colour = white ? "#ffffff" : "#EAEFF2";
    white = !white;

    const std::string type = FieldText(record.call_type);
    const std::string name = FieldText(record.caller_name);
    const std::string phone = FieldText(record.caller_number);
    const std::string date = FieldText(record.date);
    const std::string time = FieldText(record.time);
    out += "<tr style=\"font-size:10pt\">\r\n";
    if (type == "0") {
      out += Cell(colour, "....", true);
      out += Cell(colour, "");
    } else {
      const std::string recording = RecordingName(name, phone, date, time);
      std::string target = "messages";
      target += folder;
      target += recording;
      const std::string href = LinkTarget(target);
      std::string link = "<a href=\"" + href + "\">" +
                         HtmlEscape(GetTypeString(type)) + "</a>";
      if (players) {
        if (IsGsmWave(NativePath(page.app_path, folder + recording))) {
          link = "<a href=\"" + href + "\" download>" +
                 HtmlEscape(GetTypeString(type)) +
                 "</a><br>(GSM 6.10: download to play)";
        } else {
          link += "<br><audio controls preload=\"none\" src=\"" + href +
                  "\"></audio>";
        }
      }
      out += Cell(colour, link, true);
      out += Cell(colour, HtmlEscape(FieldText(record.length)));
    }
    std::string when = date;
    when += '-';
    when += time;
    out += Cell(colour, HtmlEscape(when));
    out += Cell(colour, HtmlEscape(name));
    out += Cell(colour, HtmlEscape(phone));
    const ContactMatcher::Entry* contact = contacts.Named(name, phone);
    out += Cell(colour,
                contact == nullptr ? std::string() : HtmlEscape(contact->name));
    out += Cell(colour, "<a href=\"/del?call=" + std::to_string(kept.size()) +
                            "\"><font color=\"#FF0000\">Delete</font></a>");
    out += "</tr>\r\n";
  }
  out += "</table></center>";
  if (readable && kept.size() != lines.size()) store.WriteLastCalls(kept);
  return out;
}

void SortArr(std::vector<LogFileEntry>& entries) {
  std::stable_sort(entries.begin(), entries.end(),
                   [](const LogFileEntry& a, const LogFileEntry& b) {
                     return a.day < b.day;  // nullopt first
                   });
}

std::string MakeLogList(const PageContext& page, std::string_view WhatToShow,
                        std::string_view selected_file) {
  std::string_view suffix;
  if (WhatToShow == "All")
    suffix = ".txt";
  else if (WhatToShow == "System")
    suffix = "_Sys.txt";
  else if (WhatToShow == "Calls")
    suffix = "_Calls.txt";

  std::vector<LogFileEntry> entries;
  const std::string folder = NativePath(page.app_path, "\\Journal");
  if (DIR* d = suffix.empty() ? nullptr : opendir(folder.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string_view name = e->d_name;
      if (name == "." || name == ".." || !HasSuffixNoCase(name, suffix))
        continue;
      entries.push_back({std::string(name), DayOfName(name)});
    }
    closedir(d);
  }
  // The folder's own order is arbitrary; names give files of one day a
  // fixed order.
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  SortArr(entries);

  std::string current(selected_file);
  for (char& c : current) c = static_cast<char>(tolower(c));
  std::string out = "<select size=\"1\" name=\"dt\">";
  for (const LogFileEntry& entry : entries) {
    std::string lower = entry.name;
    for (char& c : lower) c = static_cast<char>(tolower(c));
    out += lower == current ? "<option selected>" : "<option>";
    out += HtmlEscape(entry.name);
    out += "</option>\r\n";
  }
  out += "</select>\r\n";
  return out;
}

std::string GetLogFile(const PageContext& page, std::string_view file_name) {
  const auto name = JournalFileName(file_name);
  if (!name) return {};
  const std::string folder = NativePathNoCase(page.app_path, "\\Journal");
  std::string relative;
  if (!SplitBelow(folder,
                  NativePathNoCase(page.app_path, "\\Journal\\" + *name),
                  relative))
    return {};
  const int fd = OpenInFolder(folder, relative, page.never_open);
  if (fd < 0) return {};
  // Only the end of a long journal: the page never holds more than
  // kJournalShown of it, beginning at a whole line.
  struct stat st {};
  const off_t size = ::fstat(fd, &st) == 0 ? st.st_size : 0;
  const off_t from = size > kJournalShown ? size - kJournalShown : 0;
  std::string text(static_cast<size_t>(size - from), '\0');
  const ssize_t got = ::pread(fd, text.data(), text.size(), from);
  ::close(fd);
  text.resize(got > 0 ? static_cast<size_t>(got) : 0);
  if (from > 0) text.erase(0, std::min(text.size(), text.find('\n') + 1));
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  size_t begin = 0;
  while (begin < text.size()) {
    size_t end = text.find('\n', begin);
    if (end == std::string::npos) end = text.size();
    size_t stop = end;
    if (stop > begin && text[stop - 1] == '\r') --stop;
    out.append(text, begin, stop - begin);
    out += "\r\n";
    begin = end + 1;
  }
  return out;
}

std::string Journal(const PageContext& page, std::string_view day_file) {
  const auto chosen = JournalFileName(day_file);
  std::string out = Links();
  out += "<center>";
  out += TitleBar("&nbsp;Journal -", page.clock, "");
  out += "</center>\r\n";
  out +=
      "<center><table width=\"600\"><tr><td>"
      "<table width=\"100%\" style=\"font-size:10pt\">"
      "<form method=\"get\"><tr style=\"font-size:10pt\">"
      "<td valign=\"top\" width=\"31%\">";
  out += MakeLogList(page, "All", chosen.value_or(""));
  out +=
      "<input type=\"submit\" value=\"View\"></td></tr></form>\r\n"
      "<tr style=\"font-size:10pt\"><td valign=\"top\" width=\"69%\">"
      "<textarea rows=\"27\" cols=\"72\">";
  if (!day_file.empty()) out += HtmlEscape(GetLogFile(page, day_file));
  out +=
      "</textarea></td></tr></table>\r\n"
      "<p align=\"center\">&nbsp;</p><p align=\"center\">&nbsp;</p>"
      "<p align=\"center\">&nbsp;</p></td><td></td></tr></table></center>";
  return out;
}

std::string OptionsPage(const PageContext& page, RegistryRoutines& reg) {
  reg.SetSubkey(kCallsSection);
  const bool record = ReadBoolean(reg, "chkDetectPickUp");
  reg.SetSubkey(kAnswerSection);
  const bool answer = ReadBoolean(reg, "chkRunAnsIfNotAnswered");
  int16_t rings = 0;
  if (OptionToInt16(reg.GetRegistryValue("txtNumOfRing"), rings) != 0)
    rings = 0;
  const bool messages = ReadBoolean(reg, "cmdRecordMessage");

  std::string ring_select = "<select size=\"1\" name=\"NumOfRings\">";
  for (int n = 1; n <= 20; ++n) {
    ring_select += n == rings ? "<option selected>" : "<option>";
    ring_select += std::to_string(n) + "</option>";
  }
  ring_select += "</select>";

  std::string out = "<form method=\"POST\"><center>";
  out += TitleBar("Options", page.clock, "| ");
  out += "<table width=\"600\">\r\n";
  out += SettingRow("Record Incoming calls",
                    OnOffSelect("RunCallRecordWare", record, "On", "Off"));
  out += SettingRow("Run answering machine",
                    OnOffSelect("RunAnsweringMachine", answer, "On", "Off"));
  out += SettingRow("Ring to answer", ring_select);
  out += SettingRow("Get Messages from caller",
                    OnOffSelect("GetMessages", messages, "Yes", "No"));
  out +=
      "<tr><td width=\"50%\" valign=\"top\"></td><td width=\"50%\" "
      "valign=\"top\"><input type=\"submit\" value=\"Update\" "
      "style=\"float: right\"></td></tr>\r\n"
      "</table></center></form>";
  return out;
}

void SaveOptions(std::string_view request, RegistryRoutines& reg,
                 lw::Journal& journal) {
  const size_t last_break = request.rfind("\r\n");
  const std::string_view body = last_break == std::string_view::npos
                                    ? request
                                    : request.substr(last_break + 2);
  if (body.empty()) return;

  auto lower = [](std::string_view v) {
    std::string s(v);
    for (char& c : s) c = static_cast<char>(tolower(c));
    return s;
  };
  auto write = [&](const char* section, const char* name,
                   const std::string& value) {
    reg.SetSubkey(section);
    if (reg.SetRegistryValue(name, value, REG_SZ)) return;
    const std::string text = std::string("ErrWWWSetOptions:") +
                             "the settings store did not take " + name +
                             " in " + section + " (1)";
    journal.LogWWW(text);
    journal.LogSys(text, 0, "");
  };

  size_t begin = 0;
  while (begin <= body.size()) {
    size_t end = body.find('&', begin);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view piece = body.substr(begin, end - begin);
    auto value_of = [&](std::string_view key) {
      return piece.size() > key.size() ? piece.substr(key.size() + 1)
                                       : std::string_view();
    };
    auto has = [&](std::string_view key) {
      return piece.find(key) != std::string_view::npos;
    };
    if (has("RunCallRecordWare"))
      write(kCallsSection, "chkDetectPickUp",
            lower(value_of("RunCallRecordWare")) == "on" ? "1" : "0");
    if (has("RunAnsweringMachine"))
      write(kAnswerSection, "chkRunAnsIfNotAnswered",
            lower(value_of("RunAnsweringMachine")) == "on" ? "1" : "0");
    if (has("NumOfRings"))
      write(kAnswerSection, "txtNumOfRing",
            std::string(value_of("NumOfRings")));
    if (has("GetMessages"))
      write(kAnswerSection, "cmdRecordMessage",
            lower(value_of("GetMessages")) == "yes" ? "1" : "0");
    // "AllowPhoneRC" and "AllowWWWRC" are recognised and change nothing.
    begin = end + 1;
  }
}

}  // namespace lw::web
