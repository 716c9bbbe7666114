// lwdctl phone: the far end of the simulated line. It calls the line or
// answers the process's outgoing call, runs the caller's script in real time
// (rings, caller identification, pick-up, audio, digits, hang-up) and prints
// what it observes as JSON lines.
#include <signal.h>

#include <algorithm>
#include <array>
#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "commands.h"
#include "devices/line_audio.h"
#include "drivers/simline/simline_protocol.h"
#include "drivers/simline/simulated_line.h"
#include "phone_audio.h"
#include "service/paths.h"

namespace lwdctl {
namespace {

using std::chrono::duration;
using std::chrono::milliseconds;
using SteadyClock = std::chrono::steady_clock;
using stream_protocol = asio::local::stream_protocol;

constexpr const char* kPhoneUsage =
    "usage: lwdctl phone call [OPTIONS]     call the simulated line\n"
    "       lwdctl phone answer [OPTIONS]   answer the process's next "
    "outgoing call\n"
    "       lwdctl phone unplug             the line goes away (its call "
    "ends)\n"
    "       lwdctl phone plug               the line is there again\n"
    "Run 'lwdctl phone call --help' or 'lwdctl phone answer --help' for the\n"
    "options.\n";

constexpr const char* kCallHelp =
    "usage: lwdctl phone call [--name NAME] [--number NUMBER] "
    "[--withhold-name]\n"
    "         [--withhold-number] [--modem-line TEXT]... [--rings N]\n"
    "         [--ring-interval SEC] [--pickup-after-ring N] [--play FILE]\n"
    "         [--play-after SEC] [--digits SEQ] [--digits-after SEC]\n"
    "         [--key D@SEC]... [--hangup-after SEC] [--capture FILE]\n"
    "Calls the simulated line of the running process and plays the caller.\n"
    "The line rings at once and then every ring interval until the process\n"
    "answers; after the last ring the caller waits one more interval and\n"
    "hangs up. The caller identification follows the first ring when a name\n"
    "or number is given, or one is withheld. While the process reads the\n"
    "line's modem on its serial port (modem mode), the modem reports the\n"
    "rings and the caller identification there (RING; DATE, TIME, NMBR, NAME\n"
    "after the first ring; MESG for a withheld value) until the process takes\n"
    "the modem; from then on the line rings as in telephony mode.\n"
    "  --name NAME             caller's name\n"
    "  --number NUMBER         caller's number\n"
    "  --withhold-name         the caller withholds the name\n"
    "  --withhold-number       the caller withholds the number\n"
    "  --modem-line TEXT       one more line the modem reports after the "
    "first\n"
    "                          ring (CR LF before and after), with \\r, \\n,\n"
    "                          \\\\ and \\xHH for any byte (\\x10 is DLE); may "
    "be\n"
    "                          repeated; only modem mode shows it\n"
    "  --rings N               rings before the caller gives up (default 10)\n"
    "  --ring-interval SEC     time between rings (default 5)\n"
    "  --pickup-after-ring N   an extension picks up at ring N: the rings "
    "stop\n"
    "                          and the conversation runs without the "
    "process\n"
    "                          answering\n"
    "  --play FILE             sound the caller plays into the call (any "
    "wave\n"
    "                          file; converted to 8 kHz mono)\n"
    "  --play-after SEC        start playing SEC after the conversation "
    "starts\n"
    "                          (default 0)\n"
    "  --digits SEQ            keypad digits (0-9 * # A-D) the caller sends,\n"
    "                          one every 0.5 s\n"
    "  --digits-after SEC      first digit SEC after the conversation starts\n"
    "                          (default 0)\n"
    "  --key D@SEC             one more keypad digit D, sent SEC after the\n"
    "                          conversation starts; may be repeated, and "
    "mixes\n"
    "                          with --digits in time order\n"
    "  --hangup-after SEC      hang up SEC after the conversation starts;\n"
    "                          default 1 s after FILE and the digits and "
    "keys\n"
    "                          are done,\n"
    "                          or 10 s with neither\n"
    "  --capture FILE          write what the line played into the call to "
    "FILE\n"
    "                          (8 kHz 16-bit mono wave; pauses kept as "
    "silence)\n"
    "The conversation starts when the process answers or the extension "
    "picks up.\n"
    "Prints one JSON line per observation, e.g.\n"
    "  {\"event\":\"offered\",\"line_open\":true}\n"
    "  {\"event\":\"ring\",\"count\":1}\n"
    "  {\"event\":\"picked_up\",\"after_rings\":2}\n"
    "  {\"event\":\"answered\",\"after_rings\":3}\n"
    "  {\"event\":\"digit\",\"digit\":\"5\"}\n"
    "  {\"event\":\"hangup\",\"by\":\"caller\"}   or   \"by\":\"line\"\n"
    "The runtime folder is LINEWARDEN_RUNTIME, else "
    "$XDG_RUNTIME_DIR/linewarden,\n"
    "else /run/linewarden.\n"
    "Interrupted (SIGINT, SIGTERM) during a call, the caller hangs up.\n"
    "Exit status: 0 when the call is over, 1 when there is no line, it is "
    "busy\n"
    "or went away, a file cannot be used, or interrupted before a call; 2 "
    "bad\n"
    "arguments.\n";

constexpr const char* kAnswerHelp =
    "usage: lwdctl phone answer [--after SEC] [--play FILE] "
    "[--hangup-after SEC]\n"
    "         [--capture FILE]\n"
    "Waits for the process's next outgoing call on the simulated line (or "
    "takes\n"
    "one being dialled now) and answers it.\n"
    "  --after SEC         answer SEC after the call arrives (default 0)\n"
    "  --play FILE         sound played into the call once answered\n"
    "  --hangup-after SEC  hang up SEC after answering; default 1 s after "
    "FILE,\n"
    "                      or 10 s without one\n"
    "  --capture FILE      write what the line played into the call to FILE\n"
    "Prints JSON lines: {\"event\":\"waiting\"}, "
    "{\"event\":\"dialed\",\"number\":\"5551234\"},\n"
    "{\"event\":\"answered\"}, {\"event\":\"hangup\",\"by\":\"caller\"} or "
    "\"by\":\"line\".\n"
    "Exit status as for 'lwdctl phone call'.\n";

constexpr double kDigitSpacingS = 0.5;
constexpr double kHangupAfterEndS = 1.0;
constexpr double kDefaultTalkS = 10.0;
// A gap in the line's sound longer than this is kept as silence in the
// capture; shorter ones are jitter of the two clocks.
constexpr size_t kCaptureGapSamples = lw::kLineSampleRate / 5;

struct Options {
  std::string name;
  std::string number;
  bool withhold_name = false;
  bool withhold_number = false;
  std::vector<std::string> modem_lines;  // escapes decoded
  int64_t rings = 10;
  double ring_interval = 5;
  int64_t pickup_after = 0;
  std::string play;
  double play_after = 0;
  std::string digits;
  double digits_after = 0;
  // --key: single digits at their own moments (seconds into the talk).
  std::vector<std::pair<double, char>> keys;
  double hangup_after = -1;  // < 0: by the default rule
  std::string capture;
  double answer_after = 0;
};

SteadyClock::duration Seconds(double s) {
  return std::chrono::duration_cast<SteadyClock::duration>(duration<double>(s));
}

void AppendJsonString(const std::string& s, std::string* out) {
  out->push_back('"');
  for (char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out->push_back('\\');
      out->push_back(ch);
    } else if (c < 0x20 || c >= 0x7F) {
      // Names come from the command line: anything beyond ASCII is shown
      // byte by byte, so the line stays valid JSON whatever the bytes.
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out->append(esc);
    } else {
      out->push_back(ch);
    }
  }
  out->push_back('"');
}

void Emit(const std::string& json) {
  std::fputs(json.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// --- Arguments.

int BadArgs(const char* sub, const std::string& what) {
  std::fprintf(stderr,
               "lwdctl phone %s: %s\nRun 'lwdctl phone %s --help' for "
               "usage.\n",
               sub, what.c_str(), sub);
  return 2;
}

bool ParseSeconds(const std::string& v, double* out) {
  double d = 0;
  const char* end = v.data() + v.size();
  auto [p, ec] = std::from_chars(v.data(), end, d);
  if (v.empty() || ec != std::errc() || p != end || !(d >= 0) || d > 1e6)
    return false;
  *out = d;
  return true;
}

bool ParseCount(const std::string& v, int64_t min, int64_t* out) {
  int64_t n = 0;
  const char* end = v.data() + v.size();
  auto [p, ec] = std::from_chars(v.data(), end, n);
  if (v.empty() || ec != std::errc() || p != end || n < min || n > 1000000)
    return false;
  *out = n;
  return true;
}

// `text` with \r, \n, \\ and \xHH decoded; false for a bad escape.
bool Unescape(const std::string& text, std::string* out) {
  out->clear();
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\') {
      out->push_back(text[i]);
      continue;
    }
    const char e = i + 1 < text.size() ? text[++i] : '\0';
    if (e == 'r') {
      out->push_back('\r');
    } else if (e == 'n') {
      out->push_back('\n');
    } else if (e == '\\') {
      out->push_back('\\');
    } else if (e == 'x' && i + 2 < text.size()) {
      unsigned value = 0;
      const char* first = text.data() + i + 1;
      auto [p, ec] = std::from_chars(first, first + 2, value, 16);
      if (ec != std::errc() || p != first + 2) return false;
      out->push_back(static_cast<char>(value));
      i += 2;
    } else {
      return false;
    }
  }
  return true;
}

// Parses `args` for `sub` ("call" or "answer"). Returns -1 to go on, else
// the exit code (help printed or bad arguments).
int ParseOptions(const char* sub, const Args& args, Options* o) {
  const bool call = std::string(sub) == "call";
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      std::fputs(call ? kCallHelp : kAnswerHelp, stdout);
      return 0;
    }
    if (call && (a == "--withhold-name" || a == "--withhold-number")) {
      (a == "--withhold-name" ? o->withhold_name : o->withhold_number) = true;
      continue;
    }
    if (a.rfind("--", 0) != 0 || i + 1 >= args.size())
      return BadArgs(sub, a.rfind("--", 0) == 0 ? a + " needs a value"
                                                : "unexpected '" + a + "'");
    const std::string& v = args[++i];
    bool ok = true;
    if (a == "--play") {
      o->play = v;
    } else if (a == "--capture") {
      o->capture = v;
    } else if (a == "--hangup-after") {
      ok = ParseSeconds(v, &o->hangup_after);
    } else if (!call && a == "--after") {
      ok = ParseSeconds(v, &o->answer_after);
    } else if (call && a == "--name") {
      o->name = v;
    } else if (call && a == "--number") {
      o->number = v;
    } else if (call && a == "--modem-line") {
      std::string line;
      ok = Unescape(v, &line);
      o->modem_lines.push_back(line);
    } else if (call && a == "--rings") {
      ok = ParseCount(v, 1, &o->rings);
    } else if (call && a == "--ring-interval") {
      ok = ParseSeconds(v, &o->ring_interval) && o->ring_interval > 0;
    } else if (call && a == "--pickup-after-ring") {
      ok = ParseCount(v, 1, &o->pickup_after);
    } else if (call && a == "--play-after") {
      ok = ParseSeconds(v, &o->play_after);
    } else if (call && a == "--digits") {
      o->digits = v;
      for (char& c : o->digits) {
        if (c >= 'a' && c <= 'd') c = static_cast<char>(c - 'a' + 'A');
        ok = ok && lw::IsSimlineDigit(c);
      }
    } else if (call && a == "--digits-after") {
      ok = ParseSeconds(v, &o->digits_after);
    } else if (call && a == "--key") {
      double at = 0;
      char d = v.empty() ? '\0' : v[0];
      if (d >= 'a' && d <= 'd') d = static_cast<char>(d - 'a' + 'A');
      ok = v.size() > 2 && v[1] == '@' && lw::IsSimlineDigit(d) &&
           ParseSeconds(v.substr(2), &at);
      if (ok) o->keys.emplace_back(at, d);
    } else {
      return BadArgs(sub, "unknown option '" + a + "'");
    }
    if (!ok) {
      std::string why = "bad value '" + v;
      why += "' for ";
      why += a;
      return BadArgs(sub, why);
    }
  }
  return -1;
}

// --- The far end.

class FarEnd {
 public:
  FarEnd(const char* sub, Options options)
      : sub_(sub),
        o_(std::move(options)),
        socket_(io_),
        signals_(io_),
        ring_timer_(io_),
        answer_timer_(io_),
        audio_timer_(io_),
        digit_timer_(io_),
        hangup_timer_(io_) {}

  // Runs the call; answers the exit code.
  int Run(bool call) {
    if (!o_.play.empty()) {
      std::string error;
      if (!ReadLineSound(o_.play, &sound_, &error)) return Fail(error);
    }
    const std::string path =
        lw::ResolveRuntimeDir() + "/" + lw::SimulatedLine::kSocketName;
    std::error_code ec;
    socket_.connect(stream_protocol::endpoint(path), ec);
    if (ec)
      return Fail("no simulated line at " + path +
                  ": is linewarden-proc running?");
    std::error_code ignored;
    signals_.add(SIGINT, ignored);
    signals_.add(SIGTERM, ignored);
    signals_.async_wait([this](const std::error_code& e, int sig) {
      if (e || sig == 0) return;
      // Interrupted: a caller in a call hangs up first.
      if (in_call_) return HangUp();
      Finish(1);
    });
    StartRead();
    if (call) {
      Send(lw::SimlineOf(lw::SimlineType::kOffer));
    } else {
      Send(lw::SimlineOf(lw::SimlineType::kWaitCall));
      Emit("{\"event\":\"waiting\"}");
    }
    io_.run();
    return exit_code_;
  }

 private:
  enum class Phase { kStart, kRinging, kDialed, kTalking, kOver };

  int Fail(const std::string& what) {
    std::fprintf(stderr, "lwdctl phone %s: %s\n", sub_, what.c_str());
    return 1;
  }

  void StartRead() {
    socket_.async_read_some(
        asio::buffer(buffer_), [this](const std::error_code& ec, size_t n) {
          if (phase_ == Phase::kOver) return;
          if (ec) {
            Fail("the simulated line went away");
            return Finish(1);
          }
          decoder_.Feed(std::string_view(buffer_.data(), n));
          lw::SimlineMessage m;
          for (;;) {
            const auto r = decoder_.Next(&m);
            if (r == lw::SimlineDecoder::Result::kNeedMore) break;
            if (r == lw::SimlineDecoder::Result::kFailed) {
              Fail("the simulated line sent garbage: " + decoder_.error());
              return Finish(1);
            }
            OnMessage(m);
            if (phase_ == Phase::kOver) return;
          }
          StartRead();
        });
  }

  void OnMessage(const lw::SimlineMessage& m) {
    switch (m.type) {
      case lw::SimlineType::kBusy:
        Fail("the simulated line already has a call");
        return Finish(1);
      case lw::SimlineType::kOffered:
        if (phase_ != Phase::kStart) return;
        phase_ = Phase::kRinging;
        in_call_ = true;
        Emit(std::string("{\"event\":\"offered\",\"line_open\":") +
             (m.line_open ? "true" : "false") + "}");
        start_ = SteadyClock::now();
        Ring();
        return;
      case lw::SimlineType::kDialed: {
        if (phase_ != Phase::kStart) return;
        phase_ = Phase::kDialed;
        in_call_ = true;
        std::string line = "{\"event\":\"dialed\",\"number\":";
        AppendJsonString(m.number, &line);
        Emit(line + "}");
        answer_timer_.expires_after(Seconds(o_.answer_after));
        answer_timer_.async_wait([this](const std::error_code& e) {
          if (!e && phase_ == Phase::kDialed)
            Send(lw::SimlineOf(lw::SimlineType::kAnswerCall));
        });
        return;
      }
      case lw::SimlineType::kAnswered:
        if (phase_ == Phase::kRinging || phase_ == Phase::kTalking) {
          ring_timer_.cancel();
          Emit("{\"event\":\"answered\",\"after_rings\":" +
               std::to_string(rings_) + "}");
        } else if (phase_ == Phase::kDialed) {
          Emit("{\"event\":\"answered\"}");
        } else {
          return;
        }
        // After a pick-up the conversation already runs.
        if (phase_ != Phase::kTalking) StartTalking();
        return;
      case lw::SimlineType::kHungUp:
        if (!in_call_) return;
        Emit("{\"event\":\"hangup\",\"by\":\"line\"}");
        return Finish(0);
      case lw::SimlineType::kAudio:
        if (phase_ == Phase::kTalking) Capture(m.samples);
        return;
      default:
        return;
    }
  }

  void Ring() {
    ++rings_;
    Send(lw::SimlineOf(lw::SimlineType::kRing));
    Emit("{\"event\":\"ring\",\"count\":" + std::to_string(rings_) + "}");
    const bool withheld = o_.withhold_name || o_.withhold_number;
    if (rings_ == 1 && (!o_.name.empty() || !o_.number.empty() || withheld)) {
      // A withheld value reaches the line empty.
      lw::SimlineMessage cid = lw::SimlineOf(lw::SimlineType::kCallerId);
      cid.name = o_.withhold_name ? "" : o_.name;
      cid.number = o_.withhold_number ? "" : o_.number;
      Send(cid);
    }
    for (const std::string& line :
         rings_ == 1 ? o_.modem_lines : std::vector<std::string>{}) {
      lw::SimlineMessage text = lw::SimlineOf(lw::SimlineType::kModemText);
      text.text = "\r\n" + line + "\r\n";
      Send(text);
    }
    if (rings_ == o_.pickup_after) {
      Send(lw::SimlineOf(lw::SimlineType::kPickUp));
      Emit("{\"event\":\"picked_up\",\"after_rings\":" +
           std::to_string(rings_) + "}");
      StartTalking();
      return;
    }
    // Rings keep their pace from the offer; after the last one the caller
    // waits one more interval and gives up.
    ring_timer_.expires_at(start_ + Seconds(o_.ring_interval * rings_));
    ring_timer_.async_wait([this](const std::error_code& e) {
      if (e || phase_ != Phase::kRinging) return;
      if (rings_ >= o_.rings) return HangUp();
      Ring();
    });
  }

  void StartTalking() {
    phase_ = Phase::kTalking;
    talk_start_ = SteadyClock::now();
    double end = 0;  // when the caller's script is done
    if (!sound_.empty()) {
      end = o_.play_after +
            static_cast<double>(sound_.size()) / lw::kLineSampleRate;
      audio_start_ = talk_start_ + Seconds(o_.play_after);
      audio_timer_.expires_at(audio_start_);
      audio_timer_.async_wait([this](const std::error_code& e) {
        if (!e) SendAudio();
      });
    }
    // The digits of --digits, one every kDigitSpacingS, and the single
    // --key digits, sent in the order of their moments.
    keys_ = o_.keys;
    for (size_t i = 0; i < o_.digits.size(); ++i)
      keys_.emplace_back(
          o_.digits_after + kDigitSpacingS * static_cast<double>(i),
          o_.digits[i]);
    std::stable_sort(
        keys_.begin(), keys_.end(),
        [](const auto& a, const auto& b) { return a.first < b.first; });
    if (!keys_.empty()) {
      end = std::max(end, keys_.back().first);
      SendDigitLater();
    }
    double hangup = o_.hangup_after;
    if (hangup < 0)
      hangup = sound_.empty() && keys_.empty() ? kDefaultTalkS
                                               : end + kHangupAfterEndS;
    hangup_timer_.expires_at(talk_start_ + Seconds(hangup));
    hangup_timer_.async_wait([this](const std::error_code& e) {
      if (!e) HangUp();
    });
  }

  // One block every 20 ms, on deadlines counted from the start so the pace
  // does not drift.
  void SendAudio() {
    if (phase_ != Phase::kTalking || sound_pos_ >= sound_.size()) return;
    const size_t n =
        std::min<size_t>(lw::kLineBlockSamples, sound_.size() - sound_pos_);
    Send(lw::SimlineAudio(
        std::span<const int16_t>(sound_.data() + sound_pos_, n)));
    sound_pos_ += n;
    ++audio_blocks_;
    if (sound_pos_ >= sound_.size()) return;
    audio_timer_.expires_at(audio_start_ + milliseconds(20) * audio_blocks_);
    audio_timer_.async_wait([this](const std::error_code& e) {
      if (!e) SendAudio();
    });
  }

  void SendDigitLater() {
    digit_timer_.expires_at(talk_start_ + Seconds(keys_[digits_sent_].first));
    digit_timer_.async_wait([this](const std::error_code& e) {
      if (e || phase_ != Phase::kTalking) return;
      lw::SimlineMessage d = lw::SimlineOf(lw::SimlineType::kDigit);
      d.digit = keys_[digits_sent_++].second;
      Send(d);
      Emit(std::string("{\"event\":\"digit\",\"digit\":\"") + d.digit + "\"}");
      if (digits_sent_ < keys_.size()) SendDigitLater();
    });
  }

  // What the line plays, placed where it falls in the call: a pause of the
  // line longer than kCaptureGapSamples stays in the capture as silence.
  void Capture(const std::vector<int16_t>& samples) {
    if (o_.capture.empty()) return;
    const auto elapsed = SteadyClock::now() - talk_start_;
    const auto due = static_cast<size_t>(duration<double>(elapsed).count() *
                                         lw::kLineSampleRate);
    if (due > captured_.size() + samples.size() + kCaptureGapSamples)
      captured_.resize(due - samples.size(), 0);
    captured_.insert(captured_.end(), samples.begin(), samples.end());
  }

  void HangUp() {
    if (phase_ == Phase::kOver) return;
    Send(lw::SimlineOf(lw::SimlineType::kHangup));
    Emit("{\"event\":\"hangup\",\"by\":\"caller\"}");
    Finish(0);
  }

  // Ends the run once what was sent has left.
  void Finish(int code) {
    if (phase_ == Phase::kOver) return;
    phase_ = Phase::kOver;
    exit_code_ = code;
    ring_timer_.cancel();
    answer_timer_.cancel();
    audio_timer_.cancel();
    digit_timer_.cancel();
    hangup_timer_.cancel();
    std::error_code ignored;
    signals_.cancel(ignored);
    if (!o_.capture.empty() && in_call_) {
      std::string error;
      if (!WriteLineSound(o_.capture, captured_, &error)) {
        Fail(error);
        exit_code_ = 1;
      }
    }
    if (!writing_) Close();
  }

  void Close() {
    std::error_code ignored;
    socket_.shutdown(stream_protocol::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  void Send(const lw::SimlineMessage& m) {
    if (!socket_.is_open()) return;
    queue_.push_back(lw::EncodeSimline(m));
    if (!writing_) WriteNext();
  }

  void WriteNext() {
    writing_ = true;
    asio::async_write(socket_, asio::buffer(queue_.front()),
                      [this](const std::error_code& ec, size_t) {
                        queue_.pop_front();
                        if (ec) {
                          queue_.clear();
                          writing_ = false;
                          if (phase_ != Phase::kOver) {
                            Fail("the simulated line went away");
                            Finish(1);
                          }
                          return;
                        }
                        if (!queue_.empty()) return WriteNext();
                        writing_ = false;
                        if (phase_ == Phase::kOver) Close();
                      });
  }

  const char* sub_;
  Options o_;
  asio::io_context io_;
  stream_protocol::socket socket_;
  asio::signal_set signals_;
  asio::steady_timer ring_timer_;
  asio::steady_timer answer_timer_;
  asio::steady_timer audio_timer_;
  asio::steady_timer digit_timer_;
  asio::steady_timer hangup_timer_;
  lw::SimlineDecoder decoder_;
  std::array<char, 8192> buffer_;
  std::deque<std::string> queue_;
  bool writing_ = false;

  Phase phase_ = Phase::kStart;
  bool in_call_ = false;
  int exit_code_ = 0;
  int64_t rings_ = 0;
  SteadyClock::time_point start_;
  SteadyClock::time_point talk_start_;
  SteadyClock::time_point audio_start_;
  std::vector<int16_t> sound_;
  size_t sound_pos_ = 0;
  int64_t audio_blocks_ = 0;
  std::vector<std::pair<double, char>> keys_;  // (seconds, digit) in order
  size_t digits_sent_ = 0;
  std::vector<int16_t> captured_;
};

// Sends one message without payload to the simulated line.
int SendToLine(lw::SimlineType type) {
  const std::string path =
      lw::ResolveRuntimeDir() + "/" + lw::SimulatedLine::kSocketName;
  asio::io_context io;
  stream_protocol::socket socket(io);
  std::error_code ec;
  socket.connect(stream_protocol::endpoint(path), ec);
  if (!ec)
    asio::write(socket, asio::buffer(lw::EncodeSimline(lw::SimlineOf(type))),
                ec);
  if (!ec) return 0;
  std::fprintf(stderr, "lwdctl phone: no simulated line at %s: %s\n",
               path.c_str(), ec.message().c_str());
  return 1;
}

}  // namespace

int RunPhone(const Args& args) {
  if (args.empty()) {
    std::fputs(kPhoneUsage, stderr);
    return 2;
  }
  const std::string& sub = args[0];
  if (sub == "--help" || sub == "-h" || sub == "help") {
    std::fputs(kPhoneUsage, stdout);
    return 0;
  }
  if (sub == "unplug" || sub == "plug") {
    return SendToLine(sub == "plug" ? lw::SimlineType::kLineBack
                                    : lw::SimlineType::kLoseLine);
  }
  if (sub != "call" && sub != "answer") {
    std::fprintf(stderr, "lwdctl phone: unknown subcommand '%s'\n%s",
                 sub.c_str(), kPhoneUsage);
    return 2;
  }
  const bool call = sub == "call";
  Options options;
  const int parsed = ParseOptions(call ? "call" : "answer",
                                  Args(args.begin() + 1, args.end()), &options);
  if (parsed >= 0) return parsed;
  FarEnd far_end(call ? "call" : "answer", std::move(options));
  return far_end.Run(call);
}

}  // namespace lwdctl
