// What the end-to-end tests of calls share: sound files for the far end,
// the day folder of today's calls, its stored records and the settings.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "process_runner.h"

namespace lw::testing {

// A mono 8 kHz 16-bit tone of `seconds`.
inline void WriteTone(const std::string& path, double hz, double seconds,
                      double amplitude = 0.4) {
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  std::vector<short> s(static_cast<size_t>(seconds * 8000));
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<short>(
        amplitude * 32767 *
        std::sin(2 * M_PI * hz * static_cast<double>(i) / 8000));
  sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
  sf_close(f);
}

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

// The files of `dir` whose names end in `suffix` ("." and ".." left out).
inline std::vector<std::string> FilesIn(const std::string& dir,
                                        const std::string& suffix) {
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
  return out;
}

// How many entries `dir` holds: in a channel's folder, the bound parties.
inline size_t Entries(const std::string& dir) {
  return FilesIn(dir, "").size();
}

// A stored record's field, its padding removed.
inline std::string Field(const std::string& record, size_t at, size_t n) {
  std::string f = record.substr(at, n);
  while (!f.empty() && (f.back() == ' ' || f.back() == '\0')) f.pop_back();
  return f;
}

// Today's day folder under `home`.
inline std::string Today(const std::string& home) {
  const time_t now = time(nullptr);
  tm t{};
  localtime_r(&now, &t);
  char buf[32];
  strftime(buf, sizeof buf, "%Y/%m/%d", &t);
  return home + "/Data/Log/" + buf;
}

// The 467-byte records of today's "Data" file.
inline std::vector<std::string> Records(const std::string& home) {
  const std::string data = ReadFile(Today(home) + "/Data");
  std::vector<std::string> out;
  for (size_t at = 0; at + 467 <= data.size(); at += 467)
    out.push_back(data.substr(at, 467));
  return out;
}

// Sets one setting of the product key with `lwdctl reg set`.
inline void SetSetting(const ProgramEnv& env, const std::string& section,
                       const std::string& name, const std::string& value) {
  ASSERT_EQ(env.Run("lwdctl", {"reg", "set", section, name, value}), 0);
}

// The three settings of a fresh home in telephony mode: the system journal
// on, the line open, caller identification on.
inline void MinimalSettings(const ProgramEnv& env) {
  SetSetting(env, "Properties\\TabLog", "chkLogSys", "1");
  SetSetting(env, "Properties\\TabLineStat", "cmbLineStat", "0");
  SetSetting(env, "Properties\\TabDevices\\CallerID", "Tapi", "1");
}

#ifdef LW_SOURCE_DIR
// The demo settings, with sounds on the "null" device.
inline void DemoSettings(const ProgramEnv& env) {
  ASSERT_EQ(env.Run("lwdctl",
                    {"reg", "import",
                     std::string(LW_SOURCE_DIR) + "/demo/linewarden-demo.reg"}),
            0);
  SetSetting(env, "Properties\\TabDevices", "cmbSoundDev", "null");
}
#endif

// Starts the process; true once the line is open (journalled after the
// first `journal_from` bytes of the journal).
inline bool StartProcess(const ProgramEnv& env, pid_t* pid,
                         size_t journal_from = 0) {
  *pid = env.Spawn("linewarden-proc", {}, {}, env.home() + "/out.txt");
  return *pid > 0 && WaitFor([&] {
    return env.SysJournal().find("OpenLine:Tapi1.LineOpen(0)->",
                                 journal_from) != std::string::npos;
  });
}

// Stops a program started by a test, if it still runs.
inline void EndProgram(pid_t* pid) {
  if (*pid <= 0) return;
  kill(*pid, SIGTERM);
  int status = 0;
  EXPECT_TRUE(WaitExit(*pid, &status));
  *pid = -1;
}

#ifdef LW_SOURCE_DIR
// The process running on a home with the demo settings, a greeting
// ("Greeting", a 600 Hz tone) and a beep (1000 Hz); stopped at the end.
// Prepare() runs before the start.
class LineE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    DemoSettings(env_);
    mkdir((env_.home() + "/Greets").c_str(), 0755);
    mkdir((env_.home() + "/LegalGreets").c_str(), 0755);
    WriteTone(env_.home() + "/Greets/Greeting.wav", 600, 1.0);
    WriteTone(env_.home() + "/Beep.wav", 1000, 0.3);
    Prepare();
    ASSERT_TRUE(StartProcess(env_, &proc_));
  }
  void TearDown() override { EndProgram(&proc_); }
  virtual void Prepare() {}
  void Set(const std::string& section, const std::string& name,
           const std::string& value) {
    SetSetting(env_, section, name, value);
  }
  std::string Today() const { return testing::Today(env_.home()); }

  ProgramEnv env_;
  pid_t proc_ = -1;
};
#endif

}  // namespace lw::testing
