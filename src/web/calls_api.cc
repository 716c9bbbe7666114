#include "web/calls_api.h"

#include <dirent.h>

#include <exception>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "base/paths.h"
#include "callstore/call_store.h"
#include "web/request.h"

namespace lw::web {
namespace {

constexpr std::string_view kCallsPath = kCallsAddress;
constexpr std::string_view kEventsPath = "/api/events";

// The names of the regular files in each folder asked about, each folder
// listed once.
class FolderFiles {
 public:
  // True when `path` (native) names a listed file.
  bool Has(std::string_view path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return false;
    const std::string_view folder = path.substr(0, slash);
    auto files = folders_.find(folder);
    if (files == folders_.end()) {
      files = folders_.emplace(std::string(folder), Names()).first;
      if (DIR* d = opendir(files->first.c_str())) {
        while (const dirent* e = readdir(d))
          if (e->d_type == DT_REG || e->d_type == DT_UNKNOWN)
            files->second.emplace(e->d_name);
        closedir(d);
      }
    }
    return files->second.contains(path.substr(slash + 1));
  }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view name) const {
      return std::hash<std::string_view>()(name);
    }
  };
  using Names = std::unordered_set<std::string, Hash, std::equal_to<>>;
  std::map<std::string, Names, std::less<>> folders_;
};

WebReply Text(std::string_view status, std::string_view type,
              std::string_view body) {
  return {WebReply::kText, HttpAnswer(status, type, body)};
}

WebReply NotFound() {
  return Text("404 Not Found", "text/plain; charset=utf-8", "Not Found\r\n");
}

}  // namespace

std::vector<CallView> ListCalls(const CallStore& store) {
  std::vector<std::string> lines;
  store.ReadLastCalls(lines);
  // One reading of the contact file for every call.
  const ContactMatcher contacts = store.contacts().Matcher();
  // The files of each day folder, listed once: a thousand calls of a few
  // days cost a few listings instead of a look-up each.
  FolderFiles listed;
  const auto HasFile = [&listed](std::string_view path) {
    return listed.Has(path);
  };
  std::vector<CallView> calls;
  calls.reserve(lines.size());
  CallStore::RecordReader reader(store);
  std::string folder;  // kept between lines: its room is reused
  for (const std::string& line : lines) {
    int64_t number = 0;
    CallView call;
    if (!SplitLastCallLine(line, number, folder)) continue;
    call.id = CallId(folder, number);
    if (call.id.empty() || !reader.Read(call.record, folder, number)) continue;
    const std::string phone = FieldText(call.record.caller_number);
    // The contact shown is the one of the same caller name and number, or
    // else the one the number matches, as the call's own lookup found it: a
    // blocked number's contact shows even when its caller name differs.
    const ContactMatcher::Entry* named =
        contacts.Named(FieldText(call.record.caller_name), phone);
    if (const size_t found = contacts.Find(phone);
        found != ContactMatcher::kNone) {
      call.blocked = contacts.entries()[found].blocks;
      if (named == nullptr) named = &contacts.entries()[found];
    }
    if (named != nullptr) call.contact = named->name;
    if (std::string path = store.RecordingPath(call.record);
        !path.empty() && HasFile(path))
      call.recording = std::move(path);
    calls.push_back(std::move(call));
  }
  return calls;
}

std::optional<AppRequest> AppRequestOf(std::string_view request) {
  const size_t line_end = request.find_first_of("\r\n");
  const std::string_view line = request.substr(0, line_end);
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos || blank == 0) return std::nullopt;
  std::string_view target = line.substr(blank + 1);
  target = target.substr(0, target.find(' '));
  target = target.substr(0, target.find('?'));
  if (target != "/app" && target.rfind("/app/", 0) != 0 &&
      target.rfind("/api/", 0) != 0)
    return std::nullopt;
  return AppRequest{std::string(line.substr(0, blank)), std::string(target)};
}

std::string HttpAnswer(std::string_view status, std::string_view type,
                       std::string_view body) {
  std::string answer = "HTTP/1.1 ";
  answer += status;
  answer += "\r\nContent-Type: ";
  answer += type;
  answer += "\r\nContent-Length: " + std::to_string(body.size()) +
            "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n";
  answer += body;
  return answer;
}

AppRoutes::AppRoutes(Clock& clock, Journal& journal, std::string app_path,
                     WebOptions options, std::string_view page_token)
    : clock_(clock),
      journal_(journal),
      app_path_(std::move(app_path)),
      options_(options),
      page_token_(page_token) {}

WebReply AppRoutes::Handle(const AppRequest& app, std::string_view request) {
  try {
    if (options_.RCWWWProtect == 1 &&
        !HasBasicCredential(request, options_.RCWWWUserName,
                            options_.RCWWWPass))
      return {WebReply::kText,
              "HTTP/1.1 401 Access Denied\r\n"
              "WWW-Authenticate: Basic realm=\"StatisticsServer\"\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n"};
    return Route(app, request);
  } catch (const std::exception& e) {
    const std::string text = std::string("errDataArrival:") + e.what() + " (0)";
    journal_.LogWWW(text);
    journal_.LogSys(text, 0, "");
    return Text("500 Internal Server Error", "text/plain; charset=utf-8",
                "Internal Error\r\n");
  }
}

WebReply AppRoutes::Route(const AppRequest& app, std::string_view request) {
  const std::string& path = app.path;
  const bool get = app.method == "GET";
  if (path == "/app")
    return {WebReply::kText,
            "HTTP/1.1 301 Moved Permanently\r\nLocation: /app/\r\n"
            "Content-Length: 0\r\nConnection: close\r\n\r\n"};
  if (path == "/app/")
    return get ? Text("200 OK", "text/html; charset=utf-8", AppPage())
               : Text("405 Method Not Allowed", "text/plain", "");
  if (path == kEventsPath && get) return {WebReply::kEvents, {}};

  CallStore store(app_path_, clock_);
  if (path == kCallsPath)
    return get ? Text("200 OK", "application/json; charset=utf-8",
                      CallsJson(ListCalls(store)))
               : Text("405 Method Not Allowed", "text/plain", "");
  if (path.rfind(kCallsPath, 0) != 0 || path[kCallsPath.size()] != '/')
    return NotFound();

  // "/api/calls/{id}" and "/api/calls/{id}/{what}"
  const std::string_view rest =
      std::string_view(path).substr(kCallsPath.size() + 1);
  const size_t slash = rest.find('/');
  const std::string_view id = rest.substr(0, slash);
  const std::string_view what = slash == std::string_view::npos
                                    ? std::string_view()
                                    : rest.substr(slash + 1);
  std::string folder;
  int64_t number = 0;
  CallRecord record{};
  if (!ParseCallId(id, folder, number) ||
      !store.ReadCallRecord(record, folder, number))
    return NotFound();

  const bool change = app.method == "POST" || app.method == "DELETE";
  if (change && !IsSameOrigin(request, page_token_)) {
    journal_.LogWWW("The change of call " + std::string(id) +
                    " came from another site and was refused");
    return Text("403 Forbidden", "text/plain", "Forbidden\r\n");
  }
  if (what.empty() && app.method == "DELETE") {
    if (!store.RemoveCall(number, folder)) return NotFound();
    return Text("200 OK", "application/json; charset=utf-8", "{}");
  }
  if (what == "heard" && app.method == "POST") {
    store.SetReadMark(number, folder, "1");
    return Text("200 OK", "application/json; charset=utf-8", "{}");
  }
  if (what == "recording" && get) {
    std::string recording = store.RecordingPath(record);
    if (recording.empty()) return NotFound();
    return {WebReply::kRecording, std::move(recording),
            NativePath(app_path_, "\\Data\\Log")};
  }
  return NotFound();
}

}  // namespace lw::web
