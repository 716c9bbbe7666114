// What the end-to-end tests share: the real programs (linewarden-proc,
// lwdctl) of the build folder run in a home and runtime folder of their
// own, `lwdctl listen` as the desktop application, sound files for the far
// end, and the stored calls of today.
#pragma once

#include <dirent.h>
#include <gmock/gmock.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "callstore/call_record.h"
#include "loopback.h"

namespace lw::testing {

using ::testing::HasSubstr;
using ::testing::Not;

// Waits for `pid` to end within `limit`; true when it did (status filled).
inline bool WaitExit(
    pid_t pid, int* status,
    std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  return WaitFor([&] { return waitpid(pid, status, WNOHANG) == pid; }, limit);
}

// Signals a program started by a test, if it still runs, and reaps it.
inline void EndProgram(pid_t* pid, int signal = SIGTERM) {
  if (*pid <= 0) return;
  kill(*pid, signal);
  int status = 0;
  EXPECT_TRUE(WaitExit(*pid, &status));
  *pid = -1;
}

// The files of `dir` whose names end in `suffix` ("." and ".." left out).
inline std::vector<std::string> FilesIn(const std::string& dir,
                                        const std::string& suffix = "") {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (const dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n[0] != '.' && n.size() >= suffix.size() &&
          n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
        out.push_back(dir + "/" + n);
    }
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

class ProgramEnv {
 public:
  ProgramEnv() : home_(dir_ / "home"), runtime_(dir_ / "run") {
    std::filesystem::create_directories(home_ + "/Journal");
  }
  const std::string& home() const { return home_; }
  const std::string& runtime() const { return runtime_; }

  // Starts a program of the build folder with `extra_env` before the
  // environment (the first entry of a name counts); returns its pid.
  pid_t Spawn(const std::string& program, const std::vector<std::string>& args,
              const std::vector<std::string>& extra_env = {},
              const std::string& out_file = "") const {
    const char* bin = std::getenv("LW_TEST_BIN");
    std::vector<std::string> argv = {std::string(bin ? bin : "build/bin") +
                                     "/" + program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> env = extra_env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string s(*e);
      if (s.rfind("LINEWARDEN_", 0) != 0 && s.rfind("NOTIFY_SOCKET=", 0) != 0)
        env.push_back(s);
    }
    env.push_back("LINEWARDEN_HOME=" + home_);
    env.push_back("LINEWARDEN_RUNTIME=" + runtime_);
    return SpawnProgram(argv, env, out_file);
  }

  // Runs a program to its end; returns its exit status (-1 when it failed
  // to start or was killed) and fills `output`.
  int Run(const std::string& program, const std::vector<std::string>& args,
          std::string* output = nullptr) const {
    const std::string out = dir_ / "run-output.txt";
    const pid_t pid = Spawn(program, args, {}, out);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
    if (output != nullptr) *output = ReadFile(out);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Sets one setting of the product key with `lwdctl reg set`, unguarded:
  // tests also store values the process must cope with.
  void Set(const std::string& section, const std::string& name,
           const std::string& value) const {
    ASSERT_EQ(Run("lwdctl", {"reg", "set", "--force", section, name, value}),
              0);
  }

  // The system journal ("Sys") or the web journal ("WWW"), every day's.
  std::string Journal(const std::string& kind = "Sys") const {
    std::string all;
    for (const auto& f : FilesIn(home_ + "/Journal", "_" + kind + ".txt"))
      all += ReadFile(f);
    return all;
  }
  bool Journalled(const std::string& text) const {
    return Journal().find(text) != std::string::npos;
  }

  // Today's day folder.
  std::string Today() const {
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    char buf[32];
    strftime(buf, sizeof buf, "/Data/Log/%Y/%m/%d", &t);
    return home_ + buf;
  }
  // The records of today's "Data" file.
  std::vector<CallRecord> Records() const {
    const std::string data = ReadFile(Today() + "/Data");
    std::vector<CallRecord> out(data.size() / CallRecord::kSize);
    for (size_t i = 0; i < out.size(); ++i)
      std::copy_n(data.data() + i * CallRecord::kSize, CallRecord::kSize,
                  out[i].bytes());
    return out;
  }
  bool WaitRecords(size_t n) const {
    return WaitFor([&] { return Records().size() >= n; },
                   std::chrono::seconds(20));
  }
  // The recording a stored call leads to, as every reader finds it.
  std::string RecordingOf(const CallRecord& r) const {
    return Today() + "/" +
           RecordingName(FieldText(r.caller_name), FieldText(r.caller_number),
                         FieldText(r.date), FieldText(r.time));
  }

 private:
  TempDir dir_;
  std::string home_;
  std::string runtime_;
};

// `lwdctl listen` on `channels`, bound once constructed; stopped at the end.
class Listener {
 public:
  Listener(const ProgramEnv& env, const std::vector<std::string>& channels,
           const std::vector<std::string>& options = {"--timeout", "60"})
      : out_(env.home() + "/listen-" + channels[0] + ".txt") {
    std::vector<std::string> args = {"listen"}, dirs;
    std::vector<size_t> before;
    for (const std::string& c : channels) {
      args.push_back(c);
      dirs.push_back(env.runtime() + "/ch" + c);
      before.push_back(FilesIn(dirs.back()).size());
    }
    args.insert(args.end(), options.begin(), options.end());
    pid_ = env.Spawn("lwdctl", args, {}, out_);
    // Bound once a socket of its own sits in each channel's folder.
    EXPECT_TRUE(WaitFor([&] {
      for (size_t i = 0; i < dirs.size(); ++i)
        if (FilesIn(dirs[i]).size() <= before[i]) return false;
      return true;
    }));
  }
  ~Listener() { Stop(); }
  pid_t pid() const { return pid_; }
  // The JSON lines received so far.
  std::string Text() const { return ReadFile(out_); }
  // Waits for it to end by itself (--count, --timeout).
  bool Wait(int* status,
            std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    if (!WaitExit(pid_, status, limit)) return false;
    pid_ = -1;
    return true;
  }
  bool WaitText(const std::string& what) const {
    return WaitFor([&] { return Text().find(what) != std::string::npos; });
  }
  std::string Stop() {
    EndProgram(&pid_, SIGINT);
    return Text();
  }

 private:
  std::string out_;
  pid_t pid_ = -1;
};

// `seconds` of a sine at `rate`, peak `amplitude` (0..1).
inline std::vector<short> Sine(double seconds, double hz, double amplitude,
                               int rate = 8000) {
  std::vector<short> out(static_cast<size_t>(seconds * rate));
  for (size_t i = 0; i < out.size(); ++i)
    out[i] = static_cast<short>(
        std::lround(amplitude * 32767 *
                    std::sin(2 * M_PI * hz * static_cast<double>(i) / rate)));
  return out;
}

// A 16-bit PCM wave file of interleaved `samples`.
inline void WriteWav(const std::string& path, const std::vector<short>& samples,
                     int rate = 8000, int channels = 1) {
  SF_INFO info{0, rate, channels, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
  sf_write_short(f, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(f);
}

// A mono 8 kHz 16-bit tone of `seconds`.
inline void WriteTone(const std::string& path, double hz, double seconds) {
  WriteWav(path, Sine(seconds, hz, 0.4));
}

// The samples of a sound file (empty when it cannot be read).
inline std::vector<short> ReadSamples(const std::string& path,
                                      SF_INFO* info_out = nullptr) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return {};
  std::vector<short> s(static_cast<size_t>(info.frames * info.channels));
  sf_read_short(f, s.data(), static_cast<sf_count_t>(s.size()));
  sf_close(f);
  if (info_out != nullptr) *info_out = info;
  return s;
}

// Where the first 100 ms window of `s` that is mostly a tone of `hz`
// begins, at or after `from`; npos when there is none.
inline size_t ToneAt(const std::vector<short>& s, double hz, size_t from = 0) {
  for (size_t at = from; at + 800 <= s.size(); at += 400) {
    double re = 0, im = 0, total = 0;
    for (size_t i = at; i < at + 800; ++i) {
      const double w = 2 * M_PI * hz * static_cast<double>(i) / 8000;
      re += s[i] * std::cos(w);
      im += s[i] * std::sin(w);
      total += static_cast<double>(s[i]) * s[i];
    }
    if (total > 0 && (re * re + im * im) * 2 / 800 / total > 0.6) return at;
  }
  return std::string::npos;
}
inline bool HasTone(const std::vector<short>& s, double hz) {
  return ToneAt(s, hz) != std::string::npos;
}

// The root mean square of samples `from` to `to` of `s`.
inline double Rms(const std::vector<short>& s, size_t from, size_t to) {
  double sum = 0;
  for (size_t i = from; i < to; ++i) sum += static_cast<double>(s[i]) * s[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}
// The root mean square of the last second of `s`.
inline double LastSecondLevel(const std::vector<short>& s) {
  return s.size() < 8000 ? 0 : Rms(s, s.size() - 8000, s.size());
}

// The three settings of a fresh home in telephony mode: the system journal
// on, the line open, caller identification on.
inline void MinimalSettings(const ProgramEnv& env) {
  env.Set("Properties\\TabLog", "chkLogSys", "1");
  env.Set("Properties\\TabLineStat", "cmbLineStat", "0");
  env.Set("Properties\\TabDevices\\CallerID", "Tapi", "1");
}

// Starts the process; true once the line is open (journalled after the
// first `journal_from` bytes of the journal).
inline bool StartProcess(const ProgramEnv& env, pid_t* pid,
                         size_t journal_from = 0) {
  *pid = env.Spawn("linewarden-proc", {}, {}, env.home() + "/out.txt");
  return *pid > 0 && WaitFor([&] {
    return env.Journal().find("OpenLine:Tapi1.LineOpen(0)->", journal_from) !=
           std::string::npos;
  });
}

#ifdef LW_SOURCE_DIR
// The demo settings, with sounds on the "null" device and the web server on
// a free port (homes run side by side).
inline void DemoSettings(const ProgramEnv& env) {
  ASSERT_EQ(env.Run("lwdctl", {"reg", "import",
                               LW_SOURCE_DIR "/demo/linewarden-demo.reg"}),
            0);
  env.Set("Properties\\TabDevices", "cmbSoundDev", "null");
  env.Set("RemoteAccess\\TabInternetAccess", "txtWWWPort",
          std::to_string(FreePort()));
}

// The process running on a home with the demo settings, a greeting ("Greeting",
// a 600 Hz tone), a beep (1000 Hz) and a notice before recording ("Notice", 800
// Hz); stopped at the end. Prepare() runs before the start.
class LineE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    DemoSettings(env_);
    std::filesystem::create_directories(env_.home() + "/Greets");
    std::filesystem::create_directories(env_.home() + "/LegalGreets");
    WriteTone(env_.home() + "/Greets/Greeting.wav", 600, 1.0);
    WriteTone(env_.home() + "/Beep.wav", 1000, 0.3);
    WriteTone(env_.home() + "/LegalGreets/Notice.wav", 800, 1.0);
    Prepare();
    if (!HasFatalFailure() && !IsSkipped()) {
      ASSERT_TRUE(StartProcess(env_, &proc_));
    }
  }
  void TearDown() override { EndProgram(&proc_); }
  virtual void Prepare() {}
  // Runs `lwdctl phone` to the end of the call; returns its JSON lines.
  std::string Phone(const std::vector<std::string>& args) {
    std::string out;
    std::vector<std::string> all = {"phone"};
    all.insert(all.end(), args.begin(), args.end());
    EXPECT_EQ(env_.Run("lwdctl", all, &out), 0) << out;
    return out;
  }

  ProgramEnv env_;
  pid_t proc_ = -1;
};
#endif

}  // namespace lw::testing
