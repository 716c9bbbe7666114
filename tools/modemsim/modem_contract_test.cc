// The line contract suite on the voice-modem line of each profile, with the
// modem simulator as its far end.
#include <string>

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
