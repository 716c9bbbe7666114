#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "line/call_test_fixture.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingTest : public CallTest {
 protected:
  bool Dropped() { return Ops("LineDrop") == 1; }
  // What the speech window was asked to speak.
  std::vector<std::string> Spoken() {
    std::vector<std::string> spoken;
    for (const std::string& entry : speech_log_) {
      if (entry.starts_with("SpeakIt(")) spoken.push_back(entry);
    }
    return spoken;
  }
};

TEST_F(RecordingTest, LengthLimitDropsTheCallAtItsLastSecond) {
  // Given cmbMaxRecCall 0.5 and StartRecord failing, expect the failure
  // journalled and the limit still ending the call (stored as no message);
  // on the next call tone detection ends after its 31st tick and the call
  // is dropped at the 31st second.
  PickUpRecordingOn();
  Set(kCallsRecord, "chkMaxRecCall", "1");
  Set(kCallsRecord, "cmbMaxRecCall", "0.5");
  Start();
  wave1().faults().record_result = kFakeWaveCannotCreate;
  RecordedConversation();
  EXPECT_EQ(JournalCount("Wave.StartRecord(1)->" +
                         wave1().GetRecordErrorText(kFakeWaveCannotCreate)),
            1);
  fake.clock().Advance(31000);
  EXPECT_EQ(Types(), "0");
  wave1().faults() = {};
  fake.line().ClearOps();
  RecordedConversation();
  EXPECT_TRUE(wave1().FreqDetect());
  fake.clock().Advance(3000);
  EXPECT_TRUE(wave1().FreqDetect());
  fake.clock().Advance(100);
  EXPECT_FALSE(wave1().FreqDetect());
  fake.clock().Advance(26900);
  EXPECT_FALSE(Dropped());
  fake.clock().Advance(1000);
  EXPECT_TRUE(Dropped());
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
}

TEST_F(RecordingTest, SilenceCountIsResetByALoudTick) {
  // Given a 5-second silence limit at level 100, expect 49 quiet ticks and
  // one loud tick not to drop the call, and then 50 quiet ticks to drop it.
  PickUpRecordingOn();
  Set(kDisconnectMode, "chkDropIfSilnceRec", "1");
  Set(kDisconnectMode, "cSliderSilenceRec", "100");
  Set(kDisconnectMode, "txtSilenceSecRec", "5");
  Set(kDisconnectMode, "chkRecCutTheSilense", "1");
  Start();
  RecordedConversation();
  const FakeRecording& rec = wave1().recordings()[0];
  EXPECT_TRUE(rec.detect_silence);
  EXPECT_TRUE(rec.cut_silence);
  EXPECT_EQ(rec.silence_level, 100);
  ASSERT_TRUE(wave1().ReportLevel(99));
  fake.clock().Advance(4900);
  wave1().ReportLevel(100);
  fake.clock().Advance(100);
  wave1().ReportLevel(0);
  fake.clock().Advance(4900);
  EXPECT_FALSE(Dropped());
  fake.clock().Advance(100);
  EXPECT_TRUE(Dropped());
}

TEST_F(RecordingTest, MessageSilenceIsSetAfreshAndEndsAGoneCall) {
  // Given a message with silence cutting at level 10, then one without
  // silence handling, expect the switches on for the first recording only;
  // with them on again, a call no longer active is dropped at the next
  // silence tick.
  AnsweringMachineOn(false);
  Set(kDisconnectMode, "chkDropIfSilnce", "1");
  Set(kDisconnectMode, "chkCutTheSilense", "1");
  Set(kDisconnectMode, "cSliderSilence", "10");
  Set(kDisconnectMode, "txtSilenceSec", "60");
  Start();
  LeaveMessage(3);
  Set(kDisconnectMode, "chkDropIfSilnce", "0");
  line_->LoadCallOptions();
  LeaveMessage(3);
  ASSERT_EQ(wave1().recordings().size(), 2u);
  EXPECT_TRUE(wave1().recordings()[0].cut_silence);
  EXPECT_EQ(wave1().recordings()[0].silence_level, 10);
  EXPECT_FALSE(wave1().recordings()[1].detect_silence);
  EXPECT_FALSE(wave1().recordings()[1].cut_silence);

  Set(kDisconnectMode, "chkDropIfSilnce", "1");
  line_->LoadCallOptions();
  MessageRecording();
  fake.line().ClearOps();
  fake.line().SetEvents({});  // the hang-up goes unheard
  HangUp();
  fake.clock().Advance(100);
  EXPECT_TRUE(Dropped());
}

TEST_F(RecordingTest, IncomingSoundThenAnnouncementAfterItsEnd) {
  // Given the beep as the line opens, and ring sound and announcement on,
  // expect the beep's end passed over, the ring sound on the sound device
  // at the incoming call and the announcement only when it has ended,
  // filled with the caller identification that arrived meanwhile. Without
  // a beep file the announcement still follows the ring sound.
  Set(kGeneral, "chkModemSoundControl", "1");
  Set(kIncomingEvents, "chkPlayInCall", "1");
  Set(kIncomingEvents, "CmbPlayWhenCall", "ring.wav");
  WriteFile(home / "Sound/ring.wav", "RIFF");
  Set(kIncomingEvents, "chkSayInCommingCall", "1");
  Set(kIncomingEvents, "IC_txtTTS", "Call from <CALLER_NAME>");
  process_.SoundDeviceIndex = 1;
  fake.sound_devices().set_names({"Speakers", "Headset"});
  for (const bool beep : {true, false}) {
    SCOPED_TRACE(beep);
    if (beep) WriteFile(home / "Beep.wav", "RIFF");
    if (!beep) std::filesystem::remove(home / "Beep.wav");
    speech_log_.clear();
    Start();
    player().FinishPlay();
    Incoming();
    ASSERT_EQ(player().plays().size(), beep ? 2u : 1u);
    EXPECT_EQ(player().plays()[0].file,
              home / (beep ? "Beep.wav" : "Sound/ring.wav"));
    EXPECT_EQ(player().plays().back().device, 1);
    EXPECT_THAT(Spoken(), IsEmpty());
    player().FinishPlay();
    EXPECT_THAT(Spoken(), ElementsAre("SpeakIt(Call from TESTCALLER,1)"));
    HangUp();
  }
}

}  // namespace
}  // namespace lw::testing
