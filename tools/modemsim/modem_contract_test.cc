// The line contract suite on the voice-modem line, with the modem simulator
// (conexant, whose 16-bit sound keeps the suite's samples exact) as its far
// end.
#include "devices/line_contract_test_fixture.h"
#include "modem_far_end_test_util.h"

namespace lw::testing {
namespace {

LinePair ConexantPair(Clock& clock, LineAudioHub& hub) {
  return ModemPair(clock, hub, "conexant");
}

INSTANTIATE_TEST_SUITE_P(VoiceModem, LineContractTest,
                         ::testing::Values(ConexantPair));

}  // namespace
}  // namespace lw::testing
