// The voice-modem line against the modem simulator in one process, in
// virtual time. The two were written apart (the driver from its profile
// table, the simulator from the chipsets' command sets), so each checks the
// other, for every profile.
#include "modem_sim.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "devices/line_contract_test_fixture.h"
#include "modem_far_end_test_util.h"

namespace lw {
namespace {

using Events = std::vector<std::string>;

// A tone of `blocks` blocks played into the line.
struct Tone : LinePlaySource {
  explicit Tone(size_t blocks) : left(blocks * kLineBlockSamples) {}
  size_t Pull(std::span<int16_t> block) override {
    const size_t n = std::min(block.size(), left);
    std::fill_n(block.begin(), n, int16_t{3000});
    left -= n;
    return n;
  }
  size_t left;
};

// The simulator of `profile` on the far side of the line's port, probed.
struct SimPair {
  explicit SimPair(const std::string& profile) {
    auto owned = std::make_unique<FakeSerialPort>(clock);
    port = owned.get();
    sim = testing::WireSim(clock, *port, profile, sim_events, capture);
    const std::optional<ModemIdentity> found = testing::ProbeOn(clock, *port);
    EXPECT_TRUE(found && found->voice && found->profile->name == profile);
    if (!found) return;
    line = std::make_unique<VoiceModemLine>(clock, hub, std::move(owned), 1,
                                            *found, nullptr);
    line->SetEvents(testing::LogEvents(log));
  }
  Events Take(uint32_t ms) {
    clock.Advance(ms);
    return std::exchange(log, {});
  }

  FakeClock clock;
  LineAudioHub hub;
  FakeSerialPort* port;
  std::unique_ptr<ModemSim> sim;
  std::unique_ptr<VoiceModemLine> line;
  Events log;
  Events sim_events;
  std::vector<int16_t> capture;
};

TEST(ModemSimTest, EveryProfileAnswersPlaysThenRecordsAndHearsTheHangUp) {
  // Given a caller on each profile who rings with caller identification,
  // speaks 0.1 s a second into the talk and hangs up with the profile's own
  // signal, expect the call answered at the second ring, the greeting heard
  // whole, then the caller's sound recorded (half-duplex), Disconnected at
  // the signal and the call over at the simulator.
  const std::pair<const char*, const char*> cases[] = {
      {"usr", "busy"}, {"conexant", "loop"}, {"rockwell", "silence"}};
  for (const auto& [profile, signal] : cases) {
    SCOPED_TRACE(profile);
    SimPair pair(profile);
    ASSERT_TRUE(pair.line);
    ASSERT_EQ(pair.line->Open(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
    CallScript call;
    call.name = "ANN";
    call.number = "5551234";
    call.ring_interval_ms = 1000;
    call.play.assign(800, 4000);
    call.play_after_ms = 1000;
    call.hangup_after_ms = 2000;
    call.hangup_signal = signal;
    pair.clock.Advance(100);
    ASSERT_TRUE(pair.sim->Call(call));
    EXPECT_EQ(pair.Take(1100), (Events{"InComeCall", "Ring(1)",
                                       "CallerID(ANN,5551234)", "Ring(2)"}));
    ASSERT_EQ(pair.line->Answer(), 0);
    EXPECT_EQ(pair.Take(0), Events{"Connected"});
    LineAudioEndpoint& audio = *pair.line->Audio();
    EXPECT_TRUE(audio.half_duplex());
    Tone greeting(10);
    std::vector<int16_t> recorded;
    audio.SetRecordSink([&](std::span<const int16_t> s) {
      recorded.insert(recorded.end(), s.begin(), s.end());
    });
    audio.AddPlaySource(&greeting);
    EXPECT_EQ(pair.Take(2500), Events{"Disconnected"});
    audio.SetRecordSink(nullptr);
    ASSERT_EQ(pair.line->Drop(), 0);
    EXPECT_EQ(pair.Take(100), Events{"Idle"});
    EXPECT_EQ(pair.sim_events.back(),
              "{\"event\":\"hangup\",\"by\":\"caller\"}");
    EXPECT_EQ(std::count(pair.sim_events.begin(), pair.sim_events.end(),
                         "{\"event\":\"answered\",\"after_rings\":2}"),
              1);
    EXPECT_GE(pair.capture.size(), 10u * kLineBlockSamples);
    EXPECT_GE(std::count_if(pair.capture.begin(), pair.capture.end(),
                            [](int16_t s) { return s > 2000; }),
              10 * kLineBlockSamples);
    EXPECT_NEAR(std::count_if(recorded.begin(), recorded.end(),
                              [](int16_t s) { return s > 2000; }),
                800, 1);
    EXPECT_FALSE(pair.sim->in_call());
  }
}

}  // namespace
}  // namespace lw
