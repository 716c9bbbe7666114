// The simulated line driven by an in-process far end on a virtual clock: the
// line contract suite, and the registry over several lines. Far ends on the
// socket are the end-to-end tests'.
#include "drivers/simline/simulated_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "devices/line_contract_test_fixture.h"
#include "devices/line_registry.h"
#include "drivers/simline/sim_far_end_test_util.h"

namespace lw {
namespace {

using Events = std::vector<std::string>;

class SimulatedLineTest : public ::testing::Test {
 protected:
  SimulatedLineTest() { lines_.Register("simline", line_, true); }

  FakeClock clock_;
  LineAudioHub hub_;
  SimulatedLine line_{clock_, hub_};
  LineRegistry lines_{clock_};
  std::unique_ptr<Telephony> tapi_ = lines_.NewTelephony();
};

using testing::LineContractTest;
INSTANTIATE_TEST_SUITE_P(SimulatedLine, LineContractTest,
                         ::testing::Values(testing::SimulatedLinePair));

TEST_F(SimulatedLineTest, RegistryListsRealLinesFirstWithTheirOwnCodes) {
  // Given a "real" backend registered after the simulated line, expect it
  // listed first, each backend's codes in its own range with its own texts,
  // a name registered once, and the wave numbers of each line's endpoint.
  SimulatedLine::Options o;
  o.info.Name = "Modem A";
  SimulatedLine modem(clock_, hub_, o);
  EXPECT_TRUE(lines_.Register("modem", modem));
  EXPECT_FALSE(lines_.Register("modem", line_));
  ASSERT_EQ(tapi_->GetNumDevices(), 2);
  DeviceInfo info;
  ASSERT_EQ(tapi_->GetDeviceCaps(info), 0);
  EXPECT_EQ(info.Name, "Modem A");
  tapi_->SetDeviceIndex(2);
  EXPECT_EQ(tapi_->GetDeviceCaps(info), kLineBadDevice);
  tapi_->SetDeviceIndex(1);
  line_.faults().open_result = kSimLineDeviceBusy;
  modem.faults().answer_result = kSimLineDeviceBusy;
  EXPECT_EQ(tapi_->LineOpen(6, 6),
            1 * kLineBackendCodeRange + kSimLineDeviceBusy);
  tapi_->SetDeviceIndex(0);
  ASSERT_EQ(tapi_->LineOpen(6, 6), 0);
  const int32_t modem_busy = tapi_->LineAnswer();
  EXPECT_EQ(modem_busy, 2 * kLineBackendCodeRange + kSimLineDeviceBusy);
  EXPECT_EQ(tapi_->GetErrorText(modem_busy), "The line is in use");
  EXPECT_EQ(tapi_->GetErrorText(0x7fff0000), "Unknown error 2147418112");
  // Wave numbers come from the hub, a pair per line; no serial port.
  EXPECT_EQ(tapi_->GetDeviceID(kDeviceClassWaveIn), 3);
  EXPECT_EQ(tapi_->GetDeviceID(kDeviceClassWaveOut), 4);
  EXPECT_EQ(hub_.Find(4), modem.Audio());
  EXPECT_EQ(tapi_->GetDeviceID(kDeviceClassSerialPort), -1);
  EXPECT_EQ(modem.ops(), (Events{"LineOpen(6,6)", "LineAnswer"}));
  EXPECT_EQ(tapi_->LineClose(), 0);  // before the modem goes away
}

}  // namespace
}  // namespace lw
