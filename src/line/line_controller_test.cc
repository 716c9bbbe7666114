#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "drivers/simline/simulated_line.h"
#include "journal/regional.h"
#include "line/auto_mode.h"
#include "line/call_test_fixture.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kDevices = "Properties\\TabDevices";

class LineControllerTest : public CallTest {
 protected:
  // The controller goes before the lines it may have open.
  ~LineControllerTest() override { line_.reset(); }
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

  LineAudioHub line_audio_;
  std::vector<std::unique_ptr<SimulatedLine>> lines_;
};

TEST_F(LineControllerTest, LastDeviceOfTheConfiguredNameIsOpened) {
  // Given two devices named "Modem A" (the later without voice), expect a
  // details entry for each, the later one opened and reported, in telephony
  // mode as it has no serial port; a name no device bears opens device 0
  // and stores its name.
  AddLine("Modem A");
  AddLine("Simulated");
  SimulatedLine& last = AddLine("Modem A", /*voice=*/false);
  Set(kDevices, "cmbModemDev", "Modem A");
  Set("Properties\\TabDevices\\CallerID", "Tapi", "0");
  Load().OpenLine();
  const std::string indent(26, ' ');
  auto details = [&](const char* index, const char* voice) {
    return "Device Details -\r\n" + indent + "Line Index: " + index + "\r\n" +
           indent + "Device Name: Modem A\r\n" + indent +
           "Tapi Capability: Yes\r\n" + indent + "Voice Capability: " + voice +
           "\r\n" + indent + "Monitor Digits: Yes";
  };
  EXPECT_EQ(SysJournal(),
            Entry("", details("0", "Yes"), 0) +
                Entry("", details("2", "No"), 0) +
                Entry("OpenLine:Tapi1.LineOpen(2)", "Success", 0) +
                Entry("LineOpen:CommConnect",
                      "Line 2 has no serial port: caller identification "
                      "comes from the telephony line",
                      0));
  EXPECT_EQ(last.open_controls(), 1);
  EXPECT_THAT(Sent(107), ElementsAre("LineStatus\r\n2\r\n0\r\nFalse"));

  Set(kDevices, "cmbModemDev", "Modem B");
  Load().OpenLine();
  EXPECT_EQ(lines_[0]->open_controls(), 1);
  EXPECT_EQ(Get(kDevices, "cmbModemDev"), "Modem A");
  EXPECT_EQ(JournalCount("Device Details"), 2);
}

TEST_F(LineControllerTest, WantedDeviceListedDuringACallTakesTheLineAfterIt) {
  // Given "Modem A" named but not listed, then listed ahead of the simulated
  // line during a call, expect the call kept on the simulated line, whose
  // index follows the list, and the modem opened once the call is over.
  Set(kDevices, "cmbModemDev", "Modem A");
  Start();
  Incoming();
  SimulatedLine& modem = AddLine("Modem A");
  line_->OnLinesChanged();
  fake.clock().Advance(100);
  EXPECT_EQ(modem.open_controls(), 0);
  EXPECT_THAT(Sent(107), ElementsAre("Tapi_Incomming\r\n0\r\nFalse",
                                     "LineStatus\r\n1\r\n0\r\nFalse"));
  HangUp();
  fake.clock().Advance(100);
  EXPECT_EQ(modem.open_controls(), 1);
  EXPECT_EQ(fake.line().open_controls(), 0);
  EXPECT_EQ(Get(kDevices, "cmbModemDev"), "Modem A");
  EXPECT_EQ(JournalCount("Modem A is listed now: it replaces Linewarden"), 1);
}

TEST_F(LineControllerTest, FailedOpenLeavesTheLineOffAndSaysWhy) {
  // Given LineOpen failing, expect the open's journal entry with the
  // device's text and code, LineStat 1 and the status still sent.
  fake.line().faults().open_result = kSimLineDeviceBusy;
  Load().OpenLine();
  EXPECT_EQ(SysJournal(),
            Entry("OpenLine:Tapi1.LineOpen(0)", "The line is in use",
                  Code(kSimLineDeviceBusy)));
  EXPECT_THAT(Sent(107), ElementsAre("LineStatus\r\n0\r\n1\r\nFalse"));
}

TEST_F(LineControllerTest, CommandsAreWholeWords) {
  // Given HELLO with extra lines, expect exactly one status; near misses
  // get nothing.
  Load();
  fake.channels().Send(108, "HELLO\r\nextra\r\n");
  for (const char* text : {"hello", "Hello", "HELLO ", "", "\r\nHELLO", "on"})
    fake.channels().Send(108, text);
  EXPECT_THAT(Sent(107), ElementsAre("LineStatus\r\n0\r\n0\r\nFalse"));
}

TEST_F(LineControllerTest, UnloadingClosesTheLineReportsAndReleasesTheWaves) {
  // Given an open line in auto mode, expect unloading to stop the timer,
  // close the line, report it off and terminate both wave controls; then
  // commands go unanswered. A channel that cannot be opened loses only the
  // status.
  process_.AutoMode = true;
  LineController& line = Load();
  line.OpenLine();
  fake.channels().ClearSent();
  fake.line().ClearOps();
  line.Unload();
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
  EXPECT_THAT(fake.line().ops(), ElementsAre("LineClose", "LineShutdown"));
  EXPECT_FALSE(fake.wave(0)->initialized());
  EXPECT_FALSE(fake.wave(1)->initialized());
  fake.channels().Send(108, "HELLO");
  EXPECT_THAT(Sent(107), ElementsAre("LineStatus\r\n0\r\n1\r\nTrue"));

  fake.channels().set_open_fails(true);
  Load().OpenLine();
  EXPECT_EQ(Sent(107).size(), 1u);
  EXPECT_EQ(fake.line().open_controls(), 1);
}

TEST_F(LineControllerTest, ModemPortThatCannotBeHadClosesTheLineUntilARetry) {
  // Given serial caller-ID mode in auto mode and the modem's port busy for
  // three openings, expect the line reported closed and tried 5, 10 and 20 s
  // apart, never reopened meanwhile, the failure and the recovery journalled
  // once; a port lost later closes the line until the next try 5 s on.
  Set("Properties\\TabDevices\\CallerID", "Tapi", "0");
  process_.AutoMode = true;
  process_.AutoTimeOn = "0:00";
  process_.AutoTimeOff = "23:59:59";
  Load();
  fake.serial_port(0)->busy_opens = 3;
  line_->OpenLine();
  fake.clock().Advance(34999);
  EXPECT_EQ(JournalCount("is open again"), 0);
  fake.clock().Advance(1);
  fake.serial_port(0)->Lose();
  fake.clock().Advance(5000);
  EXPECT_THAT(Sent(107), ElementsAre("LineStatus\r\n0\r\n1\r\nTrue",
                                     "LineStatus\r\n0\r\n0\r\nTrue",
                                     "LineStatus\r\n0\r\n1\r\nTrue",
                                     "LineStatus\r\n0\r\n0\r\nTrue"));
  EXPECT_EQ(JournalCount("cannot be opened (8012)"), 1);
  EXPECT_EQ(JournalCount("The modem's port 100 is open again"), 2);
  EXPECT_EQ(Ops("LineOpen(6,6)"), 1);
}

TEST(AutoModeTest, WindowExcludesBothEndsWrapsMidnightAndRefusesNonTimes) {
  // Given a window and a time of day, expect inside only strictly between
  // the ends (across midnight when off is before on), never for equal
  // times or texts that are not times of day.
  const struct {
    const char *on, *off, *now;
    bool inside;
  } cases[] = {
      {"8:00", "18:00", "7:59:59", 0},       {"8:00", "18:00", "8:00:01", 1},
      {"8:00", "18:00", "18:00:00", 0},      {"22:00", "6:00", "23:00:00", 1},
      {"22:00", "6:00", "5:00:00", 1},       {"22:00", "6:00", "12:00:00", 0},
      {"8:00", "8:00:00", "8:00:01", 0},     {"", "18:00", "12:00:00", 0},
      {"8:00 AM", "6:30 PM", "18:29:59", 1}, {"8:00", "18:00", "8:00:00", 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(IsInTimeWindow(c.on, c.off, *ParseLongTime(c.now)), c.inside)
        << c.on << "-" << c.off << " at " << c.now;
  }
}

TEST_F(LineControllerTest, AutoModeWaitsForTheCallThenAutoAndOnTakeOver) {
  // Given "AUTO" for 08:00-08:01 at 08:00:50 and a call across 08:01, expect
  // the line closed only at the tick after the call; a window that is no
  // times of day journalled once and the line kept closed; "AUTO" reporting
  // and its next tick opening; "ON" ending auto mode.
  fake.clock().SetNow({2026, 12, 4, 8, 0, 50, 5});
  Start();
  for (const char* text : {"AUTO\r\n08:00", "AUTO\r\n08:00\r\n8:01"})
    fake.channels().Send(108, text);
  Incoming();
  Rings(4);  // to 08:01:05
  EXPECT_EQ(Ops("LineClose"), 0);
  HangUp();
  fake.channels().ClearSent();
  fake.clock().Advance(1000);
  for (const auto& [text, ms] : {std::pair{"AUTO\r\nnoon\r\n9:00", 3000},
                                 {"AUTO\r\n8:00\r\n9:00", 1000},
                                 {"ON", 3'600'000}}) {
    fake.channels().Send(108, text);
    fake.clock().Advance(ms);
  }
  EXPECT_THAT(Sent(107), ElementsAre("LineStatus\r\n0\r\n1\r\nTrue",
                                     "LineStatus\r\n0\r\n1\r\nTrue",
                                     "LineStatus\r\n0\r\n1\r\nTrue",
                                     "LineStatus\r\n0\r\n0\r\nTrue",
                                     "LineStatus\r\n0\r\n0\r\nFalse"));
  EXPECT_EQ(Ops("LineOpen(6,6)"), 1);
  EXPECT_EQ(JournalCount("\"noon\" to \"9:00\" is not a window"), 1);
}

}  // namespace
}  // namespace lw::testing
