// Shared pieces of the controller tests: a fresh home with a journal
// folder, a settings store written like the desktop application writes it
// (in memory unless the user brings its own), and the journal read back.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "call/speech_window.h"
#include "callstore/test_util.h"
#include "devices/fake/fake_devices.h"
#include "devices/memory_settings_store.h"
#include "journal/journal.h"
#include "settings/registry_routines.h"
#include "temp_dir.h"

namespace lw::testing {

class ControllerHome {
 public:
  explicit ControllerHome(SettingsStore* own_store = nullptr)
      : store(own_store != nullptr ? *own_store : memory_),
        journal_(fake.clock(), home.path()),
        reg_(store) {
    std::filesystem::create_directories(home / "Journal");
  }

  // A REG_SZ setting, its section created as needed.
  void Set(const std::string& section, const std::string& name,
           const std::string& value) {
    reg_.CreateKey(section);
    reg_.SetSubkey(section);
    reg_.SetRegistryValue(name, value, REG_SZ);
  }
  // A setting as text; "<missing>" when absent.
  std::string Get(const std::string& section, const std::string& name) {
    reg_.SetSubkey(section);
    RegValue v = reg_.GetRegistryValue(name);
    return IsEmpty(v) ? "<missing>" : RegValueText(v);
  }

  // Everything in the system journal ("" when nothing was written).
  std::string SysJournal() const {
    std::string all;
    for (const auto& e : std::filesystem::directory_iterator(home / "Journal"))
      if (e.path().string().ends_with("_Sys.txt")) all += ReadFile(e.path());
    return all;
  }
  // One journal entry as written at the fakes' start time.
  static std::string Entry(const std::string& source, const std::string& text,
                           int code) {
    return "14:03:22 : " + source + "->" + text + "(" + std::to_string(code) +
           ")\r\n";
  }
  // How often `part` occurs in the system journal.
  int JournalCount(const std::string& part) const {
    return static_cast<int>(Count(SysJournal(), part));
  }

  Journal& journal() { return journal_; }

  FakeDevices fake;
  TempDir home;

 private:
  MemorySettingsStore memory_;

 public:
  SettingsStore& store;

 private:
  Journal journal_;
  RegistryRoutines reg_;
};

// A speech window that writes what it was asked into a shared log.
class LoggingSpeechWindow : public SpeechWindow {
 public:
  explicit LoggingSpeechWindow(std::vector<std::string>& log) : log_(log) {}
  void Load() override { log_.push_back("frmTTS.Load"); }
  void Unload() override { log_.push_back("frmTTS.Unload"); }
  void HandleMessage(const std::string& text, int32_t device) override {
    log_.push_back("TTS(" + text + "," + std::to_string(device) + ")");
  }
  void SpeakIt(const std::string& text, int32_t device) override {
    log_.push_back("SpeakIt(" + text + "," + std::to_string(device) + ")");
  }
  void StopSpeak() override { log_.push_back("StopSpeak"); }
  void TTSSetVoice(int32_t) override {}
  void SetRate(int16_t) override {}

 private:
  std::vector<std::string>& log_;
};

}  // namespace lw::testing
