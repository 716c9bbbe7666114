// The simulated line driven by an in-process far end on a virtual clock: the
// line contract suite. Far ends on the socket are the end-to-end tests'.
#include "drivers/simline/simulated_line.h"

#include <gtest/gtest.h>

#include "devices/line_contract_test_fixture.h"
#include "drivers/simline/sim_far_end_test_util.h"

namespace lw {
namespace {

using testing::LineContractTest;
INSTANTIATE_TEST_SUITE_P(SimulatedLine, LineContractTest,
                         ::testing::Values(testing::SimulatedLinePair));

}  // namespace
}  // namespace lw
