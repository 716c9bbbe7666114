#include "controller/process_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>

#include "controller/controller_test_util.h"
#include "drivers/simline/simulated_line.h"
#include "line/line_controller.h"

namespace lw {
namespace {

using testing::ControllerHome;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

constexpr const char* kCallerId = "Properties\\TabDevices\\CallerID";
constexpr const char* kLineStat = "Properties\\TabLineStat";
constexpr const char* kDevices = "Properties\\TabDevices";
constexpr const char* kWeb = "RemoteAccess\\TabInternetAccess";

class ProcessControllerTest : public ::testing::Test, public ControllerHome {
 protected:
  ProcessControllerTest() : speech_(log_) {
    Set("Properties\\TabLog", "chkLogSys", "1");
    Set(kCallerId, "Tapi", "1");
  }

  frmMain& Start() {
    ProcessHooks hooks;
    hooks.speech = &speech_;
    hooks.load_web = [this](frmMain& m) {
      log_.push_back("frmHTTP.Load(" + std::to_string(m.RCWWWPort) + ")");
    };
    hooks.unload_web = [this] { log_.push_back("frmHTTP.Unload"); };
    hooks.unloaded = [this] { log_.push_back("unloaded"); };
    main_ = std::make_unique<frmMain>(fake.devices(), store, journal(),
                                      home.path(), std::move(hooks));
    main_->Load();
    return *main_;
  }

  std::vector<std::string>& Sent(int32_t channel) {
    return const_cast<std::vector<std::string>&>(fake.channels().Sent(channel));
  }
  int LineOpens() {
    int n = 0;
    for (const std::string& op : fake.line().ops()) n += op == "LineOpen(6,6)";
    return n;
  }

  std::vector<std::string> log_;
  testing::LoggingSpeechWindow speech_;
  std::unique_ptr<frmMain> main_;
};

TEST_F(ProcessControllerTest, LineControllerGoesBeforeWebServerAndSpeech) {
  // Given all three windows loaded, expect the line closed (status sent)
  // by the time the web server unloads, and the speech window last.
  Set(kLineStat, "cmbLineStat", "0");
  Set(kWeb, "chkAllowWWWRemoteAccess", "1");
  std::vector<std::string> seen;
  ProcessHooks hooks;
  hooks.speech = &speech_;
  hooks.load_web = [](frmMain&) {};
  hooks.unload_web = [&] {
    seen.push_back("frmHTTP with line open: " +
                   std::to_string(fake.line().open_controls()) +
                   ", statuses: " + std::to_string(Sent(107).size()));
  };
  frmMain m(fake.devices(), store, journal(), home.path(), std::move(hooks));
  m.Load();
  fake.channels().ClearSent();
  log_.clear();
  m.Unload();
  EXPECT_THAT(seen, ElementsAre("frmHTTP with line open: 0, statuses: 1"));
  EXPECT_THAT(log_, ElementsAre("frmTTS.Unload"));
}

TEST_F(ProcessControllerTest, LineStatTwoOpensInAutoModeUntilOn) {
  // Given "cmbLineStat" = "2", expect the line open with auto mode and its
  // timer running; "ON" ends auto mode without a second LineOpen.
  Set(kLineStat, "cmbLineStat", "2");
  Set(kLineStat, "txtTimeOn", "08:00");
  Set(kLineStat, "txtTimeOff", "18:30");
  frmMain& m = Start();
  EXPECT_TRUE(m.state().AutoMode);
  EXPECT_EQ(m.state().AutoTimeOn, "08:00");
  EXPECT_EQ(m.state().AutoTimeOff, "18:30");
  EXPECT_THAT(Sent(107), ElementsAre("LineStatus\r\n0\r\n0\r\nTrue"));
  EXPECT_TRUE(m.line()->state().tmrAutoMode->Enabled());

  fake.channels().ClearSent();
  fake.channels().Send(108, "ON");
  EXPECT_THAT(Sent(107), ElementsAre("LineStatus\r\n0\r\n0\r\nFalse"));
  EXPECT_EQ(LineOpens(), 1);
  EXPECT_FALSE(m.state().AutoMode);
  EXPECT_FALSE(m.line()->state().tmrAutoMode->Enabled());
}

TEST_F(ProcessControllerTest, OtherLineStatsLeaveTheLineAlone) {
  // Given "cmbLineStat" missing or not one of "0", "1", "2" (compared as
  // text), expect the line controller loaded, the line not opened, LineStat
  // and AutoMode untouched.
  for (const char* value : {"<none>", "3", " 0"}) {
    SCOPED_TRACE(value);
    if (std::string(value) != "<none>") Set(kLineStat, "cmbLineStat", value);
    fake.line().ClearOps();
    fake.channels().ClearSent();
    frmMain& m = Start();
    EXPECT_TRUE(m.IsFormLoaded("frmLine"));
    EXPECT_EQ(LineOpens(), 0);
    EXPECT_THAT(Sent(107), IsEmpty());
    EXPECT_EQ(m.state().LineStat, 0);
    EXPECT_FALSE(m.state().AutoMode);
    main_.reset();
  }
}

TEST_F(ProcessControllerTest, FailedTelephonyLeavesNoLineButCommandsWork) {
  // Given LineInitialize failing, expect the "Can't Init Tapi" line, no
  // line controller, the sound device left at 0, and channel 105 working.
  fake.line().faults().initialize_result = kSimLineDeviceBusy;
  Set(kLineStat, "cmbLineStat", "0");
  Set(kDevices, "cmbSoundDev", "Second");
  Set(kWeb, "chkAllowWWWRemoteAccess", "0");
  fake.sound_devices().set_names({"First", "Second"});
  frmMain& m = Start();

  const std::string error = "The line is in use";
  EXPECT_EQ(SysJournal(), Entry("", "Opening Linewarden 1.0 Process", 0) +
                              Entry("", "Can't Init Tapi->" + error, 0));
  EXPECT_FALSE(m.IsFormLoaded("frmLine"));
  EXPECT_EQ(m.line(), nullptr);
  EXPECT_EQ(m.state().SoundDeviceIndex, 0);
  EXPECT_EQ(fake.channels().BoundCount(108), 0);

  fake.channels().Send(108, "HELLO");
  EXPECT_THAT(Sent(107), IsEmpty());
  fake.channels().Send(105, "OPEN_WEB");
  EXPECT_TRUE(m.IsFormLoaded("frmHTTP"));
  EXPECT_EQ(Get(kWeb, "chkAllowWWWRemoteAccess"), "1");
  fake.channels().Send(105, "GETSOUNDINDEX");
  EXPECT_EQ(m.state().SoundDeviceIndex, 1);
  fake.channels().Send(105, "UNLOAD");
  EXPECT_THAT(log_, ::testing::Contains("unloaded"));
}

TEST_F(ProcessControllerTest, SoundDeviceZeroIsReplacedByTheNameOfDeviceZero) {
  // Given "cmbSoundDev" = "0" and a later device with the same name as
  // device 0, expect the name stored, journalled with code 1, and the later
  // device chosen.
  fake.sound_devices().set_names({"Speakers", "Headset", "Speakers"});
  Set(kDevices, "cmbSoundDev", "0");
  frmMain& m = Start();
  EXPECT_EQ(Get(kDevices, "cmbSoundDev"), "Speakers");
  EXPECT_EQ(JournalCount(Entry("", "Speakers", 1)), 1);
  EXPECT_EQ(m.state().SoundDeviceIndex, 2);
}

TEST_F(ProcessControllerTest, TranslationFillsTwentyEntriesAsFarAsItGoes) {
  // Given the translation file named by "Select", expect its first 20
  // lines in TransText 1..20 whatever their line ends; a short file fills
  // only its lines, and a later shorter or missing file keeps the rest.
  std::filesystem::create_directories(home / "Trans");
  {
    std::ofstream out(home / "Trans/English", std::ios::binary);
    for (int i = 1; i <= 22; ++i)
      out << "Text " << i << (i % 2 ? "\r\n" : "\n");
  }
  {
    std::ofstream out(home / "Trans/Short", std::ios::binary);
    out << "Eins\r\n\r\nDrei";
  }
  Set("Language", "Select", "English");
  frmMain& m = Start();
  const auto& t = m.state().TransText;
  EXPECT_EQ(t[0], "");
  EXPECT_EQ(t[2], "Text 2");
  EXPECT_EQ(t[20], "Text 20");

  m.LoadTranslation(home / "Trans/Short");
  EXPECT_EQ(t[1], "Eins");
  EXPECT_EQ(t[2], "");
  EXPECT_EQ(t[3], "Drei");
  EXPECT_EQ(t[4], "Text 4");

  m.LoadTranslation(home / "Trans/Missing");
  EXPECT_EQ(t[1], "Eins");
}

TEST_F(ProcessControllerTest, JournalSwitchesFollowTheSettings) {
  // Given "chkLogSys" off (or not a number) and "chkLogWWW" on, expect no
  // system journal and the web journal switched on.
  for (const char* sys : {"0", "abc"}) {
    SCOPED_TRACE(sys);
    Set("Properties\\TabLog", "chkLogSys", sys);
    Set("Properties\\TabLog", "chkLogWWW", "2");
    frmMain& m = Start();
    EXPECT_EQ(SysJournal(), "");
    EXPECT_FALSE(m.state().LogSysOn);
    EXPECT_TRUE(m.state().LogWWWOn);
    EXPECT_TRUE(journal().LogWWWOn());
    main_.reset();
  }
}

TEST_F(ProcessControllerTest, OpenWebRestartsWithFreshOptionsAndCloseWebStops) {
  // Given web access off, expect OPEN_WEB to load the web server and store
  // the switch on, a second OPEN_WEB to restart it on the new port, and
  // CLOSE_WEB to unload it (once) and store the switch off.
  Set(kWeb, "chkAllowWWWRemoteAccess", "0");
  Set(kWeb, "txtWWWPort", "80");
  frmMain& m = Start();
  EXPECT_FALSE(m.IsFormLoaded("frmHTTP"));
  log_.clear();
  // Process commands are whole exact texts: near misses are ignored.
  for (const char* text : {"unload", "UNLOAD\r\n", " OPEN_WEB", "Open_Web"})
    fake.channels().Send(105, text);
  EXPECT_THAT(log_, IsEmpty());
  EXPECT_TRUE(m.IsFormLoaded("frmMain"));

  fake.channels().Send(105, "OPEN_WEB");
  EXPECT_THAT(log_, ElementsAre("frmHTTP.Load(80)"));
  EXPECT_EQ(m.RCWWWAllow, 0);  // read before the switch is stored
  EXPECT_EQ(Get(kWeb, "chkAllowWWWRemoteAccess"), "1");
  m.RCWWWStartPage = "Options";  // as the web server may set it

  Set(kWeb, "txtWWWPort", "8081");
  fake.channels().Send(105, "OPEN_WEB");
  EXPECT_THAT(log_, ElementsAre("frmHTTP.Load(80)", "frmHTTP.Unload",
                                "frmHTTP.Load(8081)"));
  EXPECT_EQ(m.RCWWWStartPage, "Calls");
  EXPECT_EQ(m.RCWWWAllow, 1);

  fake.channels().Send(105, "CLOSE_WEB");
  fake.channels().Send(105, "CLOSE_WEB");
  EXPECT_THAT(log_, ElementsAre("frmHTTP.Load(80)", "frmHTTP.Unload",
                                "frmHTTP.Load(8081)", "frmHTTP.Unload"));
  EXPECT_FALSE(m.IsFormLoaded("frmHTTP"));
  EXPECT_EQ(Get(kWeb, "chkAllowWWWRemoteAccess"), "0");
}

}  // namespace
}  // namespace lw
