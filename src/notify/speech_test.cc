#include "notify/speech.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

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
  std::vector<std::pair<std::string, RegValue>> VoiceList() {
    RegistryRoutines reg(store);
    return reg.EnumRegistryValues(HKEY_LOCAL_MACHINE,
                                  std::string(kKeyRoot) + "\\TTS51");
  }

  frmTTS tts_{fake.devices(), store, journal()};
};

TEST_F(SpeechTest, LoadListsInstalledVoicesInEngineOrder) {
  // given three installed voices and no "TTS51" section, expect the section
  // with one empty text value per voice, in order
  journal().SetSwitches(true, false);
  tts_.Load();
  EXPECT_TRUE(tts_.loaded());
  auto list = VoiceList();
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].first, "English");
  EXPECT_EQ(list[1].first, "Deutsch");
  EXPECT_EQ(list[2].first, "Francais");
  for (const auto& [name, value] : list) {
    EXPECT_EQ(value, RegValue(std::string())) << name;
  }
  // Loading again (a later start) keeps the same list.
  tts_.Unload();
  tts_.Load();
  EXPECT_EQ(VoiceList().size(), 3u);
  EXPECT_EQ(SysJournal(), "");
}

TEST_F(SpeechTest, NoVoicesLeaveSectionEmptyAndSpeechFailsSilently) {
  fake.set_voices({});
  tts_.Load();
  RegistryRoutines reg(store);
  reg.SetSubkey("TTS51");
  EXPECT_TRUE(reg.KeyExists());
  EXPECT_TRUE(VoiceList().empty());
  Message("Say\r\nhello");
  Message("TestTTSSay\r\nhello\r\n0\r\n0");
  Message("MakeWave\r\nhello\r\n" + home / "x.wav");
  EXPECT_TRUE(voice().spoken().empty());
  EXPECT_FALSE(std::filesystem::exists(home / "x.wav"));
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
  EXPECT_EQ(voice().voice(), 2);
  EXPECT_FALSE(voice().to_line());
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

TEST_F(SpeechTest, BadCommandLinesAreIgnoredAndJournalledOnce) {
  // given speech commands without their lines or with non-numbers, expect
  // nothing spoken or written and one journal line per message
  journal().SetSwitches(true, false);
  Load();
  const std::vector<std::string> bad = {
      "Say",
      "TestTTSSay\r\nhello",
      "TestTTSSay\r\nhello\r\n1",
      "TestTTSSay\r\nhello\r\none\r\n0",
      "TestTTSSay\r\nhello\r\n1\r\nfast",
      "TestTTSSay\r\nhello\r\n\r\n0",
      "TestTTSSay\r\nhello\r\n1\r\n40000",  // no 16-bit rate
      "MakeWave\r\nhello",
      "MakeWave\r\n\r\n" + home / "empty.wav",
  };
  for (const std::string& m : bad) Message(m);
  EXPECT_TRUE(voice().ops().empty());
  std::string journal = SysJournal();
  size_t lines = 0;
  for (size_t at = journal.find("\r\n"); at != std::string::npos;
       at = journal.find("\r\n", at + 2)) {
    ++lines;
  }
  EXPECT_EQ(lines, bad.size() - 1);  // an empty text is no error
  EXPECT_FALSE(std::filesystem::exists(home / "empty.wav"));
  EXPECT_NE(journal.find("14:03:22 : uDiTTS_MessageArrived->Speech command "
                         "\"TestTTSSay\" ignored: missing or non-numeric "
                         "lines(0)\r\n"),
            std::string::npos);
}

TEST_F(SpeechTest, MakeWaveFilesLieBelowTheHomeAndWindowsPathsAreRefused) {
  // given relative paths with either separator, expect the files below
  // AppPath; given a drive or a share, expect a journal line and no file
  journal().SetSwitches(true, false);
  Load();
  std::filesystem::create_directories(home / "Greets");
  for (const char* path : {"Greets\\a.wav", "\\Greets\\b.wav",
                           "C:\\temp\\x.wav", "c:/x.wav", "\\\\host\\x.wav"})
    Message(std::string("MakeWave\r\nhi\r\n") + path);
  EXPECT_TRUE(std::filesystem::exists(home / "Greets/a.wav"));
  EXPECT_TRUE(std::filesystem::exists(home / "Greets/b.wav"));
  EXPECT_EQ(voice().ops().size(), 4u);  // two files, each then the device
  const std::string journal = SysJournal();
  EXPECT_NE(journal.find("uDiTTS_MessageArrived->Speech command \"MakeWave\" "
                         "ignored: \"C:\\temp\\x.wav\" is a Windows path"),
            std::string::npos)
      << journal;
  EXPECT_EQ(std::count(journal.begin(), journal.end(), '\n'), 3);
}

TEST_F(SpeechTest, UnloadedWindowDoesNothing) {
  Message("Say\r\nhello");
  tts_.SpeakIt("hello", 0);
  tts_.StopSpeak();
  tts_.SetRate(3);
  tts_.TTSSetVoice(1);
  tts_.SaveTextToWav("hello", home / "u.wav", 0);
  EXPECT_EQ(fake.voice(0), nullptr);
  Load();
  tts_.SpeakIt("hello", 0);
  tts_.Unload();
  EXPECT_FALSE(tts_.loaded());
  EXPECT_EQ(fake.voice(0), nullptr);  // the voice was released
  tts_.SpeakIt("hello", 0);
  EXPECT_FALSE(std::filesystem::exists(home / "u.wav"));
}

}  // namespace
}  // namespace lw
