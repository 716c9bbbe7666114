// The line contract suite on the voice-modem line of each profile, with the
// modem simulator as its far end; and the simulator as the called party of
// the line's dial.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devices/line_contract_test_fixture.h"
#include "modem_far_end_test_util.h"

namespace lw::testing {
namespace {

LinePairFactory PairOf(const char* profile) {
  return [profile](Clock& clock, LineAudioHub& hub) {
    return ModemPair(clock, hub, profile);
  };
}

constexpr const char* kProfiles[] = {"usr", "conexant", "rockwell"};

INSTANTIATE_TEST_SUITE_P(VoiceModem, LineContractTest,
                         ::testing::Values(PairOf(kProfiles[0]),
                                           PairOf(kProfiles[1]),
                                           PairOf(kProfiles[2])),
                         [](const auto& info) {
                           return std::string(kProfiles[info.index]);
                         });

}  // namespace
}  // namespace lw::testing

namespace lw::testing {
namespace {

TEST(ModemSimDialTest, DialledCallEndsAsTheCalledPartyScripts) {
  // Given the simulator awaiting a dial with each result, expect the line's
  // dial connected when answered, else ended with Idle and the modem's
  // word in the journal.
  const std::pair<const char*, const char*> cases[] = {
      {"answer", ""},
      {"busy", "BUSY"},
      {"nodialtone", "NO DIALTONE"},
      {"noanswer", "NO ANSWER"},
      {"nocarrier", "NO CARRIER"}};
  for (const auto& [result, word] : cases) {
    SCOPED_TRACE(result);
    FakeClock clock;
    LineAudioHub hub;
    auto port = std::make_unique<FakeSerialPort>(clock);
    std::vector<std::string> sim_events;
    std::vector<int16_t> capture;
    auto sim = WireSim(clock, *port, "rockwell", sim_events, capture);
    std::optional<ModemIdentity> identity = ProbeOn(clock, *port);
    ASSERT_TRUE(identity);
    std::vector<std::string> journal;
    VoiceModemLine line(
        clock, hub, std::move(port), 1, *identity,
        [&](const std::string& text) { journal.push_back(text); });
    std::vector<std::string> log;
    line.SetEvents(LogEvents(log));
    ASSERT_EQ(line.Open(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
    clock.Advance(100);
    CallScript called;
    called.dial_result = result;
    called.answer_after_ms = 1000;
    ASSERT_TRUE(sim->Await(called));
    std::string text;
    ASSERT_EQ(line.Dial("5551234", text), 0);
    clock.Advance(1100);
    EXPECT_EQ(log, (std::vector<std::string>{"Dialing",
                                             *word ? "Idle" : "Connected"}));
    if (*word) {
      EXPECT_EQ(journal.back(),
                std::string("sim: the call was not connected: ") + word);
    }
  }
}

}  // namespace
}  // namespace lw::testing
