// lwdctl calls: the latest-call list of the home, as the process keeps it,
// read and changed through the call store itself.
#include <unistd.h>

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <charconv>
#include <cstdio>
#include <string>
#include <vector>

#include "callstore/call_record.h"
#include "callstore/call_store.h"
#include "commands.h"
#include "devices/line_audio.h"
#include "drivers/alsa/alsa_sound_output.h"
#include "drivers/asio_clock/asio_clock.h"
#include "phone_audio.h"
#include "service/paths.h"

namespace lwdctl {
namespace {

constexpr const char* kUsage =
    "usage: lwdctl calls [list] [--json]       the latest calls, newest first\n"
    "       lwdctl calls play N [--path]       play call N's recording on the\n"
    "                                          sound device, or print its "
    "file\n"
    "       lwdctl calls heard N               mark call N as heard\n"
    "       lwdctl calls delete N [--with-recording]\n"
    "                                          take call N off the list (and\n"
    "                                          delete its recording)\n"
    "N is the number 'lwdctl calls' shows. Exit status: 0 done, 1 no such "
    "call\n"
    "or no recording, 2 bad arguments.\n";

// JSON string contents of a text (its bytes otherwise as they are).
std::string JsonText(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += c;
    }
  }
  return out;
}

int Usage(const std::string& message) {
  std::fprintf(stderr, "lwdctl calls: %s\n%s", message.c_str(), kUsage);
  return 2;
}

class Calls {
 public:
  Calls() : clock_(io_), store_(lw::ResolveAppPath(), clock_) {}

  int List(bool json) {
    std::vector<std::string> lines;
    if (!store_.ReadLastCalls(lines)) {
      std::fputs("lwdctl calls: the list of calls cannot be read\n", stderr);
      return 1;
    }
    if (!json)
      std::printf("%-3s %-24s %-20s %-16s %-22s %-8s %s\n", "N", "TYPE", "NAME",
                  "NUMBER", "TIME", "LENGTH", "STATE");
    std::string out = "[";
    for (size_t n = 1; n <= lines.size(); ++n) {
      lw::CallInfo c;
      if (store_.GetLastCall(static_cast<int64_t>(n), c, false)) continue;
      const std::string type(lw::CallTypeText(c.call_type));
      const char* state = c.read_mark == 0 ? "new" : "heard";
      if (json) {
        out += std::string(n > 1 ? "," : "") +
               "\n {\"n\":" + std::to_string(n) + ",\"type\":\"" +
               JsonText(type) + "\",\"name\":\"" + JsonText(c.caller_name) +
               "\",\"number\":\"" + JsonText(c.caller_number) +
               "\",\"date\":\"" + JsonText(c.date) + "\",\"time\":\"" +
               JsonText(c.time) + "\",\"length\":\"" + JsonText(c.length) +
               "\",\"state\":\"" + state + "\",\"recording\":\"" +
               JsonText(c.message_path) + "\"}";
      } else {
        std::printf("%-3zu %-24s %-20s %-16s %-22s %-8s %s\n", n, type.c_str(),
                    c.caller_name.c_str(), c.caller_number.c_str(),
                    (c.date + " " + c.time).c_str(), c.length.c_str(), state);
      }
    }
    if (json) std::printf("%s\n]\n", out.c_str());
    return 0;
  }

  // Call N of the list; false (said) when there is none.
  bool Find(int64_t n, lw::CallInfo& call, bool mark_heard) {
    if (!store_.GetLastCall(n, call, mark_heard)) return true;
    std::fprintf(stderr, "lwdctl calls: no call %lld in the list\n",
                 static_cast<long long>(n));
    return false;
  }

  int Play(int64_t n, bool path_only) {
    lw::CallInfo call;
    if (!Find(n, call, false)) return 1;
    if (call.message_path.empty() || access(call.message_path.c_str(), R_OK)) {
      std::fprintf(stderr, "lwdctl calls: call %lld has no recording\n",
                   static_cast<long long>(n));
      return 1;
    }
    if (path_only) {
      std::printf("%s\n", call.message_path.c_str());
      return 0;
    }
    std::vector<int16_t> samples;
    std::string error;
    lw::AlsaSoundOutput out(clock_);
    const std::vector<std::string> devices = lw::AlsaSoundOutput::DeviceNames();
    if (!ReadLineSound(call.message_path, &samples, &error) ||
        !out.Open(devices.front(), lw::kLineSampleRate) ||
        !out.Write(samples)) {
      std::fprintf(stderr, "lwdctl calls: cannot play %s: %s\n",
                   call.message_path.c_str(),
                   error.empty() ? out.Error().c_str() : error.c_str());
      return 1;
    }
    // The sound device's worker reports the end through the loop, which
    // waits for it.
    auto work = asio::make_work_guard(io_);
    out.Finish([this] { io_.stop(); });
    io_.run();
    return 0;
  }

  int Heard(int64_t n) {
    lw::CallInfo call;
    return Find(n, call, true) ? 0 : 1;
  }

  int Delete(int64_t n, bool with_recording) {
    lw::CallInfo call;
    if (!Find(n, call, false)) return 1;
    store_.RemoveFromLastCalls(n);
    if (with_recording && !call.message_path.empty() &&
        unlink(call.message_path.c_str()) != 0 && errno != ENOENT) {
      std::fprintf(stderr, "lwdctl calls: cannot delete %s\n",
                   call.message_path.c_str());
      return 1;
    }
    return 0;
  }

 private:
  asio::io_context io_;
  lw::AsioClock clock_;
  lw::CallStore store_;
};

}  // namespace

int RunCalls(const Args& args) {
  std::vector<std::string> words;
  bool json = false, path = false, with_recording = false;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h") return std::fputs(kUsage, stdout), 0;
    if (a == "--json") {
      json = true;
    } else if (a == "--path") {
      path = true;
    } else if (a == "--with-recording") {
      with_recording = true;
    } else if (a.starts_with("-")) {
      return Usage("unknown option '" + a + "'");
    } else {
      words.push_back(a);
    }
  }
  Calls calls;
  if (words.empty() || (words[0] == "list" && words.size() == 1))
    return calls.List(json);
  if (words.size() != 2) return Usage("expected a subcommand and N");
  int64_t n = 0;
  const std::string& number = words[1];
  const auto [end, err] =
      std::from_chars(number.data(), number.data() + number.size(), n);
  if (err != std::errc() || end != number.data() + number.size() || n < 1)
    return Usage("'" + number + "' is not a call number");
  if (words[0] == "play") return calls.Play(n, path);
  if (words[0] == "heard") return calls.Heard(n);
  if (words[0] == "delete") return calls.Delete(n, with_recording);
  return Usage("unknown subcommand '" + words[0] + "'");
}

}  // namespace lwdctl
