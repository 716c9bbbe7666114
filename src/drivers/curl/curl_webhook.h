// The webhook control over libcurl's HTTP, run off the main loop by a
// CurlRunner (curl_runner.h) like the mail, with the same limits.
//
// A request is one POST of the body as "Content-Type: application/json"
// with the extra header lines (an owner's line naming Content-Type replaces
// ours). HTTPS certificates and host names are verified against the
// system's CA store; a server that fails that check is not sent anything.
// Redirects are not followed: a 3xx answer is a failure like a 4xx or 5xx,
// and the status goes into the error text, so a request never lands
// somewhere the owner did not name.
//
// Result codes: 0 the server answered 2xx; kWebhookHttpStatus + the status
// for any other answer; libcurl's codes (CURLcode) for transfer failures;
// kWebhookNoUrl and kWebhookBadUrl when Post refuses. Of these only the
// answers WebhookStatusRefused names are refusals of the request.
#pragma once

#include <asio/io_context.hpp>
#include <memory>
#include <string>

#include "devices/webhook.h"
#include "drivers/curl/curl_runner.h"

namespace lw {

inline constexpr int32_t kWebhookNoUrl = 1101;
inline constexpr int32_t kWebhookBadUrl = 1102;
inline constexpr int32_t kWebhookSetupFailed = 1103;
inline constexpr int32_t kWebhookHttpStatus = 2000;

// True for an HTTP status that refuses the request's body: a 4xx but 401,
// 403 and 404 (they depend on the URL and header lines, read again at each
// attempt) and 408, 425 and 429 (try again later).
bool WebhookStatusRefused(long status);

class CurlWebhook : public Webhook {
 public:
  // Raises its events on `io`; must be destroyed before it. A request still
  // on its way is abandoned without a Complete.
  explicit CurlWebhook(asio::io_context& io) : CurlWebhook(io, CurlLimits{}) {}
  CurlWebhook(asio::io_context& io, CurlLimits limits);
  ~CurlWebhook() override;
  CurlWebhook(const CurlWebhook&) = delete;
  CurlWebhook& operator=(const CurlWebhook&) = delete;

  void SetEvents(WebhookEvents events) override;
  int32_t Post(const WebhookRequest& request) override;
  std::string ErrorText(int32_t code) override;
  bool Refused(int32_t code) override;

  using Front = ControlFront<WebhookEvents>;

 private:
  std::shared_ptr<Front> front_;
  CurlRunner runner_;
};

}  // namespace lw
