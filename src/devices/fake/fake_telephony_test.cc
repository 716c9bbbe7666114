#include "devices/fake/fake_telephony.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_serial_port.h"

namespace lw {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

// Records the events an instance receives, as text.
class FakeTelephonyTest : public ::testing::Test {
 protected:
  void Listen(Telephony& t, std::vector<std::string>& log) {
    TelephonyEvents e;
    e.InComeCall = [&log] { log.push_back("InComeCall"); };
    e.Ring = [&log](int32_t n) { log.push_back("Ring" + std::to_string(n)); };
    e.CallerID = [&log](const std::string& name, const std::string& number) {
      log.push_back("CallerID " + name + " " + number);
    };
    e.Connected = [&log] { log.push_back("Connected"); };
    e.Disconnected = [&log] { log.push_back("Disconnected"); };
    e.Idle = [&log] { log.push_back("Idle"); };
    e.Dialing = [&log] { log.push_back("Dialing"); };
    e.MonitorDigit = [&log](const std::string& d) { log.push_back(d); };
    t.SetEvents(e);
  }

  FakeClock clock_;
  FakeLine line_{clock_};
  FakeTelephony tapi_{line_};
  std::vector<std::string> events_;
};

TEST_F(FakeTelephonyTest, AnsweredCallRunsThroughItsEventsInOrder) {
  // Given an open line and an incoming call, expect the caused events to
  // arrive only after the operation returned, and the hang-up sequence.
  Listen(tapi_, events_);
  ASSERT_EQ(tapi_.LineOpen(6, 6), 0);
  EXPECT_TRUE(line_.Offer());
  EXPECT_TRUE(line_.Ring());
  EXPECT_TRUE(line_.CallerId("NAME", "5551234"));
  EXPECT_TRUE(line_.Ring());

  // Connected never runs inside LineAnswer.
  TelephonyEvents inside = tapi_.events();
  bool returned = false;
  inside.Connected = [&] {
    EXPECT_TRUE(returned);
    EXPECT_TRUE(tapi_.IsCallActive());
    events_.push_back("Connected");
  };
  tapi_.SetEvents(inside);
  EXPECT_EQ(tapi_.LineAnswer(), 0);
  returned = true;
  EXPECT_FALSE(tapi_.IsCallActive());
  clock_.Advance(1);
  EXPECT_TRUE(tapi_.IsCallActive());

  EXPECT_TRUE(line_.FarEndHangup());
  EXPECT_FALSE(tapi_.IsCallActive());
  EXPECT_EQ(tapi_.LineDrop(), 0);
  EXPECT_THAT(events_,
              ElementsAre("InComeCall", "Ring1", "CallerID NAME 5551234",
                          "Ring2", "Connected", "Disconnected"));
  clock_.Advance(1);
  EXPECT_EQ(events_.back(), "Idle");
  EXPECT_EQ(line_.call_state(), FakeLine::CallState::kNone);
  EXPECT_THAT(line_.ops(),
              ElementsAre("LineOpen(6,6)", "LineAnswer", "LineDrop"));
}

TEST_F(FakeTelephonyTest, CallerGivingUpBeforeTheAnswerLandsGetsNoConnected) {
  // Given LineAnswer on a ringing call whose caller hangs up before the
  // Connected is delivered, expect Idle only and a second LineDrop to fail.
  Listen(tapi_, events_);
  tapi_.LineOpen(6, 6);
  line_.Offer();
  line_.Ring();
  EXPECT_EQ(tapi_.LineAnswer(), 0);
  EXPECT_TRUE(line_.FarEndHangup());
  clock_.Advance(10);
  EXPECT_THAT(events_, ElementsAre("InComeCall", "Ring1", "Idle"));
  EXPECT_EQ(tapi_.LineDrop(), kFakeTapiNoCall);
}

TEST_F(FakeTelephonyTest, ExtensionPickUpStopsTheRingsButKeepsTheCall) {
  // Given an extension lifted after two rings, expect no more rings and the
  // call still answerable, with ring counts per call starting at 1.
  Listen(tapi_, events_);
  tapi_.LineOpen(6, 6);
  line_.Offer();
  line_.Ring();
  line_.Ring();
  EXPECT_TRUE(line_.PickUpExtension());
  EXPECT_FALSE(line_.Ring());
  EXPECT_FALSE(line_.Offer());
  EXPECT_EQ(tapi_.LineAnswer(), 0);
  clock_.Advance(1);
  EXPECT_EQ(tapi_.LineDrop(), 0);
  clock_.Advance(1);
  line_.Offer();
  line_.Ring();
  EXPECT_THAT(events_, ElementsAre("InComeCall", "Ring1", "Ring2", "Connected",
                                   "Idle", "InComeCall", "Ring1"));
}

TEST_F(FakeTelephonyTest,
       DigitsArriveOnlyWhileMonitoredAndMonitoringEndsWithCall) {
  // Given a connected call, expect digits before LineMonitorDigits(true) to
  // be lost, and monitoring to be off for the next call.
  Listen(tapi_, events_);
  tapi_.LineOpen(6, 6);
  line_.Offer();
  tapi_.LineAnswer();
  clock_.Advance(1);
  events_.clear();
  EXPECT_FALSE(line_.Digits("9"));
  EXPECT_EQ(tapi_.LineMonitorDigits(true), 0);
  EXPECT_TRUE(line_.Digits("12#"));
  EXPECT_THAT(events_, ElementsAre("1", "2", "#"));
  tapi_.LineDrop();
  clock_.Advance(1);
  EXPECT_FALSE(tapi_.monitoring_digits());
  line_.Offer();
  tapi_.LineAnswer();
  clock_.Advance(1);
  EXPECT_FALSE(line_.Digits("5"));
}

TEST_F(FakeTelephonyTest, OutgoingCallDialsThenConnectsWhenAnswered) {
  // Given MakeCall on an open line, expect Dialing after the call returns,
  // Connected when the far end answers, and no second call meanwhile.
  Listen(tapi_, events_);
  std::string text;
  EXPECT_EQ(tapi_.MakeCall("5551234", text), kFakeTapiNotOpen);
  tapi_.LineOpen(6, 6);
  EXPECT_EQ(tapi_.MakeCall("5551234", text), 0);
  EXPECT_EQ(text, "5551234");
  EXPECT_THAT(events_, IsEmpty());
  EXPECT_EQ(tapi_.MakeCall("999", text), kFakeTapiCallExists);
  EXPECT_FALSE(line_.Offer());
  clock_.Advance(1);
  EXPECT_TRUE(line_.AnswerOutgoing());
  EXPECT_TRUE(tapi_.IsCallActive());
  EXPECT_THAT(events_, ElementsAre("Dialing", "Connected"));
  EXPECT_EQ(line_.dialed_number(), "5551234");
}

TEST_F(FakeTelephonyTest, OpeningDuringARingingCallReportsTheCall) {
  // Given a call ringing while every line is closed (the modem is on its
  // serial port), expect no events until a LineOpen, then InComeCall.
  Listen(tapi_, events_);
  line_.Offer();
  line_.Ring();
  line_.Ring();
  EXPECT_THAT(events_, IsEmpty());
  EXPECT_EQ(tapi_.LineOpen(4, 8), 0);
  EXPECT_THAT(events_, IsEmpty());
  line_.DeliverPending();
  line_.Ring();
  EXPECT_THAT(events_, ElementsAre("InComeCall", "Ring3"));
}

TEST_F(FakeTelephonyTest, ModemIsHeldEitherByTheLineOrByTheSerialPort) {
  // Given device 0 whose modem is on port 1, expect the port and the line
  // to refuse to open while the other holds the modem.
  FakeSerialPort port(clock_, &line_);
  ASSERT_EQ(port.SetCommPort(1), 0);
  ASSERT_EQ(tapi_.LineOpen(6, 6), 0);
  EXPECT_EQ(tapi_.GetDeviceID(kDeviceClassSerialPort), 1);
  EXPECT_EQ(port.SetPortOpen(true), kCommPortBusy);
  EXPECT_EQ(tapi_.LineClose(), 0);
  EXPECT_EQ(tapi_.LineShutdown(), 0);
  EXPECT_EQ(port.SetPortOpen(true), 0);
  EXPECT_EQ(tapi_.LineOpen(4, 8), kFakeTapiDeviceBusy);
  EXPECT_FALSE(tapi_.IsLineOpen());
  port.SetPortOpen(false);
  EXPECT_EQ(tapi_.LineOpen(4, 8), 0);
}

TEST_F(FakeTelephonyTest, InstancesShareDevicesButOnlyOpenLinesHearTheCall) {
  // Given the process controller's control (never opened) and the line
  // controller's, expect the same device list and events only for the open
  // one; a closed line raises nothing, not even a pending Idle.
  FakeTelephony process_tapi(line_);
  std::vector<std::string> process_events;
  Listen(process_tapi, process_events);
  Listen(tapi_, events_);
  line_.AddDevice("Modem");
  EXPECT_EQ(process_tapi.GetNumDevices(), 2);
  process_tapi.SetDeviceIndex(1);
  DeviceInfo info;
  EXPECT_EQ(process_tapi.GetDeviceCaps(info), 0);
  EXPECT_EQ(info.Name, "Modem");
  EXPECT_EQ(process_tapi.GetDeviceID(kDeviceClassWaveOut), 4);
  process_tapi.SetDeviceIndex(2);
  EXPECT_NE(process_tapi.GetDeviceCaps(info), 0);
  EXPECT_EQ(info.Name, "");

  tapi_.LineOpen(6, 6);
  line_.Offer();
  tapi_.LineAnswer();
  clock_.Advance(1);
  tapi_.LineDrop();
  tapi_.LineClose();
  clock_.Advance(5);
  EXPECT_THAT(events_, ElementsAre("InComeCall", "Connected"));
  EXPECT_THAT(process_events, IsEmpty());
}

TEST_F(FakeTelephonyTest, FaultSwitchesFailWithoutChangingState) {
  // Given failing LineOpen and LineAnswer, expect their codes, a closed
  // line, and a call still ringing.
  line_.faults().open_result = 77;
  EXPECT_EQ(tapi_.LineOpen(6, 6), 77);
  EXPECT_FALSE(tapi_.IsLineOpen());
  line_.faults().open_result = 0;
  ASSERT_EQ(tapi_.LineOpen(6, 6), 0);
  line_.Offer();
  line_.faults().answer_result = 5;
  EXPECT_EQ(tapi_.LineAnswer(), 5);
  clock_.Advance(10);
  EXPECT_EQ(line_.call_state(), FakeLine::CallState::kOffered);
  EXPECT_EQ(tapi_.GetErrorText(5), "Error 5");
}

}  // namespace
}  // namespace lw
