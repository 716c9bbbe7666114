#include "controller/process_controller.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "controller/controller_test_util.h"
#include "drivers/simline/simulated_line.h"

namespace lw {
namespace {

using testing::ControllerHome;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ProcessControllerTest : public ::testing::Test, public ControllerHome {
 protected:
  ProcessControllerTest() {
    Set("Properties\\TabLog", "chkLogSys", "1");
    Set("Properties\\TabDevices\\CallerID", "Tapi", "1");
  }

  // The web server's loading and unloading are logged.
  ProcessController& Start() {
    ProcessHooks hooks;
    hooks.speech = &speech_;
    hooks.load_web = [this](ProcessController&) {
      log_.push_back("frmHTTP.Load");
    };
    hooks.unload_web = [this] { log_.push_back("frmHTTP.Unload"); };
    hooks.unloaded = [this] { log_.push_back("unloaded"); };
    main_ = std::make_unique<ProcessController>(
        fake.devices(), store, journal(), home.path(), std::move(hooks));
    main_->Load();
    return *main_;
  }

  std::vector<std::string> log_;
  testing::LoggingSpeechWindow speech_{log_};
  std::unique_ptr<ProcessController> main_;
};

TEST_F(ProcessControllerTest, FailedTelephonyLeavesNoLineButCommandsWork) {
  // Given LineInitialize failing, expect the "Can't Init Tapi" line, no
  // line controller, the sound device left at 0, and channel 105 working.
  fake.line().faults().initialize_result = kSimLineDeviceBusy;
  Set("Properties\\TabLineStat", "cmbLineStat", "0");
  Set("Properties\\TabDevices", "cmbSoundDev", "Second");
  fake.sound_devices().set_names({"First", "Second"});
  ProcessController& m = Start();
  EXPECT_EQ(SysJournal(),
            Entry("", "Opening Linewarden 1.0 Process", 0) +
                Entry("", "Can't Init Tapi->The line is in use", 0));
  EXPECT_EQ(m.line(), nullptr);
  EXPECT_EQ(m.state().SoundDeviceIndex, 0);
  fake.channels().Send(108, "HELLO");
  EXPECT_THAT(fake.channels().Sent(107), IsEmpty());
  // Process commands are whole exact texts: near misses are ignored.
  for (const char* text : {"unload", "UNLOAD\r\n", " OPEN_WEB", "Open_Web"})
    fake.channels().Send(105, text);
  EXPECT_THAT(log_, ElementsAre("frmTTS.Load"));
  fake.channels().Send(105, "GETSOUNDINDEX");
  EXPECT_EQ(m.state().SoundDeviceIndex, 1);
  fake.channels().Send(105, "UNLOAD");
  EXPECT_THAT(log_, ::testing::Contains("unloaded"));
}

TEST_F(ProcessControllerTest, TranslationFillsTwentyEntriesAsFarAsItGoes) {
  // Given the translation file named by "Select", expect its first 20
  // lines in TransText 1..20 whatever their line ends; a short file fills
  // only its lines, and a missing file keeps the rest.
  std::string english;
  for (int i = 1; i <= 22; ++i)
    english += "Text " + std::to_string(i) + (i % 2 ? "\r\n" : "\n");
  testing::WriteFile(home / "Trans/English", english);
  testing::WriteFile(home / "Trans/Short", "Eins\r\n\r\nDrei");
  Set("Language", "Select", "English");
  ProcessController& m = Start();
  const auto& t = m.state().TransText;
  EXPECT_EQ(t[0] + t[2] + "|" + t[20], "Text 2|Text 20");
  m.LoadTranslation(home / "Trans/Short");
  m.LoadTranslation(home / "Trans/Missing");
  EXPECT_EQ(t[1] + "|" + t[2] + "|" + t[3] + "|" + t[4], "Eins||Drei|Text 4");
}

}  // namespace
}  // namespace lw
