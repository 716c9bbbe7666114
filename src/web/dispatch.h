// What the web server does with one request's text, without the sockets:
// journals it, checks the method and the authorization, and picks the
// answer by the route table (calls list, journal, delete, options,
// recordings, the static files of "\WWW\").
#pragma once

#include <cstdint>
#include <string>

#include "devices/clock.h"
#include "devices/settings_store.h"
#include "journal/journal.h"
#include "settings/registry_routines.h"

namespace lw {

// The controller's web settings (its RCWWW fields), which the server reads
// whenever it needs them and whose RCWWWAllow it clears when it cannot
// listen. They outlive the server.
struct WebOptions {
  int32_t& RCWWWPort;
  int32_t& RCWWWAllow;
  int32_t& RCWWWProtect;
  std::string& RCWWWUserName;
  std::string& RCWWWPass;
  int32_t& RCWWWViewCalls;
  std::string& RCWWWViewLog;
};

struct WebReply {
  enum Kind {
    kNone,     // not a GET or POST request: nothing is sent
    kText,     // a page (or the refusal), sent as it is
    kFile,     // `body` is the file's native path
    kRefused,  // a file that is missing or outside its folder
    // Long answers of the owner's interface, sent by AppStreams:
    kEvents,     // the event stream of the calls
    kRecording,  // `body` is a recording's native path, sent as PCM WAV
  } kind = kNone;
  std::string body;
};

class WebDispatcher {
 public:
  // With `http_headers` every page starts with an HTTP/1.0 status line and
  // its headers. Everything referred to outlives the dispatcher.
  WebDispatcher(Clock& clock, SettingsStore& store, Journal& journal,
                std::string app_path, WebOptions options, bool http_headers);

  WebReply Handle(const std::string& request);

 private:
  WebReply Route(const std::string& request, const std::string& path);
  WebReply FileReply(const std::string& sub);
  void LogError(const std::string& text);

  Clock& clock_;
  Journal& journal_;
  RegistryRoutines reg_;
  std::string app_path_;
  WebOptions options_;
  bool http_headers_;
};

// "HTTP/1.0 " + status, Content-Type, Content-Length, "Connection: close"
// and the empty line.
std::string StatusHead(std::string_view status, std::string_view type,
                       uint64_t length);

}  // namespace lw
