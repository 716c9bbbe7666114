#include "line/line_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "controller/controller_test_util.h"
#include "drivers/simline/simulated_line.h"

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
    return *line_;
  }
  const std::vector<std::string>& Sent107() {
    return fake.channels().Sent(107);
  }

  // A line registered as a real backend, listed before the simulated line.
  SimulatedLine& AddLine(const std::string& name, bool voice = true) {
    SimulatedLine::Options o;
    o.info = {name, true, voice, true};
    lines_.push_back(
        std::make_unique<SimulatedLine>(fake.clock(), line_audio_, o));
    fake.lines().Register(name + std::to_string(lines_.size()), *lines_.back());
    return *lines_.back();
  }
  int32_t Code(int32_t line_code) {
    return fake.lines().ResultCode(fake.line(), line_code);
  }

  ProcessState process_;
  LineAudioHub line_audio_;
  std::vector<std::unique_ptr<SimulatedLine>> lines_;
  std::unique_ptr<frmLine> line_;
};

TEST_F(LineControllerTest, LastDeviceOfTheConfiguredNameIsOpened) {
  // Given two devices named "Modem A" (the later without voice), expect a
  // details entry for each, the later one opened and reported.
  AddLine("Modem A");
  AddLine("Simulated");
  SimulatedLine& last = AddLine("Modem A", /*voice=*/false);
  Set(kDevices, "cmbModemDev", "Modem A");
  frmLine& line = Load();
  line.OpenLine();

  const std::string indent(26, ' ');
  const std::string details2 =
      "Device Details -\r\n" + indent + "Line Index: 2\r\n" + indent +
      "Device Name: Modem A\r\n" + indent + "Tapi Capability: Yes\r\n" +
      indent + "Voice Capability: No\r\n" + indent + "Monitor Digits: Yes";
  const std::string details0 =
      "Device Details -\r\n" + indent + "Line Index: 0\r\n" + indent +
      "Device Name: Modem A\r\n" + indent + "Tapi Capability: Yes\r\n" +
      indent + "Voice Capability: Yes\r\n" + indent + "Monitor Digits: Yes";
  EXPECT_EQ(SysJournal(),
            Entry("", details0, 0) + Entry("", details2, 0) +
                Entry("OpenLine:Tapi1.LineOpen(2)", "Success", 0));
  EXPECT_EQ(last.open_controls(), 1);
  EXPECT_EQ(Get(kDevices, "cmbModemDev"), "Modem A");
  EXPECT_THAT(Sent107(), ElementsAre("LineStatus\r\n2\r\n0\r\nFalse"));
}

TEST_F(LineControllerTest, UnknownOrEmptyNameOpensDeviceZeroAndStoresItsName) {
  // Given a name no device bears, or none, expect device 0 (the modem, listed
  // before the simulated line) opened without a details entry and its name
  // written back.
  SimulatedLine& modem = AddLine("Modem A");
  for (const char* name : {"Modem B", ""}) {
    SCOPED_TRACE(name);
    Set(kDevices, "cmbModemDev", name);
    frmLine& line = Load();
    line.OpenLine();
    EXPECT_EQ(modem.open_controls(), 1);
    EXPECT_EQ(Get(kDevices, "cmbModemDev"), "Modem A");
    EXPECT_EQ(JournalCount("Device Details"), 0);
    line_.reset();
  }
}

TEST_F(LineControllerTest, FailedOpenLeavesTheLineOffAndSaysWhy) {
  // Given LineOpen failing, expect the open's journal entry with the
  // device's text and code, LineStat 1 and the status still sent.
  fake.line().faults().open_result = kSimLineDeviceBusy;
  frmLine& line = Load();
  line.OpenLine();
  EXPECT_EQ(SysJournal(),
            Entry("OpenLine:Tapi1.LineOpen(0)", "The line is in use",
                  Code(kSimLineDeviceBusy)));
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
  EXPECT_EQ(fake.clock().timers_enabled(), 1);  // the auto mode timer
  EXPECT_THAT(Sent107(), ElementsAre("LineStatus\r\n0\r\n0\r\nFalse",
                                     "LineStatus\r\n0\r\n0\r\nTrue"));
}

TEST_F(LineControllerTest, CloseLineJournalsEachFailureAndAlwaysTheEnd) {
  // Given LineClose and LineShutdown failing, expect an entry for each and
  // the closing entry with the shutdown's result; a clean close writes only
  // the closing entry. CloseLine(true) sends no status.
  frmLine& line = Load();
  line.OpenLine();
  fake.line().faults().close_result = kSimLineDeviceBusy;
  fake.line().faults().shutdown_result = kSimLineNoCall;
  const std::string before = SysJournal();
  line.CloseLine(false);
  const std::string close_text = "The line is in use";
  const std::string shut_text = "There is no call";
  const int32_t close_code = Code(kSimLineDeviceBusy);
  const int32_t shut_code = Code(kSimLineNoCall);
  EXPECT_EQ(SysJournal(),
            before +
                Entry("CloseLine:Tapi1.LineClose", close_text, close_code) +
                Entry("CloseLine:Tapi1.LineShutdown", shut_text, shut_code) +
                Entry("CloseLine", shut_text, shut_code));
  EXPECT_EQ(process_.LineStat, 1);

  fake.line().faults() = {};
  line.OpenLine();
  fake.channels().ClearSent();
  const std::string middle = SysJournal();
  line.CloseLine(true);
  EXPECT_EQ(SysJournal(), middle + Entry("CloseLine", "Success", 0));
  EXPECT_THAT(Sent107(), IsEmpty());
  EXPECT_EQ(fake.line().open_controls(), 0);
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
  EXPECT_EQ(fake.line().open_controls(), 0);
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
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
  EXPECT_EQ(fake.line().open_controls(), 0);
  fake.channels().Send(108, "ON");
  EXPECT_EQ(fake.line().open_controls(), 1);
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
  EXPECT_EQ(fake.line().open_controls(), 1);
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
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
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
