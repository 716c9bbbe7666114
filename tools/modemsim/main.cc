// linewarden-modemsim: a voice modem on a pseudo-terminal, and the far end
// of its calls.
//
//   linewarden-modemsim --profile NAME --link PATH --control SOCKET
//     runs a modem of chipset NAME (usr, conexant, rockwell) on a new
//     pseudo-terminal reachable at PATH (a symbolic link to it) until
//     SIGINT or SIGTERM; calls are ordered on the Unix socket SOCKET.
//   linewarden-modemsim call --control SOCKET [options of lwdctl phone call]
//                      [--hangup-signal busy|dialtone|silence|loop]
//     plays the caller of one call and prints what happens as JSON lines.
//   linewarden-modemsim answer --control SOCKET [--after SEC]
//                      [--result answer|busy|nodialtone|noanswer|nocarrier]
//                      [the talk options of call]
//     waits for the process's next dialled call and plays the called party.
//
// The control socket carries one call per connection: the client sends
// "option value" lines ended by an empty line; the modem answers JSON lines
// until {"event":"hangup",...}, after the capture file is written.
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/read_until.hpp>
#include <asio/signal_set.hpp>
#include <asio/streambuf.hpp>
#include <asio/write.hpp>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "../lwdctl/phone_audio.h"
#include "drivers/asio_clock/asio_clock.h"
#include "modem_sim.h"

namespace {

using Stream = asio::local::stream_protocol;

constexpr const char* kUsage =
    "usage: linewarden-modemsim --profile usr|conexant|rockwell --link PATH "
    "--control SOCKET\n"
    "       linewarden-modemsim call --control SOCKET [--name NAME] "
    "[--number NUMBER]\n"
    "         [--withhold-name] [--withhold-number] [--rings N] "
    "[--ring-interval SEC]\n"
    "         [--pickup-after-ring N] [--play FILE] [--play-after SEC]\n"
    "         [--digits SEQ] [--digits-after SEC] [--hangup-after SEC]\n"
    "         [--capture FILE] [--hangup-signal busy|dialtone|silence|loop]\n"
    "       linewarden-modemsim answer --control SOCKET [--after SEC]\n"
    "         [--result answer|busy|nodialtone|noanswer|nocarrier] [--play "
    "FILE]\n"
    "         [--play-after SEC] [--digits SEQ] [--digits-after SEC]\n"
    "         [--hangup-after SEC] [--capture FILE] [--hangup-signal ...]\n"
    "The first form runs a voice modem of the chipset on a pseudo-terminal "
    "(PATH is\n"
    "a symbolic link to it); the second plays the caller of one call to that "
    "modem\n"
    "and prints JSON lines as 'lwdctl phone call' does; the third waits for "
    "the\n"
    "process's next dialled call, lets it ring --after seconds (2) and "
    "answers it\n"
    "or ends the dial with --result.\n";

// A write queue over any Asio stream.
template <typename Socket>
class Writer {
 public:
  explicit Writer(Socket& socket) : socket_(socket) {}
  void Write(std::string bytes) {
    if (bytes.empty()) return;
    queue_.push_back(std::move(bytes));
    if (queue_.size() == 1) Next();
  }

 private:
  void Next() {
    asio::async_write(socket_, asio::buffer(queue_.front()),
                      [this](const std::error_code& ec, size_t) {
                        queue_.pop_front();
                        if (ec) queue_.clear();
                        if (!queue_.empty()) Next();
                      });
  }
  Socket& socket_;
  std::deque<std::string> queue_;
};

// One call ordered on the control socket.
class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(Stream::socket socket, lw::ModemSim& modem,
          std::shared_ptr<Session>& current)
      : socket_(std::move(socket)),
        writer_(socket_),
        modem_(modem),
        current_(current) {}

  void Start() {
    asio::async_read_until(
        socket_, buffer_, "\n\n",
        [self = shared_from_this()](const std::error_code& ec, size_t) {
          if (!ec) self->Order();
        });
  }
  void Event(const std::string& json) { writer_.Write(json + "\n"); }
  void Over(const std::vector<int16_t>& capture) {
    std::string error;
    if (!capture_.empty() && !lwdctl::WriteLineSound(capture_, capture, &error))
      Event("{\"event\":\"error\",\"text\":\"capture not written\"}");
  }

 private:
  void Order() {
    std::istream in(&buffer_);
    std::map<std::string, std::string> o;
    for (std::string line; std::getline(in, line) && !line.empty();) {
      const size_t space = line.find(' ');
      o[line.substr(0, space)] =
          space == std::string::npos ? "" : line.substr(space + 1);
    }
    static const char* const kKnown[] = {"name",
                                         "number",
                                         "withhold-name",
                                         "withhold-number",
                                         "rings",
                                         "ring-interval",
                                         "pickup-after-ring",
                                         "play",
                                         "play-after",
                                         "digits",
                                         "digits-after",
                                         "hangup-after",
                                         "capture",
                                         "hangup-signal",
                                         "answer",
                                         "after",
                                         "result"};
    for (const auto& [key, value] : o) {
      if (std::find(std::begin(kKnown), std::end(kKnown), key) ==
          std::end(kKnown)) {
        Event("{\"event\":\"error\",\"text\":\"unknown option\"}");
        return;
      }
    }
    auto ms = [&o](const char* key, uint32_t fallback) {
      return o.count(key)
                 ? static_cast<uint32_t>(std::atof(o[key].c_str()) * 1000)
                 : fallback;
    };
    lw::CallScript s;
    s.name = o["name"];
    s.number = o["number"];
    s.withhold_name = o.count("withhold-name") > 0;
    s.withhold_number = o.count("withhold-number") > 0;
    if (o.count("rings")) s.rings = std::atoi(o["rings"].c_str());
    s.ring_interval_ms = ms("ring-interval", 5000);
    s.pickup_after_ring = std::atoi(o["pickup-after-ring"].c_str());
    s.play_after_ms = ms("play-after", 0);
    s.digits = o["digits"];
    s.digits_after_ms = ms("digits-after", 0);
    if (o.count("hangup-after")) s.hangup_after_ms = ms("hangup-after", 0);
    if (o.count("hangup-signal")) s.hangup_signal = o["hangup-signal"];
    s.answer_after_ms = ms("after", 2000);
    if (o.count("result")) s.dial_result = o["result"];
    capture_ = o["capture"];
    std::string error;
    if (!o["play"].empty() &&
        !lwdctl::ReadLineSound(o["play"], &s.play, &error)) {
      Event("{\"event\":\"error\",\"text\":\"cannot read the sound\"}");
      return;
    }
    if (current_) {
      Event("{\"event\":\"busy\"}");
      return;
    }
    if (o.count("answer") ? !modem_.Await(std::move(s))
                          : !modem_.Call(std::move(s))) {
      Event("{\"event\":\"busy\"}");
      return;
    }
    current_ = shared_from_this();
    // A caller whose client goes away hangs up.
    socket_.async_read_some(
        asio::buffer(probe_),
        [self = shared_from_this()](const std::error_code& ec, size_t) {
          if (ec && self->current_ == self) self->modem_.CallerHangsUp();
        });
  }

  Stream::socket socket_;
  Writer<Stream::socket> writer_;
  lw::ModemSim& modem_;
  std::shared_ptr<Session>& current_;
  asio::streambuf buffer_;
  std::string capture_;
  char probe_[1];
};

int RunModem(const std::string& profile, const std::string& link,
             const std::string& control) {
  asio::io_context io;
  lw::AsioClock clock(io);
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  const char* name = master < 0 ? nullptr : ::ptsname(master);
  if (name == nullptr || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("linewarden-modemsim: pseudo-terminal");
    return 1;
  }
  // Held open so the terminal stays up while no host has it open.
  const int terminal = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios t{};
  if (terminal >= 0 && ::tcgetattr(terminal, &t) == 0) {
    ::cfmakeraw(&t);
    ::tcsetattr(terminal, TCSANOW, &t);
  }
  ::unlink(link.c_str());
  if (::symlink(name, link.c_str()) != 0) {
    std::perror(("linewarden-modemsim: " + link).c_str());
    return 1;
  }
  asio::posix::stream_descriptor pty(io, master);
  Writer<asio::posix::stream_descriptor> to_host(pty);
  std::shared_ptr<Session> current;
  lw::ModemSim modem(
      clock, profile,
      {[&to_host](const std::string& bytes) { to_host.Write(bytes); },
       [&current](const std::string& json) {
         if (!current) return;
         current->Event(json);
         if (json.find("\"hangup\"") != std::string::npos) current.reset();
       },
       [&current](const std::vector<int16_t>& capture) {
         if (current) current->Over(capture);
       }});
  std::array<char, 4096> input{};
  std::function<void()> read = [&] {
    pty.async_read_some(asio::buffer(input),
                        [&](const std::error_code& ec, size_t n) {
                          if (!ec) modem.FromHost(std::string(input.data(), n));
                          read();
                        });
  };
  read();
  ::unlink(control.c_str());
  Stream::acceptor acceptor(io, Stream::endpoint(control));
  std::function<void()> accept = [&] {
    acceptor.async_accept([&](const std::error_code& ec, Stream::socket s) {
      if (!ec) std::make_shared<Session>(std::move(s), modem, current)->Start();
      accept();
    });
  };
  accept();
  asio::signal_set signals(io, SIGINT, SIGTERM);
  signals.async_wait([&io](const std::error_code&, int) { io.stop(); });
  std::printf("%s %s\n", profile.c_str(), name);
  std::fflush(stdout);
  io.run();
  ::unlink(link.c_str());
  ::unlink(control.c_str());
  if (terminal >= 0) ::close(terminal);
  return 0;
}

int RunCall(const std::vector<std::string>& args, bool answer) {
  std::string control;
  std::string order = answer ? "answer\n" : "";
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (a == "--withhold-name" || a == "--withhold-number") {
      order += a.substr(2) + "\n";
      continue;
    }
    if (a.rfind("--", 0) != 0 || i + 1 >= args.size() ||
        args[i + 1].find('\n') != std::string::npos) {
      std::fprintf(stderr, "linewarden-modemsim call: bad argument '%s'\n",
                   a.c_str());
      return 2;
    }
    const std::string& value = args[++i];
    if (a == "--control")
      control = value;
    else
      order += a.substr(2) + " " + value + "\n";
  }
  if (control.empty()) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  asio::io_context io;
  Stream::socket socket(io);
  std::error_code ec;
  socket.connect(Stream::endpoint(control), ec);
  if (ec) {
    std::fprintf(stderr, "linewarden-modemsim call: %s: %s\n", control.c_str(),
                 ec.message().c_str());
    return 1;
  }
  asio::write(socket, asio::buffer(order + "\n"), ec);
  asio::streambuf buffer;
  std::istream in(&buffer);
  while (!ec) {
    asio::read_until(socket, buffer, '\n', ec);
    std::string line;
    if (!ec && std::getline(in, line)) {
      std::puts(line.c_str());
      std::fflush(stdout);
      if (line.find("\"event\":\"hangup\"") != std::string::npos) return 0;
      if (line.find("\"event\":\"busy\"") != std::string::npos ||
          line.find("\"event\":\"error\"") != std::string::npos)
        return 1;
    }
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) try {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && (args[0] == "call" || args[0] == "answer"))
    return RunCall({args.begin() + 1, args.end()}, args[0] == "answer");
  std::map<std::string, std::string> o;
  for (size_t i = 0; i + 1 < args.size(); i += 2) o[args[i]] = args[i + 1];
  if (args.size() % 2 != 0 || o.size() != 3 ||
      !lw::ModemSim::Known(o["--profile"]) || o["--link"].empty() ||
      o["--control"].empty()) {
    std::fputs(kUsage,
               args.size() == 1 && args[0] == "--help" ? stdout : stderr);
    return args.size() == 1 && args[0] == "--help" ? 0 : 2;
  }
  return RunModem(o["--profile"], o["--link"], o["--control"]);
} catch (const std::exception& e) {
  std::fprintf(stderr, "linewarden-modemsim: %s\n", e.what());
  return 1;
}
