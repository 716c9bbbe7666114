// The simulated line and its telephony controls, driven by an in-process far
// end on a virtual clock. Far ends on the socket are the end-to-end tests'.
#include "drivers/simline/simulated_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "devices/line_registry.h"
#include "drivers/simline/sim_far_end_test_util.h"

namespace lw {
namespace {

// The call events a control raised, as readable texts.
struct EventLog {
  std::vector<std::string> events;
  TelephonyEvents Handlers() {
    TelephonyEvents e;
    e.InComeCall = [this] { events.push_back("InComeCall"); };
    e.Ring = [this](int32_t n) {
      events.push_back("Ring(" + std::to_string(n) + ")");
    };
    e.CallerID = [this](const std::string& name, const std::string& number) {
      events.push_back("CallerID(" + name + "," + number + ")");
    };
    e.Connected = [this] { events.push_back("Connected"); };
    return e;
  }
};

using Events = std::vector<std::string>;

class SimulatedLineTest : public ::testing::Test {
 protected:
  SimulatedLineTest() {
    lines_.Register("simline", line_, true);
    proc_->SetEvents(proc_log_.Handlers());
    tapi_->SetEvents(log_.Handlers());
  }

  // Runs what the loop has posted; the events raised since the last take.
  Events TakeEvents() {
    clock_.RunDue();
    return std::exchange(log_.events, {});
  }
  void OpenLine() {
    ASSERT_EQ(tapi_->LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
  }

  FakeClock clock_;
  LineAudioHub hub_;
  // Before the line and controls: they report here until they are gone.
  EventLog proc_log_;
  EventLog log_;
  SimulatedLine line_{clock_, hub_};
  LineRegistry lines_{clock_};
  std::unique_ptr<Telephony> proc_ = lines_.NewTelephony();  // never opened
  std::unique_ptr<Telephony> tapi_ = lines_.NewTelephony();  // the line's
  testing::SimFarEnd far_{line_};
};

TEST_F(SimulatedLineTest, CallRingingBeforeLineOpenIsReportedAfterTheOpen) {
  // Given a call that rang twice while the line was closed, expect nothing
  // then, InComeCall only after
  // LineOpen returned, the ring count going on, Connected only after
  // LineAnswer returned, and nothing for the control that never opened.
  far_.Offer();
  far_.Ring();
  far_.Ring();
  EXPECT_EQ(TakeEvents(), Events{});
  OpenLine();
  EXPECT_TRUE(log_.events.empty());
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall"}));
  far_.Ring();
  EXPECT_EQ(TakeEvents(), (Events{"Ring(3)"}));
  ASSERT_EQ(tapi_->LineAnswer(), 0);
  EXPECT_TRUE(log_.events.empty());
  EXPECT_EQ(TakeEvents(), (Events{"Connected"}));
  EXPECT_TRUE(proc_log_.events.empty());
}

// A sound played into the line: `blocks` blocks of 1000s.
struct Sound : LinePlaySource {
  explicit Sound(size_t blocks) : left(blocks * kLineBlockSamples) {}
  size_t Pull(std::span<int16_t> block) override {
    ++pulls;
    const size_t n = std::min(block.size(), left);
    std::fill_n(block.begin(), n, int16_t{1000});
    left -= n;
    return n;
  }
  size_t left;
  int pulls = 0;
};

TEST_F(SimulatedLineTest, LinePullsSoundAtItsPaceAndRecordsTheFarEnd) {
  // Given 3 blocks played on an idle line, expect the first pulled at once,
  // one more every 20 ms, the end found by the 4th pull, nobody hearing it
  // and no timer left. Given a connected call, expect the far end to hear
  // the played blocks and the sink to get the far end's sound in blocks,
  // zeros where it sent nothing.
  LineAudioEndpoint& audio = *line_.Audio();
  Sound sound(3);
  audio.AddPlaySource(&sound);
  EXPECT_EQ(sound.pulls, 1);
  clock_.Advance(40);
  EXPECT_EQ(sound.pulls, 3);
  EXPECT_TRUE(audio.has_sources());
  clock_.Advance(20);
  EXPECT_EQ(sound.pulls, 4);
  EXPECT_FALSE(audio.has_sources());
  EXPECT_EQ(clock_.timers_enabled(), 0);

  OpenLine();
  far_.Offer();
  ASSERT_EQ(tapi_->LineAnswer(), 0);
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall", "Connected"}));
  std::vector<int16_t> heard;
  audio.SetRecordSink([&](std::span<const int16_t> s) {
    heard.insert(heard.end(), s.begin(), s.end());
  });
  Sound more(2);
  audio.AddPlaySource(&more);
  far_.Audio(std::vector<int16_t>(100, 7));
  clock_.Advance(60);
  EXPECT_EQ(far_.samples_heard(), 2u * kLineBlockSamples);
  ASSERT_EQ(heard.size(), 3u * kLineBlockSamples);
  EXPECT_EQ(heard[99], 7);
  EXPECT_EQ(heard[100], 0);
  audio.SetRecordSink(nullptr);
  EXPECT_EQ(clock_.timers_enabled(), 0);
}

}  // namespace
}  // namespace lw
