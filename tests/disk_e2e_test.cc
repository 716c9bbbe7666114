// The real process on a full disk and with a recording name that is taken.
#include <gtest/gtest.h>
#include <sys/mount.h>

#include <fstream>
#include <regex>

#include "e2e_util.h"

namespace lw::testing {
namespace {

// The home's "Data" and "Journal" folders on a small tmpfs the test fills
// and frees (mounting needs root: skipped elsewhere).
class FullDiskE2E : public LineE2E {
 protected:
  void Prepare() override {
    std::filesystem::create_directories(disk_);
    if (mount("tmpfs", disk_.c_str(), "tmpfs", 0, "size=512k") != 0)
      GTEST_SKIP() << "no tmpfs can be mounted here (needs root): "
                   << std::strerror(errno);
    std::filesystem::remove_all(env_.home() + "/Journal");
    for (const char* folder : {"/Data", "/Journal"}) {
      std::filesystem::create_directories(disk_ + folder);
      std::filesystem::create_symlink(disk_ + folder, env_.home() + folder);
    }
  }
  void TearDown() override {
    LineE2E::TearDown();
    umount2(disk_.c_str(), MNT_DETACH);
  }
  // A 4 s message; the disk filled once its recording has started.
  void CallAndFillDuringMessage() {
    const size_t notes = FilesIn(env_.Today(), ".call").size();
    const pid_t phone =
        env_.Spawn("lwdctl",
                   {"phone", "call", "--play", voice_, "--play-after", "2.5",
                    "--hangup-after", "6"},
                   {}, env_.home() + "/phone.txt");
    EXPECT_TRUE(
        WaitFor([&] { return FilesIn(env_.Today(), ".call").size() > notes; }));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    std::ofstream(disk_ + "/filler") << std::string(1 << 20, 'x');
    int status = 0;
    EXPECT_TRUE(WaitExit(phone, &status, std::chrono::seconds(20)));
  }
  std::string List() { return ReadFile(env_.home() + "/Data/Last"); }
  size_t Listed() { return std::ranges::count(List(), '\n'); }

  std::string disk_ = env_.home() + "/disk";
  std::string voice_ = env_.home() + "/voice.wav";
};

TEST_F(FullDiskE2E, EveryCallIsStoredAndListedOnceThereIsRoomAgain) {
  // given the disk filled during a message and a second call on the full
  // disk, expect both reported at once, no empty recording, and both stored
  // and listed once the disk has room; then a call whose list entry is not
  // written before the process stops gets its entry at the next start
  WriteTone(voice_, 440, 4);
  CallAndFillDuringMessage();
  Phone({"call", "--hangup-after", "4"});
  EXPECT_THAT(ReadFile(env_.home() + "/out.txt"),
              HasSubstr("could not store the call "));
  EXPECT_TRUE(env_.Records().empty());
  for (const std::string& wav : FilesIn(env_.Today(), ".wav"))
    EXPECT_GT(std::filesystem::file_size(wav), 44u) << wav;
  std::filesystem::remove(disk_ + "/filler");
  ASSERT_TRUE(env_.WaitRecords(2));
  EXPECT_TRUE(WaitFor([&] { return Listed() == 2; })) << List();
  EXPECT_TRUE(env_.Journalled("no space left"));

  CallAndFillDuringMessage();
  EndProgram(&proc_);
  EXPECT_EQ(Listed(), 2u);
  std::filesystem::remove(disk_ + "/filler");
  ASSERT_TRUE(StartProcess(env_, &proc_, env_.Journal().size()));
  EXPECT_EQ(env_.Records().size(), 3u);
  EXPECT_EQ(Listed(), 3u);
  EXPECT_EQ(List().substr(0, 2), "3:");
  // No journal line cut by the full disk was glued to the next one.
  const std::regex glued(
      "\\d\\d:\\d\\d:\\d\\d : [^\\r\\n]*\\d\\d:\\d\\d:\\d\\d : ");
  EXPECT_FALSE(std::regex_search(env_.Journal(), glued));
}

TEST_F(LineE2E, RecordingNeverReplacesAFileOfItsName) {
  // given files with the names the next recording would take in the next
  // 15 s, expect them untouched and the call's record leading to the
  // recording it made
  std::filesystem::create_directories(env_.Today());
  std::vector<std::string> taken;
  for (time_t t = time(nullptr), end = t + 15; t < end; ++t) {
    tm local{};
    localtime_r(&t, &local);
    char stamp[32];
    const std::string_view at(
        stamp, strftime(stamp, sizeof stamp, "%m/%d/%Y %H:%M:%S", &local));
    taken.push_back(
        env_.Today() + "/" +
        RecordingName("TAKEN", "5551234", at.substr(0, 10), at.substr(11)));
    std::ofstream(taken.back()) << "an earlier call";
  }
  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 4);
  Phone({"call", "--name", "TAKEN", "--number", "5551234", "--play", voice,
         "--play-after", "2.5", "--hangup-after", "6"});
  ASSERT_TRUE(env_.WaitRecords(1));
  for (const std::string& file : taken)
    EXPECT_EQ(ReadFile(file), "an earlier call");
  EXPECT_TRUE(HasTone(ReadSamples(env_.RecordingOf(env_.Records()[0])), 440));
}

}  // namespace
}  // namespace lw::testing
