// The contract suite every line backend passes (line_contract_test.cc): one
// backend registered alone in a LineRegistry on a virtual clock, its first
// line opened through a telephony control, its far end scripting the calls.
// A backend's test file runs the suite with its own pair:
//   INSTANTIATE_TEST_SUITE_P(MyBackend, LineContractTest,
//                            ::testing::Values(MyBackendPair));
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "devices/line_far_end_test_util.h"
#include "devices/line_registry.h"

namespace lw::testing {

// Handlers that write each call event into `log` as a readable text.
inline TelephonyEvents LogEvents(std::vector<std::string>& log) {
  auto add = [&log](std::string text) { log.push_back(std::move(text)); };
  TelephonyEvents e;
  e.InComeCall = [add] { add("InComeCall"); };
  e.Ring = [add](int32_t n) { add("Ring(" + std::to_string(n) + ")"); };
  e.CallerID = [add](const std::string& name, const std::string& number) {
    add("CallerID(" + name + "," + number + ")");
  };
  e.Connected = [add] { add("Connected"); };
  e.Disconnected = [add] { add("Disconnected"); };
  e.Idle = [add] { add("Idle"); };
  e.Dialing = [add] { add("Dialing"); };
  e.MonitorDigit = [add](const std::string& d) { add("Digit(" + d + ")"); };
  e.LineLost = [add] { add("LineLost"); };
  e.LineBack = [add] { add("LineBack"); };
  return e;
}

class LineContractTest : public ::testing::TestWithParam<LinePairFactory> {
 protected:
  using Events = std::vector<std::string>;

  LineContractTest() {
    lines_.Register("line", *pair_.backend);
    tapi_->SetEvents(LogEvents(log_));
  }

  void SetUp() override {
    const std::string reason = far().Unable(
        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    if (!reason.empty()) GTEST_SKIP() << reason;
  }

  // Runs what the loop has due; the events raised since the last take.
  Events Take() {
    far().Settle();
    clock_.RunDue();
    Events events = std::exchange(log_, {});
    if (far().OfferNamesCaller())
      std::erase_if(events, [](const std::string& e) {
        return e.starts_with("CallerID(");
      });
    return events;
  }
  void Open() {
    ASSERT_EQ(tapi_->LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
  }
  // The line open and an offered call answered.
  void Connect() {
    if (!tapi_->IsLineOpen()) Open();
    far().Offer();
    ASSERT_EQ(tapi_->LineAnswer(), 0);
    Events events = Take();
    if (far().OfferRings()) std::erase(events, "Ring(1)");
    ASSERT_EQ(events, (Events{"InComeCall", "Connected"}));
  }
  LineFarEnd& far() { return *pair_.far_end; }

  FakeClock clock_;
  LineAudioHub hub_;
  Events log_;
  LinePair pair_ = GetParam()(clock_, hub_);
  LineRegistry lines_{clock_};
  std::unique_ptr<Telephony> tapi_ = lines_.NewTelephony();
};

}  // namespace lw::testing
