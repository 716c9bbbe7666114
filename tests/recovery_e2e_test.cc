// Messages that must survive what the caller sends and what happens to the
// process: the real process on the simulated line, `lwdctl phone` as the
// caller.
#include <dirent.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <cmath>
#include <vector>

#include "callstore/call_record.h"
#include "process_runner.h"

namespace lw::testing {
namespace {

void WriteTone(const std::string& path, double hz, double seconds) {
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  ASSERT_NE(f, nullptr);
  std::vector<short> s(static_cast<size_t>(seconds * 8000));
  for (size_t i = 0; i < s.size(); ++i)
    s[i] = static_cast<short>(
        0.4 * 32767 * std::sin(2 * M_PI * hz * static_cast<double>(i) / 8000));
  sf_write_short(f, s.data(), static_cast<sf_count_t>(s.size()));
  sf_close(f);
}

// The frames of a wave file; empty when it cannot be read.
std::vector<short> ReadSamples(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return {};
  std::vector<short> s(static_cast<size_t>(info.frames));
  sf_read_short(f, s.data(), static_cast<sf_count_t>(s.size()));
  sf_close(f);
  return s;
}

// True when the last second of `s` is mostly a tone of `hz`.
bool EndsInTone(const std::vector<short>& s, double hz) {
  if (s.size() < 8000) return false;
  double re = 0, im = 0, total = 0;
  for (size_t i = s.size() - 8000; i < s.size(); ++i) {
    const double x = s[i], w = 2 * M_PI * hz * static_cast<double>(i) / 8000;
    re += x * std::cos(w);
    im += x * std::sin(w);
    total += x * x;
  }
  return total > 0 && (re * re + im * im) * 2 / 8000 / total > 0.6;
}

std::vector<std::string> FilesIn(const std::string& dir,
                                 const std::string& suffix) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d)) {
      const std::string n = e->d_name;
      if (n.size() > suffix.size() &&
          n.compare(n.size() - suffix.size(), suffix.size(), suffix) == 0)
        out.push_back(dir + "/" + n);
    }
    closedir(d);
  }
  return out;
}

off_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class RecoveryE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(env_.Run("lwdctl", {"reg", "import",
                                  std::string(LW_SOURCE_DIR) +
                                      "/demo/linewarden-demo.reg"}),
              0);
    ASSERT_EQ(env_.Run("lwdctl", {"reg", "set", "Properties\\TabDevices",
                                  "cmbSoundDev", "null"}),
              0);
    mkdir((env_.home() + "/Greets").c_str(), 0755);
    WriteTone(env_.home() + "/Greets/Greeting.wav", 600, 1.0);
    WriteTone(env_.home() + "/Beep.wav", 1000, 0.3);
    WriteTone(env_.home() + "/voice.wav", 440, 20.0);
    StartProcess();
  }
  void TearDown() override {
    for (pid_t pid : {phone_, proc_}) {
      if (pid <= 0) continue;
      kill(pid, SIGTERM);
      int status = 0;
      WaitExit(pid, &status);
    }
  }
  void StartProcess() {
    proc_ = env_.Spawn("linewarden-proc", {}, {}, env_.home() + "/out.txt");
    ASSERT_GT(proc_, 0);
    ASSERT_TRUE(WaitFor([&] {
      return env_.SysJournal().find("OpenLine:Tapi1.LineOpen(0)->",
                                    opened_from_) != std::string::npos;
    }));
    opened_from_ = env_.SysJournal().size();
  }
  // A caller who leaves a message of the tone in voice.wav.
  void StartCall(const std::string& name, double hangup_after) {
    phone_ = env_.Spawn(
        "lwdctl",
        {"phone", "call", "--name", name, "--number", "5551234", "--rings", "4",
         "--ring-interval", "0.5", "--play", env_.home() + "/voice.wav",
         "--play-after", "2.5", "--hangup-after", std::to_string(hangup_after)},
        {}, env_.home() + "/phone.txt");
    ASSERT_GT(phone_, 0);
  }
  std::string Today() const {
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    char buf[32];
    strftime(buf, sizeof buf, "%Y/%m/%d", &t);
    return env_.home() + "/Data/Log/" + buf;
  }
  // Today's day folder as the latest-call list names it.
  std::string DayText() const {
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    char buf[32];
    strftime(buf, sizeof buf, "\\Data\\Log\\%Y\\%m\\%d\\", &t);
    return buf;
  }
  std::vector<CallRecord> Records() const {
    const std::string data = ReadFile(Today() + "/Data");
    std::vector<CallRecord> out;
    for (size_t at = 0; at + CallRecord::kSize <= data.size();
         at += CallRecord::kSize) {
      out.emplace_back();
      std::copy_n(data.data() + at, CallRecord::kSize, out.back().bytes());
    }
    return out;
  }
  // The recording a stored call leads to, as every reader finds it.
  std::string RecordingOf(const CallRecord& r) const {
    return Today() + "/" +
           RecordingName(FieldText(r.caller_name), FieldText(r.caller_number),
                         FieldText(r.date), FieldText(r.time));
  }

  ProgramEnv env_;
  pid_t proc_ = -1;
  pid_t phone_ = -1;
  size_t opened_from_ = 0;
};

TEST_F(RecoveryE2E, MessageCutOffByKillIsStoredAtTheNextStart) {
  // given kill -9 four seconds into a voice message, expect the next start
  // to store it as a voice message readable to the last block written, at
  // the head of the latest-call list, with "Recovered interrupted call"
  StartCall("KILLED", 30);
  std::string wav;
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto wavs = FilesIn(Today(), ".wav");
        if (wavs.size() == 1) wav = wavs[0];
        return !wav.empty() && FileSize(wav) > 44 + 4 * 16000 &&
               FileSize(wav + ".call") == CallRecord::kSize;
      },
      std::chrono::seconds(20)));
  kill(proc_, SIGKILL);
  int status = 0;
  ASSERT_TRUE(WaitExit(proc_, &status));
  proc_ = -1;
  const off_t cut_at = FileSize(wav);
  ASSERT_TRUE(Records().empty());

  StartProcess();
  EXPECT_NE(env_.SysJournal().find("Recovered interrupted call: " + wav),
            std::string::npos)
      << env_.SysJournal();
  EXPECT_EQ(env_.SysJournal().find("Recording without a stored call"),
            std::string::npos);
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(FieldText(records[0].call_type), "2");
  EXPECT_EQ(FieldText(records[0].caller_name), "KILLED");
  EXPECT_EQ(FieldText(records[0].length).substr(0, 6), "0:00:0");
  EXPECT_EQ(RecordingOf(records[0]), wav);
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last"), "1:" + DayText() + "\r\n");
  EXPECT_EQ(FileSize(wav + ".call"), -1) << "the note is gone";

  const auto samples = ReadSamples(wav);
  EXPECT_EQ(static_cast<off_t>(samples.size()), (cut_at - 44) / 2);
  EXPECT_TRUE(EndsInTone(samples, 440)) << "the last second is the caller's";
}

TEST_F(RecoveryE2E, CallerNameOf250CharactersLeavesAPlayableMessage) {
  // given a caller name longer than a file name may be, expect the message
  // stored, its record leading to a playable recording, and no note left
  StartCall(std::string(250, 'N'), 6);
  int status = 0;
  ASSERT_TRUE(WaitExit(phone_, &status, std::chrono::seconds(20)));
  phone_ = -1;
  ASSERT_TRUE(WaitFor([&] { return !Records().empty(); }));
  const CallRecord record = Records()[0];
  EXPECT_EQ(FieldText(record.call_type), "2");
  EXPECT_EQ(FieldText(record.caller_name), std::string(32, 'N'));
  EXPECT_TRUE(EndsInTone(ReadSamples(RecordingOf(record)), 440));
  // The note goes just after the record is stored.
  EXPECT_TRUE(WaitFor([&] { return FilesIn(Today(), ".call").empty(); }));
}

}  // namespace
}  // namespace lw::testing
