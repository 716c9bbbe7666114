// The webhook control: sends one HTTP POST with a JSON body (a call's
// details) to a URL the owner chose, and reports its completion as an event.
//
// Contract shared by every implementation:
// - Post returns at once; the request runs outside the loop thread and its
//   Complete is delivered on the loop thread, never inside Post.
// - Requests are carried out one after another in the order given; each
//   raises exactly one Complete.
// - No operation throws. Header values (tokens, passwords) never reach an
//   error text, a journal line or a log line.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lw {

struct WebhookEvents {
  // The current request is finished: `result` 0 = the server answered with
  // a 2xx status; anything else = it was not delivered (text from
  // ErrorText).
  std::function<void(int32_t result)> Complete;
};

// One request to send.
struct WebhookRequest {
  std::string url;  // "http://…" or "https://…"
  // Extra header lines "Name: value", sent as they are.
  std::vector<std::string> headers;
  std::string body;  // JSON, sent as application/json
};

class Webhook {
 public:
  virtual ~Webhook() = default;

  virtual void SetEvents(WebhookEvents events) = 0;

  // Queues one request. 0 = queued; non-zero (no URL, a URL that is not
  // http or https) = nothing is sent and no event follows.
  virtual int32_t Post(const WebhookRequest& request) = 0;

  // The result in words: the HTTP status the server answered, or what went
  // wrong on the way.
  virtual std::string ErrorText(int32_t code) = 0;

  // True when the result `code` says the server refused this request's body
  // itself, so that sending it again cannot help; false for any failure
  // worth another attempt (among them answers that depend on the URL and
  // header lines, which are read again for each attempt).
  virtual bool Refused(int32_t code) = 0;
};

}  // namespace lw
