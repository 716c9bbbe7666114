// What the web server does with one request's text, without the sockets:
// journals it, checks the method and the authorization, and picks the
// answer by the route table (calls list, journal, delete, options,
// recordings, the static files of "\WWW\").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "devices/clock.h"
#include "devices/settings_store.h"
#include "journal/journal.h"
#include "settings/registry_routines.h"
#include "web/folder_file.h"

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
    kFile,     // `body` is the file's native path, below `folder`
    kRefused,  // a file that is missing or outside its folder
    // Long answers of the owner's interface, sent by AppStreams:
    kEvents,     // the event stream of the calls
    kRecording,  // `body` is a recording's native path, sent as PCM WAV
  } kind = kNone;
  std::string body;
  // For kFile: the native folder the file is opened below (see
  // OpenInFolder).
  std::string folder = {};
  // The connection stays open for the client's next request (the headers
  // of a kText answer say "Connection: keep-alive").
  bool keep_alive = false;
};

class WebDispatcher {
 public:
  // With `http_headers` every page starts with an HTTP/1.0 status line and
  // its headers. Everything referred to outlives the dispatcher.
  WebDispatcher(Clock& clock, SettingsStore& store, Journal& journal,
                std::string app_path, WebOptions options, bool http_headers);

  WebReply Handle(const std::string& request);

  // The address the server listens on as the owner gave it
  // ("txtWWWListen"); a Host header may name it.
  void SetListenAddress(std::string address) {
    listen_address_ = std::move(address);
  }
  // A random text made for this server, which its own pages carry and send
  // back as "X-Linewarden-Token" with their changes (see IsSameOrigin).
  const std::string& PageToken() const { return page_token_; }

 private:
  WebReply Route(const std::string& request, const std::string& path);
  // `sub` (beginning with a separator) below `folder` ("\\WWW").
  WebReply FileReply(const std::string& folder, const std::string& sub);
  void LogError(const std::string& text);

  Clock& clock_;
  Journal& journal_;
  RegistryRoutines reg_;
  StoreFiles never_open_;
  std::string app_path_;
  WebOptions options_;
  bool http_headers_;
  std::string listen_address_;
  std::string page_token_;
};

// Makes an answer of the owner's interface keep its connection open: a
// recording, or a whole answer whose headers say "Connection: close" (they
// say "Connection: keep-alive" then). The event stream stays a stream.
void KeepAlive(WebReply& reply);

// True when the pages are protected by a password that is not empty.
bool PasswordSet(const WebOptions& options);

// "HTTP/1.0 " + status, Content-Type, Content-Length, "Connection: close"
// and the empty line.
std::string StatusHead(std::string_view status, std::string_view type,
                       uint64_t length);

}  // namespace lw
