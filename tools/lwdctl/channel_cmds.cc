// lwdctl send / lwdctl listen: the desktop application's side of the message
// channels, for scripts and tests.
#include <signal.h>

#include <asio/io_context.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "base/message_text.h"
#include "call/call_line.h"
#include "commands.h"
#include "drivers/unix_channel/unix_channel.h"
#include "service/paths.h"

namespace lwdctl {
namespace {

constexpr const char* kSendHelp =
    "usage: lwdctl send [--repeat N] CHANNEL FIELD...\n"
    "Sends one message on CHANNEL, one of the process's channels 105 to 111\n"
    "(e.g. 108): the FIELDs joined by CR LF,\n"
    "the first field being the message name, e.g.\n"
    "  lwdctl send 108 HELLO\n"
    "  lwdctl send 107 LineStatus 0 0 False\n"
    "  --repeat N   send the message N times, back to back\n"
    "The message reaches every party bound to CHANNEL at that moment; with\n"
    "none bound it is dropped. What a party cannot take at once waits and\n"
    "goes out as it reads; lwdctl ends once every message is in every\n"
    "party's receive queue, or when a party has taken nothing for 10\n"
    "seconds (that party loses the rest, said on standard error).\n"
    "Channels live in the runtime folder (LINEWARDEN_RUNTIME, else\n"
    "$XDG_RUNTIME_DIR/linewarden, else /run/linewarden).\n"
    "Exit status: 0 sent, 1 the channel could not be opened, the message\n"
    "is longer than 64 KiB or some party lost messages, 2 bad arguments.\n";

constexpr const char* kListenHelp =
    "usage: lwdctl listen CHANNEL... [--count N] [--timeout S]\n"
    "Binds to every CHANNEL and prints each message received as one JSON\n"
    "line, e.g.\n"
    "  {\"channel\":107,\"text\":\"LineStatus\\r\\n0\\r\\n0\\r\\nFalse\"}\n"
    "In \"text\", CR, LF, tab, quote and backslash are written \\r \\n \\t "
    "\\\" "
    "\\\\,\n"
    "other control bytes \\u00XX. A message that is valid UTF-8 keeps its\n"
    "other bytes as they are; in any other message each byte from 0x80 up is\n"
    "written \\u00XX (read as Latin-1).\n"
    "  --count N    exit after N messages (all channels together)\n"
    "  --timeout S  exit after S seconds (decimals allowed)\n"
    "Without either, listens until interrupted. The channels are bound before\n"
    "anything is read, so a message sent once the socket files exist is seen.\n"
    "Exit status: 0 after N messages, on interrupt, or on timeout without\n"
    "--count; 1 on timeout with fewer than N messages, or when a channel\n"
    "cannot be opened; 2 bad arguments.\n";

bool IsHelp(const Args& args) {
  for (const std::string& a : args)
    if (a == "--help" || a == "-h") return true;
  return false;
}

bool ParseInt(const std::string& s, int64_t min, int64_t max, int64_t* out) {
  int64_t v = 0;
  const char* end = s.data() + s.size();
  auto [p, ec] = std::from_chars(s.data(), end, v);
  if (s.empty() || ec != std::errc() || p != end || v < min || v > max)
    return false;
  *out = v;
  return true;
}

bool ParseChannel(const std::string& s, int32_t* out) {
  int64_t v;
  if (!ParseInt(s, INT32_MIN, INT32_MAX, &v)) return false;
  *out = static_cast<int32_t>(v);
  return true;
}

int BadArgs(const char* cmd, const std::string& what) {
  std::fprintf(stderr, "lwdctl %s: %s\nRun 'lwdctl %s --help' for usage.\n",
               cmd, what.c_str(), cmd);
  return 2;
}

// Length of the UTF-8 sequence starting at `s[i]`, 0 when it is not a valid
// one (overlong forms, surrogates and code points above U+10FFFF included).
size_t Utf8Sequence(const std::string& s, size_t i) {
  const auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = b(i);
  if (c < 0x80) return 1;
  size_t n;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2, cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3, cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4, cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    if ((b(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (b(i + k) & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return 0;
  return n;
}

bool IsUtf8(const std::string& s) {
  for (size_t i = 0; i < s.size();) {
    const size_t n = Utf8Sequence(s, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

void AppendJsonString(const std::string& s, std::string* out) {
  const bool utf8 = IsUtf8(s);
  out->push_back('"');
  for (char ch : s) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out->append("\\\"");
        break;
      case '\\':
        out->append("\\\\");
        break;
      case '\r':
        out->append("\\r");
        break;
      case '\n':
        out->append("\\n");
        break;
      case '\t':
        out->append("\\t");
        break;
      default:
        if (c < 0x20 || c == 0x7F || (c >= 0x80 && !utf8)) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out->append(esc);
        } else {
          out->push_back(ch);
        }
    }
  }
  out->push_back('"');
}

}  // namespace

int RunSend(const Args& args) {
  if (IsHelp(args)) {
    std::fputs(kSendHelp, stdout);
    return 0;
  }
  int64_t repeat = 1;
  size_t first = 0;
  if (!args.empty() && args[0] == "--repeat") {
    if (args.size() < 2 || !ParseInt(args[1], 1, INT32_MAX, &repeat))
      return BadArgs("send",
                     "bad --repeat '" + (args.size() < 2 ? "" : args[1]) + "'");
    first = 2;
  }
  if (args.size() < first + 2)
    return BadArgs("send", "need CHANNEL and at least one FIELD");
  int32_t channel;
  if (!ParseChannel(args[first], &channel))
    return BadArgs("send", "bad channel number '" + args[first] + "'");
  // The process's channels: 105 (process), 106 (speech), then the line's
  // from kChannelOut to kChannelMail. A message to any other would wait for
  // a party that never comes.
  if (channel < 105 || channel > lw::kChannelMail)
    return BadArgs("send", "channel " + args[first] +
                               " is not one the process uses (105 to " +
                               std::to_string(lw::kChannelMail) + ")");
  const std::string text = lw::JoinFields(
      std::vector<std::string>(args.begin() + first + 1, args.end()));
  if (text.size() > lw::UnixChannel::kMaxMessageBytes) {
    std::fputs("lwdctl send: message longer than 64 KiB\n", stderr);
    return 1;
  }
  asio::io_context io;
  const std::string runtime = lw::ResolveRuntimeDir();
  lw::UnixChannel end(io, runtime);
  end.SetNoteHandler([](const std::string& note) {
    std::fprintf(stderr, "lwdctl send: %s\n", note.c_str());
  });
  // Messages a party cannot take at once wait in this end's queues; the loop
  // runs until they are out. Past a window of waiting messages the next
  // send waits too, so a long run never reaches the queue bound.
  constexpr size_t kWindow = 1000;
  for (int64_t i = 0; i < repeat; ++i) {
    if (!lw::SendOn(end, channel, text)) {
      std::fprintf(stderr, "lwdctl send: cannot open channel %d in %s\n",
                   static_cast<int>(channel), runtime.c_str());
      return 1;
    }
    while (end.pending() >= kWindow) io.run_one();
  }
  while (end.pending() > 0) io.run_one();
  return end.dropped() > 0 ? 1 : 0;
}

int RunListen(const Args& args) {
  if (IsHelp(args)) {
    std::fputs(kListenHelp, stdout);
    return 0;
  }
  std::vector<int32_t> channels;
  int64_t count = 0;
  double timeout_s = 0;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--count" || a == "--timeout") {
      if (i + 1 >= args.size()) return BadArgs("listen", a + " needs a value");
      const std::string& v = args[++i];
      if (a == "--count") {
        if (!ParseInt(v, 1, INT32_MAX, &count))
          return BadArgs("listen", "bad --count '" + v + "'");
      } else {
        const char* end = v.data() + v.size();
        auto [p, ec] = std::from_chars(v.data(), end, timeout_s);
        if (v.empty() || ec != std::errc() || p != end || !(timeout_s > 0) ||
            timeout_s > 1e7)
          return BadArgs("listen", "bad --timeout '" + v + "'");
      }
      continue;
    }
    int32_t channel;
    if (!ParseChannel(a, &channel))
      return BadArgs("listen", "bad channel number '" + a + "'");
    channels.push_back(channel);
  }
  if (channels.empty()) return BadArgs("listen", "need at least one CHANNEL");

  asio::io_context io;
  const std::string runtime = lw::ResolveRuntimeDir();
  int64_t received = 0;
  bool timed_out = false;
  std::vector<std::unique_ptr<lw::UnixChannel>> ends;
  for (int32_t channel : channels) {
    auto end = std::make_unique<lw::UnixChannel>(io, runtime);
    end->SetMessageArrived([&, channel](const std::string& text) {
      std::string line =
          "{\"channel\":" + std::to_string(channel) + ",\"text\":";
      AppendJsonString(text, &line);
      line += "}\n";
      std::fwrite(line.data(), 1, line.size(), stdout);
      std::fflush(stdout);
      if (count > 0 && ++received >= count) io.stop();
    });
    if (!end->OpenChannel(channel)) {
      std::fprintf(stderr, "lwdctl listen: cannot open channel %d in %s\n",
                   static_cast<int>(channel), runtime.c_str());
      return 1;
    }
    ends.push_back(std::move(end));
  }

  // Interrupted: unbind (remove our socket files) before leaving.
  asio::signal_set signals(io);
  std::error_code ec;
  signals.add(SIGINT, ec);
  signals.add(SIGTERM, ec);
  signals.async_wait([&](const std::error_code& e, int) {
    if (!e) io.stop();
  });
  asio::steady_timer timer(io);
  if (timeout_s > 0) {
    timer.expires_after(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(timeout_s)));
    timer.async_wait([&](const std::error_code& e) {
      if (e) return;
      timed_out = true;
      io.stop();
    });
  }
  io.run();
  return timed_out && count > 0 && received < count ? 1 : 0;
}

}  // namespace lwdctl
