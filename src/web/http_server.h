// The web server `HttpServer`: one listening socket and 256 connection slots on
// the process's event loop. It takes the path from each request, checks the
// Basic authorization when protection is on, dispatches by the route table
// (calls list, journal, delete, options, recordings, the static files of
// "\WWW\") and sends the answer, then closes the connection. The owner's
// interface ("/app/", "/api/") keeps the connection open for the next
// request when the client asks so (HTTP/1.1 without "Connection: close",
// HTTP/1.0 with "Connection: keep-alive"); requests sent ahead are answered
// in order. Its recordings that are stored as plain 16-bit PCM WAV go out
// with sendfile as they are; the others are converted (AppStreams).
//
// Answers carry no status line and no headers, except the refusal of access
// and, with the setting "chkWWWHttpHeaders", every answer (an HTTP/1.0 status
// line, Content-Type, Content-Length and "Connection: close"), so that
// browsers accept them on any port.
//
// Sends never block the loop: a text goes out with one asynchronous write,
// a file with sendfile whenever the socket can take more. A client has 10 s
// ("txtWWWRequestSeconds") to send each whole request, however it trickles
// in: from its connection, or on a connection kept open from the first
// byte of its next request (or the end of the previous answer when that
// request was read already). A connection kept open with no next request
// begun is closed after 5 s. With every slot taken, a new client takes over
// such an idle connection first, else the slot that has waited longest for
// its request (once that one had 1.5 s). A slot is released
// when its client closes, fails, or takes nothing of its answer for 30 s; a
// request is at most 64 KiB, and a client that closes its sending side
// after its request still gets the answer. The file routes serve only files
// inside their folders ("\WWW\", and "\Data\Log\" for recordings),
// never through a symbolic link and never the settings store.
//
// It listens on the address "txtWWWListen" names; without one, on every
// interface, or on loopback alone while no password is set. Without a
// password, requests whose Host names neither this machine's loopback nor
// that address are refused.
#pragma once

#include <asio/io_context.hpp>
#include <cstdint>
#include <memory>
#include <string>

#include "devices/clock.h"
#include "devices/settings_store.h"
#include "journal/journal.h"
#include "web/dispatch.h"

namespace lw {

class HttpServer {
 public:
  static constexpr int kSlots = 256;

  // `app_path`: AppPath (native, no trailing separator). Everything referred
  // to outlives the server.
  HttpServer(asio::io_context& io, Clock& clock, SettingsStore& store,
             Journal& journal, std::string app_path, WebOptions options);
  // Unloading: the listener and every connection close at once; handlers
  // still queued on the loop find the server gone and do nothing.
  ~HttpServer();
  HttpServer(const HttpServer&) = delete;
  HttpServer& operator=(const HttpServer&) = delete;

  // Form load: creates the slots and listens on RCWWWPort. A port that
  // cannot be taken is journalled, RCWWWAllow becomes 0 and the server
  // serves nothing.
  void Load();
  bool Listening() const;

 private:
  std::shared_ptr<class HttpCore> core_;
};

}  // namespace lw
