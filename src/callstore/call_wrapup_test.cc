#include "callstore/call_wrapup.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "callstore/test_util.h"
#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_sound_devices.h"
#include "devices/fake/fake_wave.h"
#include "temp_dir.h"

namespace lw {
namespace {

using testing::ReadFile;
using testing::WriteFile;

class WrapUpTest : public ::testing::Test {
 protected:
  WrapUpTest() {
    store_.SetCallInfo(call_);
    call_.description = "Incoming";
  }

  // Gives the current call a recording of `seconds` and type `type`.
  void Recorded(const std::string& type, int32_t seconds) {
    call_.info.call_type = type;
    call_.info.message_path =
        RecordingName(call_.info.caller_name, call_.info.caller_number,
                      call_.info.date, call_.info.time);
    const std::string file = call_.day_folder + call_.info.message_path;
    WriteFile(file, "RIFF");
    wave_.SetFileInfo(file, WaveFileInfo{1, 1, 8000, seconds});
  }

  WrapUpResult Save(WrapUpOptions options = {}) {
    return SaveFinishedCall(store_, call_, 0, options, false, wave_);
  }

  std::string DataFile() const {
    return dir_.path() + "/Data/Log/2005/03/15/Data";
  }

  lw::testing::TempDir dir_;
  FakeClock clock_{LocalDateTime{2005, 3, 15, 10, 15, 30, 2}};
  CallStore store_{dir_.path(), clock_};
  FakeWaveFiles files_;
  FakeSoundDevices sound_devices_;
  FakeWave wave_{clock_, files_, sound_devices_};
  CurrentCall call_;
};

TEST_F(WrapUpTest, VoiceMessageRecordIsByteExact) {
  // Given a 12-second message from a known contact on line 1, expect every
  // field at its offset, blank-padded, with zero bytes where never filled.
  call_.info.caller_name = "MOTHER";
  call_.info.caller_number = "5551234";
  call_.description = "Mum";
  call_.contact_digit = 3;
  Recorded("2", 12);
  const WrapUpResult r =
      SaveFinishedCall(store_, call_, 1, WrapUpOptions{}, false, wave_);

  // Digit, a zero byte, type, name, number, date, time, length, line, read
  // mark, description, note (never filled).
  const std::string expected =
      std::string("3\0", 2) + "2 " + "MOTHER" + std::string(26, ' ') +
      "5551234" + std::string(25, ' ') + "03/15/2005" + std::string(40, ' ') +
      "10:15:30" + std::string(8, ' ') + "0:00:12   " + "1 " + "0" + "Mum" +
      std::string(61, ' ') + std::string(256, '\0');
  ASSERT_EQ(expected.size(), 467u);
  EXPECT_EQ(ReadFile(DataFile()), expected);
  EXPECT_EQ(r.day_folder, "\\Data\\Log\\2005\\03\\15\\");
}

TEST_F(WrapUpTest, StoredTypeFollowsTheRecording) {
  // Given calls of each kind with recordings of some length (or a missing
  // one), expect the stored type and length; a recording too short to count
  // keeps its file.
  const struct {
    const char* type;
    int32_t seconds;  // -1: the recording is missing
    int32_t threshold;
    const char* stored;
    const char* length;
  } cases[] = {
      {"2", 1, 0, "0", "0:00:00"},  // a message needs 2 seconds
      {"2", 2, 0, "2", "0:00:02"},
      {"3", 10, 10, "0", "0:00:00"},  // a call must exceed the threshold
      {"3", 11, 10, "3", "0:00:11"},
      {"4", 3, 10, "1", "0:00:00"},  // stays an outgoing call
      {"4", 3723, 10, "4", "1:02:03"},
      {"3", -1, 0, "0", "0:00:00"},
      {"1", -1, 0, "1", "0:00:00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.type) + " " + std::to_string(c.seconds));
    store_.SetCallInfo(call_);
    WrapUpOptions options;
    options.list_calls_longer_than = c.threshold;
    if (c.seconds < 0) {
      call_.info.call_type = c.type;
      call_.info.message_path = "gone.wav";
    } else {
      Recorded(c.type, c.seconds);
    }
    const std::string file = call_.day_folder + call_.info.message_path;
    const WrapUpResult r = Save(options);
    EXPECT_EQ(r.stored_type, c.stored);
    EXPECT_EQ(call_.info.call_type, c.stored);
    EXPECT_EQ(FieldText(r.record.length), c.length);
    EXPECT_EQ(std::filesystem::exists(file), c.seconds >= 0);
  }
  // Lengths of any size fit the field of ten characters.
  EXPECT_EQ(WaveSecondsText(36000), "10:00:00");
  EXPECT_EQ(WaveSecondsText(-5), "0:00:00");
  EXPECT_EQ(WaveSecondsText(INT32_MAX), "9999:59:59");
}

}  // namespace
}  // namespace lw
