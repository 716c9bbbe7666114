// The contract of a line backend as the telephony control shows it; each
// backend runs it with its own far end (line_contract_test_fixture.h).
#include <algorithm>
#include <span>
#include <string>
#include <vector>

#include "devices/line_contract_test_fixture.h"

namespace lw::testing {
namespace {

// A sound of `blocks` blocks of 1000s, played into the line.
struct Sound : LinePlaySource {
  explicit Sound(size_t blocks) : left(blocks * kLineBlockSamples) {}
  size_t Pull(std::span<int16_t> block) override {
    const size_t n = std::min(block.size(), left);
    std::fill_n(block.begin(), n, int16_t{1000});
    left -= n;
    return n;
  }
  size_t left;
};

TEST_P(LineContractTest, OfferedCallRingsWithCallerIdAndIsAnswered) {
  // Given a call offered that rings twice while the line is closed, expect
  // nothing then, InComeCall after LineOpen returned, the caller and the
  // rings counted on from there, Connected after LineAnswer returned.
  if (far().OfferRings()) GTEST_SKIP() << "the line hears no call while closed";
  far().Offer();
  far().Ring();
  far().Ring();
  EXPECT_EQ(Take(), Events{});
  Open();
  EXPECT_EQ(log_, Events{});
  EXPECT_EQ(Take(), Events{"InComeCall"});
  far().CallerId("ANN SMITH", "5551234");
  far().Ring();
  EXPECT_EQ(Take(), (Events{"CallerID(ANN SMITH,5551234)", "Ring(3)"}));
  EXPECT_FALSE(tapi_->IsCallActive());
  ASSERT_EQ(tapi_->LineAnswer(), 0);
  EXPECT_EQ(log_, Events{});
  EXPECT_EQ(Take(), Events{"Connected"});
  EXPECT_TRUE(tapi_->IsCallActive());
  EXPECT_EQ(far().answers(), 1);
}

TEST_P(LineContractTest, AudioFlowsBothWaysAndEverySoundEnds) {
  // Given a sound played on an idle line, expect it pulled to its end. Given
  // a connected call, expect the far end to hear the played sound and the
  // sink to get the far end's sound in consecutive blocks, silence as zeros.
  LineAudioEndpoint& audio =
      *hub_.Find(tapi_->GetDeviceID(kDeviceClassWaveOut));
  Sound unheard(3);
  audio.AddPlaySource(&unheard);
  clock_.Advance(100);
  EXPECT_EQ(unheard.left, 0u);
  EXPECT_FALSE(audio.has_sources());
  Connect();
  if (audio.half_duplex()) {
    // One way at a time: the sound is played first, then the far end's
    // sound recorded from when the sink came.
    Sound sound(2);
    audio.AddPlaySource(&sound);
    clock_.Advance(100);
    EXPECT_EQ(far().samples_heard(), 2u * kLineBlockSamples);
    std::vector<int16_t> recorded;
    audio.SetRecordSink([&](std::span<const int16_t> s) {
      recorded.insert(recorded.end(), s.begin(), s.end());
    });
    const int16_t said = far().CarriedSample();
    far().Audio(std::vector<int16_t>(100, said));
    clock_.Advance(60);
    EXPECT_EQ(recorded.size(), 3u * kLineBlockSamples);
    EXPECT_EQ(std::count(recorded.begin(), recorded.end(), said), 100);
    audio.SetRecordSink(nullptr);
    return;
  }
  std::vector<int16_t> recorded;
  audio.SetRecordSink([&](std::span<const int16_t> s) {
    recorded.insert(recorded.end(), s.begin(), s.end());
  });
  Sound sound(2);
  audio.AddPlaySource(&sound);
  const int16_t said = far().CarriedSample();
  far().Audio(std::vector<int16_t>(100, said));
  clock_.Advance(60);
  EXPECT_EQ(far().samples_heard(), 2u * kLineBlockSamples);
  EXPECT_EQ(recorded.size(), 3u * kLineBlockSamples);
  EXPECT_EQ(std::count(recorded.begin(), recorded.end(), said), 100);
  audio.SetRecordSink(nullptr);
}

TEST_P(LineContractTest, DigitsWhileMonitoredAndFarEndHangUp) {
  // Given a connected call, expect digits only while monitored, Disconnected
  // when the far end hangs up, Idle only after LineDrop returned, and the
  // next call's digits unreported (monitoring ended with the call).
  Connect();
  far().Digits("1");
  ASSERT_EQ(tapi_->LineMonitorDigits(true), 0);
  far().Digits("2#");
  EXPECT_EQ(Take(), (Events{"Digit(2)", "Digit(#)"}));
  ASSERT_EQ(tapi_->LineMonitorDigits(false), 0);
  far().Digits("3");
  ASSERT_EQ(tapi_->LineMonitorDigits(true), 0);
  far().HangUp();
  EXPECT_EQ(Take(), Events{"Disconnected"});
  EXPECT_FALSE(tapi_->IsCallActive());
  ASSERT_EQ(tapi_->LineDrop(), 0);
  EXPECT_EQ(log_, Events{});
  EXPECT_EQ(Take(), Events{"Idle"});
  Connect();
  far().Digits("4");
  EXPECT_EQ(Take(), Events{});
}

TEST_P(LineContractTest, DropHangsUpAndAGivenUpOfferIdles) {
  // Given a connected call dropped, expect it inactive at once, the far end
  // hung up on, Idle after the drop, and a second drop refused. Given an
  // offered call the caller gives up, expect Idle.
  Connect();
  ASSERT_EQ(tapi_->LineDrop(), 0);
  EXPECT_FALSE(tapi_->IsCallActive());
  EXPECT_EQ(far().hang_ups(), 1);
  EXPECT_EQ(log_, Events{});
  EXPECT_EQ(Take(), Events{"Idle"});
  EXPECT_NE(tapi_->LineDrop(), 0);
  far().Offer();
  far().Ring();
  far().HangUp();
  const Events given_up =
      far().OfferRings() ? Events{"InComeCall", "Ring(1)", "Ring(2)", "Idle"}
                         : Events{"InComeCall", "Ring(1)", "Idle"};
  EXPECT_EQ(Take(), given_up);
}

TEST_P(LineContractTest, DialledCallConnectsWhenTheFarEndAnswers) {
  // Given a far end waiting for a call, expect MakeCall to reach it with
  // the number, Dialing after MakeCall returned, Connected on its answer.
  Open();
  far().WaitCall();
  std::string call_text;
  ASSERT_EQ(tapi_->MakeCall("5551234", call_text), 0);
  EXPECT_EQ(call_text, far().CallText("5551234"));
  EXPECT_EQ(log_, Events{});
  EXPECT_EQ(Take(), Events{"Dialing"});
  EXPECT_EQ(far().dialed(), "5551234");
  far().AnswerCall();
  EXPECT_EQ(Take(), Events{"Connected"});
  EXPECT_TRUE(tapi_->IsCallActive());
}

TEST_P(LineContractTest, ClosedLineRaisesNoEventsAndAbandonsItsCall) {
  // Given a connected call and the line closed with a digit on its way,
  // expect it closed at once, the call abandoned at the far end, and no
  // events, neither the digit nor the next call's.
  Connect();
  ASSERT_EQ(tapi_->LineMonitorDigits(true), 0);
  far().Digits("5");
  ASSERT_EQ(tapi_->LineClose(), 0);
  EXPECT_FALSE(tapi_->IsLineOpen());
  EXPECT_EQ(far().hang_ups(), 1);
  far().Offer();
  far().Ring();
  EXPECT_EQ(Take(), Events{});
}

TEST_P(LineContractTest, LostLineFailsUntilItComesBack) {
  // Given a connected call and the line lost, expect LineLost without Idle,
  // the call ended at the far end, the line still open but refusing calls
  // and, once closed, refusing to open. Given it back, expect LineBack to
  // the control that had it and the line carrying calls again.
  Connect();
  far().LoseLine();
  EXPECT_EQ(Take(), Events{"LineLost"});
  EXPECT_EQ(far().hang_ups(), 1);
  EXPECT_TRUE(tapi_->IsLineOpen());
  EXPECT_FALSE(tapi_->IsCallActive());
  std::string call_text;
  EXPECT_NE(tapi_->MakeCall("5551234", call_text), 0);
  far().Offer();
  EXPECT_EQ(Take(), Events{});
  ASSERT_EQ(tapi_->LineClose(), 0);
  EXPECT_NE(tapi_->LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
  far().RestoreLine();
  EXPECT_EQ(Take(), Events{"LineBack"});
  Connect();
}

}  // namespace
}  // namespace lw::testing
