// The owner's second interface beside the calls, journal and options pages:
// the page "/app/" and the JSON interface it uses ("/api/calls",
// "/api/calls/{id}/heard", "/api/calls/{id}/recording", "/api/events").
//
// A call is named by its identity in the store (CallId, callstore/call_id.h).
//
// Every answer of this interface is a whole HTTP/1.1 answer (status line and
// headers, UTF-8), whatever "chkWWWHttpHeaders" says for the old pages. The
// event stream and recordings are long answers: the dispatcher only names
// them (WebReply::kEvents, kRecording) and the server hands the connection
// to AppStreams (app_streams.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "callstore/call_id.h"
#include "callstore/call_record.h"
#include "devices/clock.h"
#include "journal/journal.h"
#include "web/dispatch.h"

namespace lw {

class CallStore;

namespace web {

using lw::CallId;
using lw::ParseCallId;
using lw::TypeWords;

// One entry of the latest-call list as the interface shows it.
struct CallView {
  std::string id;
  CallRecord record{};
  std::string contact;    // the contact it matched; empty when none
  bool blocked = false;   // the matched contact blocks this caller
  std::string recording;  // native path of an existing recording, or empty
};

// The list's calls, newest first. Entries whose record cannot be read or
// whose folder is not a day folder are left out.
std::vector<CallView> ListCalls(const CallStore& store);

// The JSON object of one call (see README: id, type, name, number, contact,
// time, length, heard, recording).
std::string CallJson(const CallView& call);
// The JSON array of the calls, newest first.
std::string CallsJson(const std::vector<CallView>& calls);

// A request of this interface: its method and the path of its target (query
// removed, not lowercased). nullopt when the target is not "/app", "/app/…"
// or "/api/…".
struct AppRequest {
  std::string method;
  std::string path;
};
std::optional<AppRequest> AppRequestOf(std::string_view request);

// A whole HTTP/1.1 answer with Content-Length and "Connection: close".
std::string HttpAnswer(std::string_view status, std::string_view type,
                       std::string_view body);

// The page "/app/": HTML with its style and script, UTF-8.
std::string_view AppPage();

class AppRoutes {
 public:
  // Everything referred to outlives the routes.
  AppRoutes(Clock& clock, Journal& journal, std::string app_path,
            WebOptions options, std::string_view page_token);
  // The answer to a request of this interface (authorization checked here,
  // so the refusal is an HTTP/1.1 answer too).
  WebReply Handle(const AppRequest& app, std::string_view request);

 private:
  WebReply Route(const AppRequest& app, std::string_view request);

  Clock& clock_;
  Journal& journal_;
  std::string app_path_;
  WebOptions options_;
  std::string_view page_token_;  // see IsSameOrigin
};

}  // namespace web
}  // namespace lw
