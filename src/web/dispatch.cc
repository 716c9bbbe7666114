#include "web/dispatch.h"

#include <charconv>
#include <cstdio>
#include <exception>
#include <random>

#include "base/paths.h"
#include "callstore/call_store.h"
#include "settings/call_options.h"
#include "web/calls_api.h"
#include "web/folder_file.h"
#include "web/pages.h"
#include "web/request.h"

namespace lw {

std::string StatusHead(std::string_view status, std::string_view type,
                       uint64_t length) {
  std::string head = "HTTP/1.0 ";
  head += status;
  head += "\r\nContent-Type: ";
  head += type;
  head += "\r\nContent-Length: " + std::to_string(length) +
          "\r\nConnection: close\r\n\r\n";
  return head;
}

WebDispatcher::WebDispatcher(Clock& clock, SettingsStore& store,
                             Journal& journal, std::string app_path,
                             WebOptions options, bool http_headers)
    : clock_(clock),
      journal_(journal),
      reg_(store),
      never_open_(store.FilePath()),
      app_path_(std::move(app_path)),
      options_(options),
      http_headers_(http_headers) {
  std::random_device random;
  for (int i = 0; i < 4; ++i) {
    char part[9];
    std::snprintf(part, sizeof part, "%08x", random());
    page_token_ += part;
  }
}

void KeepAlive(WebReply& reply) {
  if (reply.kind == WebReply::kRecording) reply.keep_alive = true;
  if (reply.kind != WebReply::kText) return;
  constexpr std::string_view kClose = "\r\nConnection: close\r\n";
  const size_t at = reply.body.find(kClose);
  if (at == std::string::npos || at > reply.body.find("\r\n\r\n")) return;
  reply.body.replace(at, kClose.size(), "\r\nConnection: keep-alive\r\n");
  reply.keep_alive = true;
}

bool PasswordSet(const WebOptions& options) {
  return options.RCWWWProtect == 1 && !options.RCWWWPass.empty();
}

void WebDispatcher::LogError(const std::string& text) {
  journal_.LogWWW(text);
  journal_.LogSys(text, 0, "");
}

WebReply WebDispatcher::Handle(const std::string& request) {
  journal_.LogWWW(RequestForJournal(request));
  if (!PasswordSet(options_) && !IsAllowedHost(request, listen_address_)) {
    LogError("errDataArrival:the Host " +
             JournalShown(HeaderValue(request, "Host").value_or("")) +
             " is not this machine; refused (403)");
    return {WebReply::kText, StatusHead("403 Forbidden", "text/plain", 0)};
  }
  // The owner's interface ("/app/", "/api/") answers in HTTP/1.1 always.
  if (const auto app = web::AppRequestOf(request)) {
    WebReply reply =
        web::AppRoutes(clock_, journal_, app_path_, options_, page_token_)
            .Handle(*app, request);
    if (WantsKeepAlive(request)) KeepAlive(reply);
    return reply;
  }
  if (request.compare(0, 3, "GET") != 0 && request.compare(0, 4, "POST") != 0)
    return {};
  try {
    std::string path;
    if (auto p = RequestPathOf(request)) {
      path = std::move(*p);
    } else {
      // The failed step leaves the path empty: the calls list.
      LogError(
          "errDataArrival:the request line has no blank after the path (5)");
    }
    if (options_.RCWWWProtect == 1 &&
        !HasBasicCredential(request, options_.RCWWWUserName,
                            options_.RCWWWPass)) {
      if (!http_headers_) return {WebReply::kText, DeniedPage()};
      return {WebReply::kText,
              "HTTP/1.0 401 Access Denied\r\n"
              "Server: Statistics Server 5.0\r\n"
              "WWW-Authenticate: Basic realm=\"StatisticsServer\"\r\n"
              "Content-Type: text/html\r\n"
              "Content-Length: 0\r\nConnection: close\r\n\r\n"};
    }
    if (path.empty() || path.back() == '/') path = "calls";
    WebReply reply = Route(request, path);
    if (reply.kind == WebReply::kText && http_headers_)
      reply.body =
          StatusHead("200 OK", "text/html; charset=utf-8", reply.body.size()) +
          reply.body;
    return reply;
  } catch (const std::exception& e) {
    LogError(std::string("errDataArrival:") + e.what() + " (0)");
    return {WebReply::kRefused, {}};
  }
}

WebReply WebDispatcher::Route(const std::string& request,
                              const std::string& path) {
  const web::PageContext page{app_path_, clock_, &never_open_};
  bool view_log = false;
  OptionToBoolean(RegValue(options_.RCWWWViewLog), view_log);

  if (path == "calls" && options_.RCWWWViewCalls != 0)
    return {WebReply::kText, web::TopPage() + web::Links() + "\r\n" +
                                 web::LastCalls(page, http_headers_) +
                                 web::BottomPage()};
  if (path.find("journal?dt=") != std::string::npos)
    return {WebReply::kText,
            web::TopPage() +
                web::Journal(page, path.size() > 11 ? path.substr(11) : "")};
  if (const size_t at = path.find("del?call="); at != std::string::npos) {
    const std::string number = path.substr(at + 9);
    int64_t n = 0;
    const auto [end, err] =
        std::from_chars(number.data(), number.data() + number.size(), n);
    if (err != std::errc() || end != number.data() + number.size()) {
      n = 0;
      LogError("errDataArrival:the call number " + JournalShown(number) +
               " is not a number (13)");
    }
    if (n > 0) CallStore(app_path_, clock_).RemoveFromLastCalls(n);
    return {WebReply::kText, web::TopPage() + web::Links() + "\r\n" +
                                 web::LastCalls(page, http_headers_)};
  }
  if (path == "options") {
    const bool submitted =
        request.find("RunAnsweringMachine=") != std::string::npos;
    if (submitted && IsSameOrigin(request, page_token_)) {
      web::SaveOptions(request, reg_, journal_);
    } else if (submitted) {
      LogError(
          "errDataArrival:options sent from a page of another site; not "
          "saved (403)");
    }
    return {WebReply::kText,
            web::TopPage() + web::Links() + web::OptionsPage(page, reg_)};
  }
  if (path == "journal" && view_log)
    return {WebReply::kText, web::TopPage() + web::Journal(page, "")};
  if (const size_t slash = path.find('/');
      slash != std::string::npos && path.compare(0, slash, "messages") == 0) {
    // Recordings only: the day folders below "\Data\Log\".
    const std::string rest = path.substr(8);
    if (rest.compare(0, 10, "/data/log/") != 0 || !IsContainedPath(rest))
      return {WebReply::kRefused, {}};
    return FileReply("\\Data\\Log", PathFromUrl(rest.substr(9)));
  }
  const std::string segment = LastUrlSegment(path);
  if (segment.empty() || !IsContainedPath(segment))
    return {WebReply::kRefused, {}};
  return FileReply("\\WWW", "\\" + segment);
}

WebReply WebDispatcher::FileReply(const std::string& folder,
                                  const std::string& sub) {
  // The browser sends a blank as "%20" and the bytes of other characters
  // as "%XX"; the checked path holds no encoded dot or separator.
  std::string path = PercentDecode(sub);
  for (char& c : path)
    if (c == '/') c = '\\';
  std::string root = NativePathNoCase(app_path_, folder);
  std::string native = NativePathNoCase(root, path);
  return {WebReply::kFile, std::move(native), std::move(root)};
}

}  // namespace lw
