#include "drivers/curl/curl_webhook.h"

#include <curl/curl.h>
#include <strings.h>

namespace lw {

namespace {

bool IsHttpUrl(const std::string& url) {
  return strncasecmp(url.c_str(), "http://", 7) == 0 ||
         strncasecmp(url.c_str(), "https://", 8) == 0;
}

bool NamesContentType(const std::string& line) {
  constexpr std::string_view kName = "content-type:";
  return line.size() >= kName.size() &&
         strncasecmp(line.c_str(), kName.data(), kName.size()) == 0;
}

// One request on its way, with what its easy handle points into.
class WebhookTransfer : public CurlTransfer {
 public:
  WebhookTransfer(WebhookRequest request,
                  std::shared_ptr<CurlWebhook::Front> front)
      : request_(std::move(request)), front_(std::move(front)) {}
  ~WebhookTransfer() override { curl_slist_free_all(headers_); }

  bool Setup(CURL* e) override {
    curl_easy_setopt(e, CURLOPT_URL, request_.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    bool own_type = false;
    for (const std::string& line : request_.headers) {
      own_type = own_type || NamesContentType(line);
      headers_ = curl_slist_append(headers_, line.c_str());
    }
    if (!own_type)
      headers_ = curl_slist_append(headers_, "Content-Type: application/json");
    // Small bodies go at once, without waiting for "100 Continue".
    headers_ = curl_slist_append(headers_, "Expect:");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE,
                     static_cast<curl_off_t>(request_.body.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, request_.body.data());
    return true;
  }

  void Done(CURL* e, CURLcode code) override {
    if (code != CURLE_OK) return Complete(static_cast<int32_t>(code));
    long status = 0;
    curl_easy_getinfo(e, CURLINFO_RESPONSE_CODE, &status);
    Complete(status >= 200 && status < 300
                 ? 0
                 : kWebhookHttpStatus + static_cast<int32_t>(status));
  }

  void Failed() override { Complete(kWebhookSetupFailed); }

 private:
  void Complete(int32_t result) {
    front_->events.Post([front = front_, result] {
      if (front->handlers.Complete) front->handlers.Complete(result);
    });
  }

  WebhookRequest request_;
  std::shared_ptr<CurlWebhook::Front> front_;
  curl_slist* headers_ = nullptr;
};

}  // namespace

CurlWebhook::CurlWebhook(asio::io_context& io, CurlLimits limits)
    : front_(std::make_shared<Front>(io)), runner_(limits) {}

CurlWebhook::~CurlWebhook() { front_->events.Close(); }

void CurlWebhook::SetEvents(WebhookEvents events) {
  front_->handlers = std::move(events);
}

int32_t CurlWebhook::Post(const WebhookRequest& request) {
  if (request.url.empty()) return kWebhookNoUrl;
  if (!IsHttpUrl(request.url)) return kWebhookBadUrl;
  runner_.Run(std::make_unique<WebhookTransfer>(request, front_));
  return 0;
}

bool WebhookStatusRefused(long status) {
  switch (status) {
    case 401:
    case 403:
    case 404:
    case 408:
    case 425:
    case 429:
      return false;
    default:
      return status >= 400 && status < 500;
  }
}

bool CurlWebhook::Refused(int32_t code) {
  return code > kWebhookHttpStatus &&
         WebhookStatusRefused(code - kWebhookHttpStatus);
}

std::string CurlWebhook::ErrorText(int32_t code) {
  switch (code) {
    case 0:
      return "Sent";
    case kWebhookNoUrl:
      return "No webhook URL set";
    case kWebhookBadUrl:
      return "The webhook URL does not start with http:// or https://";
    case kWebhookSetupFailed:
      return "The request could not be prepared";
    default:
      break;
  }
  if (code >= kWebhookHttpStatus + 100 && code < kWebhookHttpStatus + 1000)
    return "The server answered HTTP " +
           std::to_string(code - kWebhookHttpStatus);
  return curl_easy_strerror(static_cast<CURLcode>(code));
}

}  // namespace lw
