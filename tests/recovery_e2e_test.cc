// Messages that must survive what the caller sends and what happens to the
// process: the real process on the simulated line, `lwdctl phone` as the
// caller.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <vector>

#include "callstore/call_record.h"
#include "e2e_util.h"

namespace lw::testing {
namespace {

// The number of frames of a wave file (-1 when it cannot be read) and the
// peak of its last second.
std::pair<sf_count_t, int> FramesAndLastPeak(const std::string& path) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) return {-1, 0};
  std::vector<short> s(static_cast<size_t>(info.frames));
  sf_read_short(f, s.data(), info.frames);
  sf_close(f);
  int peak = 0;
  for (size_t i = s.size() > 8000 ? s.size() - 8000 : 0; i < s.size(); ++i)
    peak = std::max(peak, std::abs(static_cast<int>(s[i])));
  return {info.frames, peak};
}

off_t FileSize(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

class RecoveryE2E : public LineE2E {
 protected:
  void Prepare() override { WriteTone(env_.home() + "/voice.wav", 440, 20.0); }
  void TearDown() override {
    EndProgram(&phone_);
    LineE2E::TearDown();
  }
  // Starts the process again: true once it has opened the line anew.
  void Restart() {
    ASSERT_TRUE(testing::StartProcess(env_, &proc_, env_.SysJournal().size()));
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
  // Today's day folder, formatted by `format`.
  static std::string Day(const char* format) {
    const time_t now = time(nullptr);
    tm t{};
    localtime_r(&now, &t);
    char buf[64];
    strftime(buf, sizeof buf, format, &t);
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

  pid_t phone_ = -1;
};

TEST_F(RecoveryE2E, MessageCutOffByKillIsStoredAtTheNextStart) {
  // given kill -9 four seconds into a voice message, with the header as a
  // kill before its update leaves it (sizes 0, half a sample after the last
  // one), expect the next start to store the message readable to the last
  // whole sample, at the head of the latest-call list
  StartCall("KILLED", 30);
  std::string wav;
  ASSERT_TRUE(WaitFor(
      [&] {
        const auto wavs = FilesIn(Today(), ".wav");
        wav = wavs.size() == 1 ? wavs[0] : "";
        return FileSize(wav) > 44 + 4 * 16000 &&
               FileSize(wav + ".call") == CallRecord::kSize;
      },
      std::chrono::seconds(20)));
  kill(proc_, SIGKILL);
  int status = 0;
  ASSERT_TRUE(WaitExit(proc_, &status));
  proc_ = -1;
  const off_t written = FileSize(wav);
  {
    std::fstream f(wav, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(4).write("\0\0\0\0", 4).seekp(40).write("\0\0\0\0", 4);
    f.seekp(0, std::ios::end).write("\x7f", 1);
  }
  ASSERT_TRUE(Records().empty());

  Restart();
  const std::string journal = env_.SysJournal();
  EXPECT_NE(journal.find("Recovered interrupted call: " + wav),
            std::string::npos)
      << journal;
  EXPECT_EQ(journal.find("Recording without a stored call"), std::string::npos);
  const auto records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(FieldText(records[0].call_type), "2");
  EXPECT_EQ(FieldText(records[0].length).substr(0, 6), "0:00:0");
  EXPECT_EQ(RecordingOf(records[0]), wav);
  EXPECT_EQ(ReadFile(env_.home() + "/Data/Last"),
            "1:" + Day("\\Data\\Log\\%Y\\%m\\%d\\") + "\r\n");
  EXPECT_EQ(FileSize(wav + ".call"), -1) << "the note is gone";
  const auto [frames, peak] = FramesAndLastPeak(wav);
  EXPECT_EQ(frames, (written - 44) / 2);
  EXPECT_GT(peak, 10000) << "the caller's voice runs to the end";
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
  EXPECT_GT(FramesAndLastPeak(RecordingOf(record)).second, 10000);
  // The note goes just after the record is stored.
  EXPECT_TRUE(WaitFor([&] { return FilesIn(Today(), ".call").empty(); }));
}

}  // namespace
}  // namespace lw::testing
