#include "notify/webhook_request.h"

#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "base/text.h"
#include "callstore/call_id.h"
#include "journal/regional.h"

namespace lw {

namespace {

using Json = nlohmann::ordered_json;

// "2026-12-08T10:15:30+01:00" from the stored local date and time; empty
// when they are not a date and a time.
std::string IsoTimeWithOffset(std::string_view date, std::string_view time) {
  const auto day = ParseShortDate(date);
  const auto clock = ParseLongTime(time);
  if (!day || !clock) return {};
  tm t{};
  t.tm_year = day->year - 1900;
  t.tm_mon = day->month - 1;
  t.tm_mday = day->day;
  t.tm_hour = clock->hour;
  t.tm_min = clock->minute;
  t.tm_sec = clock->second;
  t.tm_isdst = -1;
  const tm asked = t;
  if (mktime(&t) == -1) return {};
  // Offsets lie within a day; the clamp also bounds the text's length.
  const long offset = std::clamp<long>(t.tm_gmtoff / 60, -1439, 1439);
  const long minutes = offset < 0 ? -offset : offset;
  char text[96];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02ld:%02ld",
                asked.tm_year + 1900, asked.tm_mon + 1, asked.tm_mday,
                asked.tm_hour, asked.tm_min, asked.tm_sec,
                offset < 0 ? '-' : '+', minutes / 60, minutes % 60);
  return text;
}

// A header name is a token: letters, digits and !#$%&'*+-.^_`|~.
bool IsHeaderName(std::string_view name) {
  if (name.empty()) return false;
  for (char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if (!(std::isalnum(u) || std::strchr("!#$%&'*+-.^_`|~", c) != nullptr))
      return false;
  }
  return true;
}

bool HasControlCharacter(std::string_view value) {
  for (char c : value) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7f) return true;
  }
  return false;
}

}  // namespace

std::string WebhookBody(const StoredCall& call, const std::string& web_base) {
  const CallRecord& r = call.record;
  const std::string type = FieldText(r.call_type);
  Json body = Json::object();
  body["type"] = TypeWords(type, call.blocked);
  body["name"] = FieldText(r.caller_name);
  body["number"] = FieldText(r.caller_number);
  body["contact"] = call.contact;
  const std::string time =
      IsoTimeWithOffset(FieldText(r.date), FieldText(r.time));
  body["time"] = time.empty() ? Json(nullptr) : Json(time);
  body["length"] = LengthSeconds(FieldText(r.length));
  if (web_base.empty() || !call.has_recording || call.id.empty()) {
    body["recording"] = nullptr;
  } else {
    std::string address = web_base;
    AppendRecordingAddress(address, call.id);
    body["recording"] = address;
  }
  body["new"] = type == kCallTypeVoiceMessage && r.read_mark[0] != '1';
  body["id"] = call.id.empty() ? Json(nullptr) : Json(call.id);
  // Caller identification is text a stranger controls: bytes that are not
  // UTF-8 become U+FFFD instead of failing the request.
  return body.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string WebBase(const CallOptions& options) {
  if (options.web_allowed == 0) return {};
  std::string host(Trim(options.web_listen, " "));
  if (host.empty() || host == "0.0.0.0" || host == "::") {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return {};
    host = name;
  }
  if (host.find(':') != std::string::npos) host = "[" + host + "]";
  return "http://" + host + ":" + std::to_string(options.web_port);
}

std::vector<std::string> WebhookHeaderLines(const std::string& text,
                                            std::vector<int>& bad_lines) {
  std::vector<std::string> lines;
  int number = 0;
  size_t at = 0;
  while (at <= text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    ++number;
    const std::string_view line =
        Trim(std::string_view(text).substr(at, end - at), " \t\r");
    at = end + 1;
    if (line.empty()) continue;
    const size_t colon = line.find(':');
    const std::string_view name =
        colon == std::string_view::npos ? line : line.substr(0, colon);
    const std::string_view value = colon == std::string_view::npos
                                       ? std::string_view()
                                       : Trim(line.substr(colon + 1), " \t");
    if (colon == std::string_view::npos || !IsHeaderName(name) ||
        HasControlCharacter(value)) {
      bad_lines.push_back(number);
      continue;
    }
    lines.push_back(std::string(name) + ": " + std::string(value));
  }
  return lines;
}

WebhookRequest WebhookRequestTo(const CallOptions& options, std::string body,
                                std::vector<int>& bad_lines) {
  WebhookRequest request;
  request.url = std::string(Trim(options.webhook_url, " \t\r\n"));
  request.headers = WebhookHeaderLines(options.webhook_headers, bad_lines);
  request.body = std::move(body);
  return request;
}

WebhookRequest WebhookRequestForCall(const StoredCall& call,
                                     const CallOptions& options,
                                     std::vector<int>& bad_lines) {
  return WebhookRequestTo(options, WebhookBody(call, WebBase(options)),
                          bad_lines);
}

std::string UrlHost(const std::string& url) {
  std::string_view rest = url;
  const size_t scheme = rest.find("://");
  if (scheme == std::string::npos) return {};
  rest = rest.substr(scheme + 3);
  rest = rest.substr(0, rest.find_first_of("/?#"));
  if (const size_t at = rest.rfind('@'); at != std::string::npos)
    rest = rest.substr(at + 1);
  if (rest.starts_with("["))
    return std::string(rest.substr(0, rest.find(']') + 1));
  return std::string(rest.substr(0, rest.find(':')));
}

}  // namespace lw
