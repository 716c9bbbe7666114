#include "notify/speech.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "controller/controller_test_util.h"

namespace lw {
namespace {

class SpeechTest : public ::testing::Test, public testing::ControllerHome {
 protected:
  SpeechTest() { fake.set_voices({"English", "Deutsch", "Francais"}); }

  FakeVoice& voice() { return *fake.voice(0); }
  void Load() {
    tts_.Load();
    ASSERT_NE(fake.voice(0), nullptr);
    voice().ClearOps();
  }
  void Message(const std::string& text, int32_t sound_device = 1) {
    tts_.HandleMessage(text, sound_device);
  }

  SpeechController tts_{fake.devices(), store, journal()};
};

TEST_F(SpeechTest, LoadListsInstalledVoicesInEngineOrder) {
  // given three installed voices and no "TTS51" section, expect the section
  // with one empty text value per voice, in order
  journal().SetSwitches(true, false);
  tts_.Load();
  EXPECT_TRUE(tts_.loaded());
  const std::vector<std::pair<std::string, RegValue>> expected = {
      {"English", std::string()},
      {"Deutsch", std::string()},
      {"Francais", std::string()}};
  EXPECT_EQ(RegistryRoutines(store).EnumRegistryValues(
                HKEY_LOCAL_MACHINE, std::string(kKeyRoot) + "\\TTS51"),
            expected);
  EXPECT_EQ(SysJournal(), "");
}

TEST_F(SpeechTest, CommandsSetVoiceRateAndDeviceThenSpeak) {
  // given "Say" and "TestTTSSay" (one voice out of range), expect the
  // settings first, the device of the message, then the text
  Load();
  Message("Say\r\nA call from 5551234", 2);
  Message("TestTTSSay\r\nTesting\r\n2\r\n-5", 1);
  Message("TestTTSSay\r\nAgain\r\n7\r\n0", 1);
  EXPECT_EQ(voice().ops(),
            (std::vector<std::string>{
                "SetOutput(2)", "Speak(A call from 5551234)", "SetVoice(2)",
                "SetRate(-5)", "SetOutput(1)", "Speak(Testing)", "SetVoice(7)",
                "SetRate(0)", "SetOutput(1)", "Speak(Again)"}));
}

TEST_F(SpeechTest, SayAndStopSayCutOffTheAnnouncementWithoutItsEnd) {
  // given an announcement still being spoken, expect "Say" to cut it off
  // and speak the new text (only that one ends), and "StopSay" to cut off
  // with no late end
  Load();
  voice().set_speak_ms(3000);
  tts_.SpeakIt("Incoming call", 0);
  Message("Say\r\nHello there", 0);
  EXPECT_EQ(voice().spoken(),
            (std::vector<std::string>{"Incoming call", "Hello there"}));
  Message("StopSay");
  EXPECT_FALSE(voice().IsSpeaking());
  EXPECT_EQ(voice().ops().back(), "Speak()");
  fake.clock().Advance(5000);
  EXPECT_FALSE(voice().FinishSpeaking());
}

TEST_F(SpeechTest, BadCommandsAreJournalledOnceAndDoNothing) {
  // given speech commands without their lines, with non-numbers or with a
  // Windows path to write to, expect nothing spoken or written and one
  // journal line each; a path with a leading separator lies below AppPath
  journal().SetSwitches(true, false);
  Load();
  const std::vector<std::string> bad = {
      "Say",
      "TestTTSSay\r\nhello\r\none\r\n0",
      "TestTTSSay\r\nhello\r\n1\r\n40000",  // no 16-bit rate
      "MakeWave\r\nhi\r\nC:\\temp\\x.wav",
      "MakeWave\r\nhi\r\n\\\\host\\x.wav",
  };
  for (const std::string& m : bad) Message(m);
  Message("MakeWave\r\n\r\n" + home / "empty.wav");  // no error, no file
  EXPECT_TRUE(voice().ops().empty());
  const std::string journal = SysJournal();
  EXPECT_EQ(
      static_cast<size_t>(std::count(journal.begin(), journal.end(), '\n')),
      bad.size());
  EXPECT_NE(journal.find("14:03:22 : uDiTTS_MessageArrived->Speech command "
                         "\"TestTTSSay\" ignored: missing or non-numeric "
                         "lines(0)\r\n"),
            std::string::npos);
  EXPECT_NE(journal.find("\"C:\\temp\\x.wav\" is a Windows path"),
            std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(home / "empty.wav"));

  std::filesystem::create_directories(home / "Greets");
  Message("MakeWave\r\nhi\r\n\\Greets\\b.wav");
  EXPECT_TRUE(std::filesystem::exists(home / "Greets/b.wav"));
}

}  // namespace
}  // namespace lw
