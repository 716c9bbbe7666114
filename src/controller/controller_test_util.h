// Shared pieces of the controller tests: a fresh home with a journal
// folder, an in-memory settings store written like the desktop application
// writes it, and the journal read back.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "devices/fake/fake_devices.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "journal/journal.h"
#include "line/speech_window.h"
#include "settings/registry_routines.h"
#include "temp_dir.h"

namespace lw::testing {

class ControllerHome {
 public:
  // The settings store lives in memory, or with `store_on_disk` in the
  // home's "registry.db".
  explicit ControllerHome(bool store_on_disk = false)
      : store(store_on_disk ? home / "registry.db" : std::string(":memory:")),
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
    for (const auto& entry :
         std::filesystem::directory_iterator(home / "Journal")) {
      const std::string name = entry.path().filename().string();
      if (name.size() < 8 || name.substr(name.size() - 8) != "_Sys.txt") {
        continue;
      }
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream text;
      text << in.rdbuf();
      all += text.str();
    }
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
    const std::string all = SysJournal();
    int n = 0;
    for (size_t at = all.find(part); at != std::string::npos;
         at = all.find(part, at + part.size())) {
      ++n;
    }
    return n;
  }

  Journal& journal() { return journal_; }

  FakeDevices fake;
  TempDir home;
  SqliteSettingsStore store;

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
  void TTSSetVoice(int32_t voice) override {
    log_.push_back("TTSSetVoice(" + std::to_string(voice) + ")");
  }
  void SetRate(int16_t rate) override {
    log_.push_back("SetRate(" + std::to_string(rate) + ")");
  }

 private:
  std::vector<std::string>& log_;
};

}  // namespace lw::testing
