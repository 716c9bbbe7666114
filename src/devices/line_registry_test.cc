// The registry's lifecycle over scripted backends (simulated lines with
// fault switches, registered as real backends where the test needs them).
#include "devices/line_registry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "drivers/simline/simulated_line.h"

namespace lw {
namespace {

using ::testing::ElementsAre;

class LineRegistryTest : public ::testing::Test {
 protected:
  LineRegistryTest() {
    modem_.AttachModem({.port = 5, .report = [](const std::string&) {}});
    modem_.faults().initialize_result = kSimLineDeviceBusy;
    // The modem registers ahead of the simulated line.
    lines_.Register("voice_modem", modem_);
    lines_.Register("simline", sim_, /*simulated=*/true);
    refused_ = !lines_.Register("simline", modem_);
    lines_.SetReport(
        [this](const std::string& name, int32_t code, const std::string& text) {
          reports_.push_back(name + " " + std::to_string(code) + " " + text);
        });
  }
  static SimulatedLine::Options Named(const char* name) {
    SimulatedLine::Options o;
    o.info.Name = name;
    return o;
  }
  static int Count(const SimulatedLine& line, const std::string& op) {
    return static_cast<int>(
        std::count(line.ops().begin(), line.ops().end(), op));
  }

  FakeClock clock_;
  LineAudioHub hub_;
  SimulatedLine modem_{clock_, hub_, Named("Modem")};
  SimulatedLine sim_{clock_, hub_};
  LineRegistry lines_{clock_};
  std::vector<std::string> reports_;
  bool refused_ = false;
  std::unique_ptr<Telephony> a_ = lines_.NewTelephony();
  std::unique_ptr<Telephony> b_ = lines_.NewTelephony();
};

TEST_F(LineRegistryTest, FailingBackendStaysOutUntilItWorksAndMovesNoOpenLine) {
  // Given a modem that fails to initialise, expect one report, the simulated
  // line alone listed and opened; once the modem works it is listed ahead
  // (with its own wave numbers and port), but the control with the
  // simulated line open still answers for that line.
  EXPECT_EQ(a_->LineInitialize(), 0);
  EXPECT_EQ(a_->LineInitialize(), 0);
  EXPECT_EQ(b_->LineInitialize(), 0);
  EXPECT_THAT(reports_, ElementsAre("voice_modem 8199 The line is in use"));
  ASSERT_EQ(a_->GetNumDevices(), 1);
  ASSERT_EQ(a_->LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
  const int32_t sim_wave_in = a_->GetDeviceID(kDeviceClassWaveIn);

  modem_.faults().initialize_result = 0;
  EXPECT_EQ(b_->LineInitialize(), 0);
  ASSERT_EQ(a_->GetNumDevices(), 2);
  DeviceInfo info;
  a_->GetDeviceCaps(info);
  EXPECT_EQ(info.Name, "Modem");
  a_->SetDeviceIndex(2);
  EXPECT_EQ(a_->GetDeviceCaps(info), kLineBadDevice);
  EXPECT_EQ(b_->GetDeviceID(kDeviceClassSerialPort), 5);
  EXPECT_EQ(a_->GetDeviceID(kDeviceClassSerialPort), -1);
  EXPECT_EQ(a_->GetDeviceID(kDeviceClassWaveIn), sim_wave_in);
  EXPECT_NE(b_->GetDeviceID(kDeviceClassWaveIn), sim_wave_in);
  EXPECT_EQ(sim_.open_controls(), 1);
  a_->LineClose();
}

TEST_F(LineRegistryTest, BackendsShutDownWithTheirLastControlAndCodesKeep) {
  // Given two controls on the simulated line, expect one initialisation,
  // the line left open by the other control's shutdown, the backend shut
  // down with the last one and initialised again by LineOpen; its codes
  // in its own range although the modem registered first, and a name
  // registered once.
  modem_.faults().initialize_result = 0;
  ASSERT_EQ(a_->LineInitialize(), 0);
  ASSERT_EQ(b_->LineInitialize(), 0);
  a_->SetDeviceIndex(1);
  ASSERT_EQ(a_->LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
  EXPECT_EQ(b_->LineShutdown(), 0);
  EXPECT_TRUE(a_->IsLineOpen());
  EXPECT_EQ(Count(sim_, "LineShutdown"), 0);
  const int32_t no_call = a_->LineAnswer();  // the line still works
  EXPECT_EQ(no_call, 1 * kLineBackendCodeRange + kSimLineNoCall);
  EXPECT_EQ(a_->GetErrorText(no_call), "There is no call");
  EXPECT_TRUE(refused_);
  EXPECT_EQ(a_->LineShutdown(), 0);
  EXPECT_EQ(Count(sim_, "LineShutdown"), 1);
  EXPECT_EQ(Count(modem_, "LineShutdown"), 1);
  ASSERT_EQ(a_->LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
  EXPECT_EQ(Count(sim_, "LineInitialize"), 2);
  EXPECT_EQ(Count(modem_, "LineInitialize"), 1);
  a_->LineClose();
}

}  // namespace
}  // namespace lw
