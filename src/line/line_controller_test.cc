#include "line/line_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "controller/controller_test_util.h"

namespace lw {
namespace {

using testing::ControllerHome;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kDevices = "Properties\\TabDevices";
constexpr const char* kCallerId = "Properties\\TabDevices\\CallerID";

class LineControllerTest : public ::testing::Test, public ControllerHome {
 protected:
  LineControllerTest() {
    Set("Properties\\TabLog", "chkLogSys", "1");
    Set(kCallerId, "Tapi", "1");
    journal().SetSwitches(true, false);
    process_.AppPath = home.path();
  }

  frmLine& Load() {
    line_ = std::make_unique<frmLine>(fake.devices(), store, journal(),
                                      process_, nullptr);
    line_->Load();
    tapi_ = fake.telephonies().back();
    return *line_;
  }
  const std::vector<std::string>& Sent107() {
    return fake.channels().Sent(107);
  }

  ProcessState process_;
  std::unique_ptr<frmLine> line_;
  FakeTelephony* tapi_ = nullptr;
};

TEST_F(LineControllerTest, LastDeviceOfTheConfiguredNameIsOpened) {
  // Given two devices named "Modem A" (the later without voice), expect a
  // details entry for each, the later one opened and reported.
  fake.line().AddDevice("Modem A");
  fake.line().AddDevice("Simulated");
  const int32_t last = fake.line().AddDevice("Modem A");
  fake.line().device(last).info.VoiceCapable = false;
  Set(kDevices, "cmbModemDev", "Modem A");
  frmLine& line = Load();
  line.OpenLine();

  const std::string indent(26, ' ');
  const std::string details3 =
      "Device Details -\r\n" + indent + "Line Index: 3\r\n" + indent +
      "Device Name: Modem A\r\n" + indent + "Tapi Capability: Yes\r\n" +
      indent + "Voice Capability: No\r\n" + indent + "Monitor Digits: Yes";
  const std::string details1 =
      "Device Details -\r\n" + indent + "Line Index: 1\r\n" + indent +
      "Device Name: Modem A\r\n" + indent + "Tapi Capability: Yes\r\n" +
      indent + "Voice Capability: Yes\r\n" + indent + "Monitor Digits: Yes";
  EXPECT_EQ(SysJournal(),
            Entry("", details1, 0) + Entry("", details3, 0) +
                Entry("OpenLine:Tapi1.LineOpen(3)", "Success", 0));
  EXPECT_EQ(tapi_->open_device(), 3);
  EXPECT_EQ(line.state().LineIndex, 3);
  EXPECT_EQ(Get(kDevices, "cmbModemDev"), "Modem A");
  EXPECT_THAT(Sent107(), ElementsAre("LineStatus\r\n3\r\n0\r\nFalse"));
}

TEST_F(LineControllerTest, UnknownOrEmptyNameOpensDeviceZeroAndStoresItsName) {
  // Given a name no device bears, or none, expect device 0 opened without a
  // details entry and its name written back; with no name no device is
  // even looked at.
  fake.line().AddDevice("Modem A");
  for (const char* name : {"Modem B", ""}) {
    SCOPED_TRACE(name);
    Set(kDevices, "cmbModemDev", name);
    fake.line().ClearOps();
    frmLine& line = Load();
    line.OpenLine();
    EXPECT_EQ(tapi_->open_device(), 0);
    EXPECT_EQ(Get(kDevices, "cmbModemDev"), "Fake Line");
    EXPECT_EQ(JournalCount("Device Details"), 0);
    const bool looked = std::count(fake.line().ops().begin(),
                                   fake.line().ops().end(), "DeviceIndex=1");
    EXPECT_EQ(looked, std::string(name) != "");
    line_.reset();
  }
}

TEST_F(LineControllerTest, FailedOpenLeavesTheLineOffAndSaysWhy) {
  // Given LineOpen failing, expect the open's journal entry with the
  // device's text and code, LineStat 1 and the status still sent.
  fake.line().faults().open_result = kFakeTapiDeviceBusy;
  frmLine& line = Load();
  line.OpenLine();
  EXPECT_EQ(SysJournal(), Entry("OpenLine:Tapi1.LineOpen(0)",
                                tapi_->GetErrorText(kFakeTapiDeviceBusy),
                                kFakeTapiDeviceBusy));
  EXPECT_EQ(process_.LineStat, 1);
  EXPECT_THAT(Sent107(), ElementsAre("LineStatus\r\n0\r\n1\r\nFalse"));
}

TEST_F(LineControllerTest, OpenLineDoesNotReopenAnOpenLine) {
  // Given an open line and auto mode on, expect a second OpenLine to make
  // no LineOpen, start the auto mode timer and report the current state.
  frmLine& line = Load();
  line.OpenLine();
  process_.AutoMode = true;
  line.OpenLine();
  int opens = 0;
  for (const std::string& op : fake.line().ops())
    opens += op == "LineOpen(6,6)";
  EXPECT_EQ(opens, 1);
  EXPECT_TRUE(line.state().tmrAutoMode->Enabled());
  EXPECT_THAT(Sent107(), ElementsAre("LineStatus\r\n0\r\n0\r\nFalse",
                                     "LineStatus\r\n0\r\n0\r\nTrue"));
}

TEST_F(LineControllerTest, CloseLineJournalsEachFailureAndAlwaysTheEnd) {
  // Given LineClose and LineShutdown failing, expect an entry for each and
  // the closing entry with the shutdown's result; a clean close writes only
  // the closing entry. CloseLine(true) sends no status.
  frmLine& line = Load();
  line.OpenLine();
  fake.line().faults().close_result = kFakeTapiNotOpen;
  fake.line().faults().shutdown_result = kFakeTapiNoCall;
  const std::string before = SysJournal();
  line.CloseLine(false);
  const std::string close_text = tapi_->GetErrorText(kFakeTapiNotOpen);
  const std::string shut_text = tapi_->GetErrorText(kFakeTapiNoCall);
  EXPECT_EQ(
      SysJournal(),
      before +
          Entry("CloseLine:Tapi1.LineClose", close_text, kFakeTapiNotOpen) +
          Entry("CloseLine:Tapi1.LineShutdown", shut_text, kFakeTapiNoCall) +
          Entry("CloseLine", shut_text, kFakeTapiNoCall));
  EXPECT_EQ(process_.LineStat, 1);

  fake.line().faults() = {};
  line.OpenLine();
  fake.channels().ClearSent();
  const std::string middle = SysJournal();
  line.CloseLine(true);
  EXPECT_EQ(SysJournal(), middle + Entry("CloseLine", "Success", 0));
  EXPECT_THAT(Sent107(), IsEmpty());
  EXPECT_EQ(fake.line().open_lines(), 0);
}

TEST_F(LineControllerTest, HelloIsAnsweredOnceWhateverFollowsIt) {
  // Given HELLO with extra lines, expect exactly one status; "hello" and
  // unknown words get nothing.
  Load();
  fake.channels().Send(108, "HELLO\r\nextra\r\n");
  EXPECT_THAT(Sent107(), ElementsAre("LineStatus\r\n0\r\n0\r\nFalse"));
  fake.channels().ClearSent();
  for (const char* text : {"hello", "Hello", "HELLO ", "", "\r\nHELLO", "on"}) {
    fake.channels().Send(108, text);
  }
  EXPECT_THAT(fake.channels().SentLog(), IsEmpty());
  EXPECT_EQ(fake.line().open_lines(), 0);
}

TEST_F(LineControllerTest, OnAndOffEndAutoModeAndReport) {
  // Given auto mode on, expect "OFF" to end it and close the line, "ON" to
  // open it again, each answered by the status it causes.
  process_.AutoMode = true;
  frmLine& line = Load();
  line.OpenLine();
  fake.channels().ClearSent();
  fake.channels().Send(108, "OFF\r\nignored");
  EXPECT_FALSE(process_.AutoMode);
  EXPECT_FALSE(line.state().tmrAutoMode->Enabled());
  EXPECT_EQ(fake.line().open_lines(), 0);
  fake.channels().Send(108, "ON");
  EXPECT_EQ(fake.line().open_lines(), 1);
  EXPECT_THAT(Sent107(), ElementsAre("LineStatus\r\n0\r\n1\r\nFalse",
                                     "LineStatus\r\n0\r\n0\r\nFalse"));
}

TEST_F(LineControllerTest, StatusIsDroppedWhenTheDesktopCannotBeReached) {
  // Given channel 107 unavailable, expect no status and the line working.
  frmLine& line = Load();
  fake.channels().set_open_fails(true);
  line.OpenLine();
  line.SendLineStatus();
  EXPECT_THAT(Sent107(), IsEmpty());
  EXPECT_EQ(fake.line().open_lines(), 1);
}

TEST_F(LineControllerTest, UnloadingClosesTheLineReportsAndReleasesTheWaves) {
  // Given an open line in auto mode, expect unloading to stop the timer,
  // close the line, report it off and terminate both wave controls.
  process_.AutoMode = true;
  frmLine& line = Load();
  line.OpenLine();
  fake.channels().ClearSent();
  fake.line().ClearOps();
  line.Unload();
  EXPECT_FALSE(line.loaded());
  EXPECT_FALSE(line.state().tmrAutoMode->Enabled());
  EXPECT_THAT(fake.line().ops(), ElementsAre("LineClose", "LineShutdown"));
  EXPECT_THAT(Sent107(), ElementsAre("LineStatus\r\n0\r\n1\r\nTrue"));
  EXPECT_FALSE(fake.wave(0)->initialized());
  EXPECT_FALSE(fake.wave(1)->initialized());

  // Unloaded: commands are no longer answered, a second unload is a no-op.
  fake.channels().ClearSent();
  fake.channels().Send(108, "HELLO");
  line.Unload();
  EXPECT_THAT(Sent107(), IsEmpty());
}

}  // namespace
}  // namespace lw
