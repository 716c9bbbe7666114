#include "web/calls_api.h"

#include <dirent.h>

#include <charconv>
#include <exception>
#include <nlohmann/json.hpp>
#include <unordered_map>
#include <unordered_set>

#include "base/paths.h"
#include "callstore/call_store.h"
#include "journal/regional.h"
#include "web/request.h"

namespace lw::web {
namespace {

constexpr std::string_view kCallsPath = "/api/calls";
constexpr std::string_view kEventsPath = "/api/events";

bool AllDigits(std::string_view text) {
  return !text.empty() &&
         text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool ParseNumber(std::string_view text, int64_t& n) {
  const auto [end, err] =
      std::from_chars(text.data(), text.data() + text.size(), n);
  return AllDigits(text) && err == std::errc() &&
         end == text.data() + text.size();
}

// "2005-03-15T10:15:30" from the stored date and time texts (local time, as
// stored); the date alone when the time is not one; empty when neither is.
std::string IsoTime(std::string_view date, std::string_view time) {
  const auto day = ParseShortDate(date);
  if (!day) return {};
  std::string text;
  const auto put = [&text](int value, int digits, char after) {
    for (int unit = digits == 4 ? 1000 : 10; unit > 0; unit /= 10)
      text += static_cast<char>('0' + value / unit % 10);
    if (after != 0) text += after;
  };
  put(day->year, 4, '-');
  put(day->month, 2, '-');
  if (const auto clock = ParseLongTime(time)) {
    put(day->day, 2, 'T');
    put(clock->hour, 2, ':');
    put(clock->minute, 2, ':');
    put(clock->second, 2, 0);
  } else {
    put(day->day, 2, 0);
  }
  return text;
}

// Seconds of a stored length "H:MM:SS" (0 when it is not one).
int64_t LengthSeconds(std::string_view length) {
  int64_t total = 0;
  int parts = 0;
  while (!length.empty()) {
    const size_t colon = length.find(':');
    int64_t n = 0;
    if (!ParseNumber(length.substr(0, colon), n) || ++parts > 3) return 0;
    total = total * 60 + n;
    length = colon == std::string_view::npos ? std::string_view()
                                             : length.substr(colon + 1);
  }
  return total;
}

WebReply Text(std::string_view status, std::string_view type,
              std::string_view body) {
  return {WebReply::kText, HttpAnswer(status, type, body)};
}

WebReply NotFound() {
  return Text("404 Not Found", "text/plain; charset=utf-8", "Not Found\r\n");
}

}  // namespace

std::string CallId(std::string_view day_folder, int64_t record_number) {
  // "\Data\Log\" + "YYYY\MM\DD\"
  constexpr std::string_view kLog = "\\data\\log\\";
  if (day_folder.size() != kLog.size() + 11 || record_number < 1) return {};
  for (size_t i = 0; i < kLog.size(); ++i)
    if ((day_folder[i] | 0x20) != kLog[i] && day_folder[i] != kLog[i])
      return {};
  const std::string_view day = day_folder.substr(kLog.size());
  if (!AllDigits(day.substr(0, 4)) || day[4] != '\\' ||
      !AllDigits(day.substr(5, 2)) || day[7] != '\\' ||
      !AllDigits(day.substr(8, 2)) || day[10] != '\\')
    return {};
  std::string id;
  id += day.substr(0, 4);
  id += day.substr(5, 2);
  id += day.substr(8, 2);
  return id + '-' + std::to_string(record_number);
}

bool ParseCallId(std::string_view id, std::string& day_folder,
                 int64_t& record_number) {
  // One text per call: a number with a leading zero names no call.
  if (id.size() < 10 || id[8] != '-' || id[9] == '0' ||
      !AllDigits(id.substr(0, 8)) ||
      !ParseNumber(id.substr(9), record_number) || record_number < 1)
    return false;
  day_folder = std::string(CallStore::kLogFolder);
  day_folder += id.substr(0, 4);
  day_folder += '\\';
  day_folder += id.substr(4, 2);
  day_folder += '\\';
  day_folder += id.substr(6, 2);
  day_folder += '\\';
  return true;
}

std::vector<CallView> ListCalls(const CallStore& store) {
  std::vector<std::string> lines;
  store.ReadLastCalls(lines);
  // One reading of the contact file: the contact a call shows is
  // GetContactName's, its blocking the contact the call's own lookup found.
  const ContactMatcher contacts = store.contacts().Matcher();
  // The files of each day folder, listed once: a thousand calls of a few
  // days cost a few listings instead of a look-up each.
  std::unordered_map<std::string, std::unordered_set<std::string>> listed;
  const auto HasFile = [&listed](const std::string& path) {
    const size_t slash = path.rfind('/');
    const std::string folder = path.substr(0, slash);
    auto [files, fresh] = listed.try_emplace(folder);
    if (fresh) {
      if (DIR* d = opendir(folder.c_str())) {
        while (const dirent* e = readdir(d))
          if (e->d_type == DT_REG || e->d_type == DT_UNKNOWN)
            files->second.emplace(e->d_name);
        closedir(d);
      }
    }
    return files->second.contains(path.substr(slash + 1));
  };
  std::vector<CallView> calls;
  calls.reserve(lines.size());
  CallStore::RecordReader reader(store);
  for (const std::string& line : lines) {
    int64_t number = 0;
    std::string folder;
    CallView call;
    if (!SplitLastCallLine(line, number, folder)) continue;
    call.id = CallId(folder, number);
    if (call.id.empty() || !reader.Read(call.record, folder, number)) continue;
    const std::string phone = FieldText(call.record.caller_number);
    if (const ContactMatcher::Entry* named =
            contacts.Named(FieldText(call.record.caller_name), phone))
      call.contact = named->name;
    if (const size_t found = contacts.Find(phone);
        found != ContactMatcher::kNone)
      call.blocked = contacts.entries()[found].blocks;
    if (std::string path = store.RecordingPath(call.record);
        !path.empty() && HasFile(path))
      call.recording = std::move(path);
    calls.push_back(std::move(call));
  }
  return calls;
}

std::string_view TypeWords(std::string_view code, bool blocked) {
  code = TrimField(code);
  if (code == kCallTypeIncoming) return blocked ? "blocked" : "missed";
  if (code == kCallTypeOutgoing) return "outgoing";
  if (code == kCallTypeVoiceMessage) return "message";
  if (code == kCallTypeIncomingRecorded || code == kCallTypeOutgoingRecorded)
    return "recorded call";
  return "unknown";
}

namespace {

using Json = nlohmann::ordered_json;

Json CallObject(const CallView& call) {
  const CallRecord& r = call.record;
  Json object = Json::object();
  // The fields go in as they are made, without the initializer list's
  // copies: the list answer builds a thousand of these.
  auto& fields = object.get_ref<Json::object_t&>();
  fields.reserve(9);
  fields.emplace_back("id", call.id);
  fields.emplace_back(
      "type",
      TypeWords(TrimField(std::string_view(r.call_type, sizeof r.call_type)),
                call.blocked));
  fields.emplace_back("name", FieldText(r.caller_name));
  fields.emplace_back("number", FieldText(r.caller_number));
  fields.emplace_back("contact", call.contact);
  fields.emplace_back("time", IsoTime(FieldText(r.date), FieldText(r.time)));
  fields.emplace_back("length", LengthSeconds(FieldText(r.length)));
  fields.emplace_back("heard", r.read_mark[0] == '1');
  if (call.recording.empty())
    fields.emplace_back("recording", nullptr);
  else
    fields.emplace_back("recording",
                        std::string(kCallsPath) + "/" + call.id + "/recording");
  return object;
}

// Caller identification is text a stranger controls: bytes that are not
// UTF-8 become U+FFFD instead of failing the answer.
std::string Dump(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace

std::string CallJson(const CallView& call) { return Dump(CallObject(call)); }

std::string CallsJson(const std::vector<CallView>& calls) {
  Json array = Json::array();
  array.get_ref<Json::array_t&>().reserve(calls.size());
  for (const CallView& call : calls) array.push_back(CallObject(call));
  return Dump(array);
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
