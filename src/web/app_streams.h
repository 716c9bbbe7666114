// The long answers of the owner's interface, which outlive the request's
// slot in the web server: the event stream "/api/events" and recordings sent
// as 16-bit PCM WAV. The server hands each such connection over once its
// request is read; from then on it is this module's, so a browser that keeps
// its event stream open never holds one of the server's request slots.
//
// Events: while any stream is open, the latest-call list and the day files
// it points at are watched (inotify, and a look every second as a safety
// net), and every change is sent to every stream as one Server-Sent Event:
// "stored" (data: the call's JSON object), "heard" or "deleted" (data:
// {"id": …}). A change is seen whoever made it: the line storing a call,
// remote access by phone marking a message heard, this interface, a script.
//
// Recordings: read through libsndfile in blocks and written as they go, so
// a long recording in GSM 6.10 or mu-law is never held in memory; the
// answer is a PCM WAV of the same rate and channels, its length announced
// (a GSM 6.10 recording to the samples its "fact" chunk counts, not to the
// end of its last block of two frames).
// Its bytes can be asked for in ranges (a phone's player asks for them
// before it plays): the conversion starts at the frame holding the range's
// first byte.
//
// At most kMaxStreams event streams and kMaxSends recordings are open at
// once; beyond that the oldest is closed. A stream or send that the client
// stops taking for 30 s is closed. Everything runs on the loop's thread.
#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "devices/clock.h"

namespace lw {

// The status line and headers of a recording of `size` bytes answering
// `request`, whose "Range" may ask for part of it (206, or 416 beyond its
// end), with "Connection: keep-alive" or "close"; [first, end) are the
// bytes to send after them.
std::string RecordingHead(std::string_view request, uint64_t size,
                          bool keep_alive, uint64_t& first, uint64_t& end);

// True when the open recording `fd` of `size` bytes is already, byte for
// byte, the 16-bit PCM WAV its conversion would give: the server then
// sends the file as it is stored.
bool SentAsStored(int fd, uint64_t size);

class AppStreams {
 public:
  static constexpr size_t kMaxStreams = 32;
  static constexpr size_t kMaxSends = 64;

  // `app_path`: AppPath (native, no trailing separator).
  AppStreams(asio::io_context& io, Clock& clock, std::string app_path);
  // Every stream and send is closed at once.
  ~AppStreams();
  AppStreams(const AppStreams&) = delete;
  AppStreams& operator=(const AppStreams&) = delete;

  // Takes over a connection that asked for the event stream.
  void AddEventStream(asio::ip::tcp::socket socket);
  // Takes over a connection that asked for a recording (`fd`, opened
  // below its folder; -1 for none) with `request`, whose "Range" header
  // may ask for bytes of the converted file (206, or 416 beyond its end).
  void SendRecording(asio::ip::tcp::socket socket, int fd,
                     const std::string& request);

 private:
  std::shared_ptr<class StreamsCore> core_;
};

}  // namespace lw
