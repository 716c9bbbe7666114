// The webhook request of a stored call: the owner's URL and extra header
// lines ("Forward\Webhook") and a JSON body with the call's details, the
// same words and identity as the web interface's "/api/calls". Building a
// request is kept apart from posting it, so a request can wait and be sent
// later as it was built.
#pragma once

#include <string>
#include <vector>

#include "callstore/call_record.h"
#include "devices/webhook.h"
#include "settings/call_options.h"

namespace lw {

// A call as it was stored at its end.
struct StoredCall {
  CallRecord record{};         // its record, the type settled
  std::string id;              // identity in the store; empty when not stored
  std::string contact;         // the matched contact's name, or empty
  bool blocked = false;        // the caller was blocked
  bool has_recording = false;  // its recording is on disk
};

// The JSON object of a call: type (in words), name, number, contact, time
// (ISO 8601 with the local offset, null when the record holds no time),
// length (seconds), recording (its URL on the web interface, null when the
// web interface is off or the call has none), new (an unheard message) and
// id (null when the call was not stored). `web_base` is the web interface's
// "http://host:port", or empty when it is off.
std::string WebhookBody(const StoredCall& call, const std::string& web_base);

// "http://host:port" of the web interface as the options set it up, empty
// when it is off: the address it listens on when one is named, else this
// machine's host name.
std::string WebBase(const CallOptions& options);

// The header lines of "txtWebhookHeaders", one per line, each as
// "Name: value"; blank lines are skipped, and so are lines that are not a
// header, whose numbers (from 1) go into `bad_lines`.
std::vector<std::string> WebhookHeaderLines(const std::string& text,
                                            std::vector<int>& bad_lines);

// A request of `body` to the URL with the header lines the options set
// now. The numbers of header lines left out go into `bad_lines`.
WebhookRequest WebhookRequestTo(const CallOptions& options, std::string body,
                                std::vector<int>& bad_lines);

// The request of `call` as the options say. The numbers of header lines
// left out go into `bad_lines`.
WebhookRequest WebhookRequestForCall(const StoredCall& call,
                                     const CallOptions& options,
                                     std::vector<int>& bad_lines);

// The host a URL names ("http://user@host:8080/x" gives "host"; empty for
// a text without "scheme://"): what the journal tells of a URL, whose path,
// query and user part may hold a secret.
std::string UrlHost(const std::string& url);

}  // namespace lw
