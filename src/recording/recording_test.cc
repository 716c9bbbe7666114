#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "line/call_test_fixture.h"
#include "recording/answering_machine.h"
#include "recording/call_recording.h"
#include "recording/event_sounds.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingTest : public CallTest {
 protected:
  // A conversation taken on pick-up and connected: the recording runs.
  void RecordedConversation() {
    Incoming();
    far().PickUp();
    fake.clock().Advance(7100);
    Deliver();
    ASSERT_TRUE(wave1().IsRecording());
  }
  bool Dropped() { return Ops("LineDrop") == 1; }
  // What the speech window was asked to speak.
  std::vector<std::string> Spoken() {
    std::vector<std::string> spoken;
    for (const std::string& entry : speech_log_) {
      if (entry.rfind("SpeakIt(", 0) == 0) spoken.push_back(entry);
    }
    return spoken;
  }
};

TEST_F(RecordingTest, LengthLimitDropsTheCallAtItsLastSecond) {
  // Given cmbMaxRecCall 0.5, expect the call dropped at the 31st second.
  PickUpRecordingOn();
  Set(kCallsRecord, "chkMaxRecCall", "1");
  Set(kCallsRecord, "cmbMaxRecCall", "0.5");
  Start();
  RecordedConversation();
  fake.clock().Advance(30000);
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

TEST_F(RecordingTest, SilenceTimerDropsACallNoLongerActive) {
  // Given the message silence limit and a caller whose call is no longer
  // active, expect the next silence tick to drop the call.
  AnsweringMachineOn(false);
  Set(kDisconnectMode, "chkDropIfSilnce", "1");
  Set(kDisconnectMode, "cSliderSilence", "10");
  Set(kDisconnectMode, "txtSilenceSec", "60");
  Start();
  Incoming();
  Rings(2);
  Deliver();
  wave1().FinishPlay();
  ASSERT_EQ(wave1().recordings().size(), 1u);
  EXPECT_FALSE(wave1().recordings()[0].cut_silence);
  EXPECT_EQ(wave1().recordings()[0].silence_level, 10);
  s().Tapi1->SetEvents({});  // the hang-up goes unheard
  HangUp();
  fake.clock().Advance(100);
  EXPECT_TRUE(Dropped());
}

TEST_F(RecordingTest, SilenceSwitchesAreSetAfreshForEveryRecording) {
  // Given a message with silence cutting and then one without, expect the
  // second recording to start with silence handling off.
  AnsweringMachineOn(false);
  Set(kDisconnectMode, "chkDropIfSilnce", "1");
  Set(kDisconnectMode, "chkCutTheSilense", "1");
  Set(kDisconnectMode, "txtSilenceSec", "60");
  Start();
  LeaveMessage(3);
  Set(kDisconnectMode, "chkDropIfSilnce", "0");
  line_->LoadCallOptions();
  LeaveMessage(3);
  ASSERT_EQ(wave1().recordings().size(), 2u);
  EXPECT_TRUE(wave1().recordings()[0].cut_silence);
  EXPECT_FALSE(wave1().recordings()[1].detect_silence);
  EXPECT_FALSE(wave1().recordings()[1].cut_silence);
}

TEST_F(RecordingTest, ToneDetectionEndsAfterThirtyTicks) {
  // Given a recorded conversation, expect tone detection on at the start
  // and off after the 31st tick.
  PickUpRecordingOn();
  Start();
  RecordedConversation();
  EXPECT_TRUE(wave1().FreqDetect());
  fake.clock().Advance(3000);
  EXPECT_TRUE(wave1().FreqDetect());
  fake.clock().Advance(100);
  EXPECT_FALSE(wave1().FreqDetect());
}

TEST_F(RecordingTest, FormatIndexChoosesFormatAndSizeNotTheName) {
  // Given format indexes 2, 3 and 7, expect GSM 6.10 with 16000, TrueSpeech
  // with 4800, and for 7 the previous format with 0; the name stays ".wav".
  PickUpRecordingOn();
  Start();
  std::vector<std::string> seen;
  for (const char* index : {"2", "3", "7"}) {
    Set(kCallsRecord, "cmbRecordFormatRec", index);
    line_->LoadCallOptions();
    RecordedConversation();
    HangUp();
    const FakeRecording& rec = wave1().recordings().back();
    seen.push_back(std::to_string(rec.file_format.format_tag) + "/" +
                   std::to_string(rec.size_value));
    EXPECT_EQ(rec.file.substr(rec.file.size() - 4), ".wav");
  }
  EXPECT_THAT(seen, ElementsAre("49/16000", "34/4800", "34/0"));
  EXPECT_EQ(JournalCount("Wave.StartRecord(1)->"), 3);
}

TEST_F(RecordingTest, FailedStartIsJournalledAndTheLimitsStillRun) {
  // Given StartRecord failing, expect its journal line, type "3", and the
  // length limit still ending the call.
  PickUpRecordingOn();
  Set(kCallsRecord, "chkMaxRecCall", "1");
  Set(kCallsRecord, "cmbMaxRecCall", "0.05");
  Start();
  wave1().faults().record_result = kFakeWaveCannotCreate;
  Incoming();
  far().PickUp();
  fake.clock().Advance(7100);
  Deliver();
  EXPECT_EQ(JournalCount("Wave.StartRecord(1)->" +
                         wave1().GetRecordErrorText(kFakeWaveCannotCreate)),
            1);
  fake.clock().Advance(4000);
  EXPECT_TRUE(Dropped());
  Deliver();
  EXPECT_EQ(FieldText(Records()[0].call_type), "0");
}

TEST_F(RecordingTest, DropCallHangsUpEvenWithNothingRunning) {
  // Given no call at all, expect DropCall to hang up all the same and
  // journal the result.
  Start();
  DropCall(s());
  EXPECT_THAT(fake.line().ops(), ElementsAre("LineDrop"));
  EXPECT_EQ(JournalCount("Tapi.LineDrop(0)->There is no call(0)"), 1);
}

TEST_F(RecordingTest, PlayToAdminWaveSizesByFormatTag) {
  // Given a GSM 6.10 recording, expect digits paused around a 2-second
  // wait and the size value 1625; a missing file journalled once.
  Start();
  const std::string file = home / "msg.wav";
  fake.wave_files().Set(file, {49, 1, 8000, 9});
  const uint64_t before = fake.clock().Elapsed();
  EXPECT_EQ(PlayToAdminWave(s(), file), 0);
  EXPECT_EQ(fake.clock().Elapsed() - before, 2000u);
  EXPECT_THAT(fake.line().ops(), ElementsAre("LineMonitorDigits(False)",
                                             "LineMonitorDigits(True)"));
  EXPECT_EQ(wave1().plays().back().size_value, 1625);
  EXPECT_NE(PlayToAdminWave(s(), home / "gone.wav"), 0);
  EXPECT_EQ(JournalCount("PlayToLine:Wave1.StartPlayACM->File not found"), 1);
  EXPECT_EQ(AdminPlaySizeValue(1), 8000);
  EXPECT_EQ(AdminPlaySizeValue(7), 8000);
  EXPECT_EQ(AdminPlaySizeValue(34), 800);
  EXPECT_EQ(AdminPlaySizeValue(85), 0);
}

TEST_F(RecordingTest, PlayDoneAfterTheCallerHasGoneDropsTheCall) {
  // Given the greeting ending after the call stopped being active (the
  // hang-up not yet heard), expect the call dropped, not the beep played.
  AnsweringMachineOn();
  Start();
  Incoming();
  Rings(2);
  Deliver();
  s().Tapi1->SetEvents({});
  HangUp();
  wave1().FinishPlay();
  EXPECT_EQ(wave1().plays().size(), 1u);
  EXPECT_TRUE(Dropped());
}

// --- Event sounds.

TEST_F(RecordingTest, IncomingSoundThenAnnouncementAfterItsEnd) {
  // Given sound and announcement on, expect the sound on the sound device
  // at the incoming call and the announcement only when it has ended,
  // filled with the caller identification that arrived meanwhile.
  Set(kIncomingEvents, "chkPlayInCall", "1");
  Set(kIncomingEvents, "CmbPlayWhenCall", "ring.wav");
  Set(kIncomingEvents, "chkSayInCommingCall", "1");
  Set(kIncomingEvents, "IC_txtTTS", "Call from <CALLER_NAME>");
  WriteFile(home / "Sound/ring.wav", "RIFF");
  process_.SoundDeviceIndex = 1;
  fake.sound_devices().set_names({"Speakers", "Headset"});
  Start();
  Incoming();
  ASSERT_EQ(player().plays().size(), 1u);
  EXPECT_EQ(player().plays()[0].file, home / "Sound/ring.wav");
  EXPECT_EQ(player().plays()[0].device, 1);
  EXPECT_EQ(player().plays()[0].size_value, 8000);
  speech_log_.clear();
  player().FinishPlay();
  EXPECT_THAT(speech_log_, ElementsAre("SpeakIt(Call from TESTCALLER,1)"));
}

TEST_F(RecordingTest, AnnouncementAloneIsSpokenAtOnce) {
  // Given only the disconnect announcement, expect it spoken at the
  // wrap-up; with chkOnlyIfGotMessage, not after a call without message.
  Set(kDisconnectEvents, "chkSayInDisCall", "1");
  Set(kDisconnectEvents, "DC_txtTTS", "Bye <CALLER_NAME>");
  Start();
  Incoming();
  speech_log_.clear();
  HangUp();
  EXPECT_THAT(Spoken(), ElementsAre("SpeakIt(Bye TESTCALLER,0)"));
  Set(kDisconnectEvents, "chkOnlyIfGotMessage", "1");
  line_->LoadCallOptions();
  Incoming();
  speech_log_.clear();
  HangUp();
  EXPECT_THAT(Spoken(), IsEmpty());
}

TEST_F(RecordingTest, NoEventsWhileTheDesktopIsNotRunning) {
  // Given chkDoEventsWhenGUI on and "bRun" off, expect neither sound nor
  // announcement; with "bRun" on, the sound.
  Set(kGeneral, "chkDoEventsWhenGUI", "1");
  Set(kIncomingEvents, "chkPlayInCall", "1");
  Set(kIncomingEvents, "CmbPlayWhenCall", "ring.wav");
  WriteFile(home / "Sound/ring.wav", "RIFF");
  Start();
  Incoming();
  EXPECT_TRUE(player().plays().empty());
  HangUp();
  Set("", "bRun", "1");
  line_->LoadCallOptions();
  Incoming();
  EXPECT_EQ(player().plays().size(), 1u);
}

TEST_F(RecordingTest, SoundAtCallerIdentificationWhenSoChosen) {
  // Given chkWhenCallerID, expect no sound at the incoming call, the sound
  // at the caller ID, and none for a call without caller ID.
  Set(kIncomingEvents, "chkWhenCallerID", "1");
  Set(kIncomingEvents, "chkPlayInCall", "1");
  Set(kIncomingEvents, "CmbPlayWhenCall", "ring.wav");
  WriteFile(home / "Sound/ring.wav", "RIFF");
  Start();
  far().Offer();
  Rings(3);
  EXPECT_TRUE(player().plays().empty());
  HangUp();
  Incoming();
  EXPECT_EQ(player().plays().size(), 1u);
}

}  // namespace
}  // namespace lw::testing
