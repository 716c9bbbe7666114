// Speech commands arrive on channel 106 from any program that can bind it.
// Any text must be handled or ignored without a crash; a text that is none
// of the four commands leaves the voice untouched, and a command with
// missing or non-numeric lines never reaches the voice half-way.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "base/message_text.h"
#include "devices/fake/fake_devices.h"
#include "drivers/sqlite/sqlite_settings_store.h"
#include "fuzz_home.h"
#include "journal/journal.h"
#include "notify/speech.h"

namespace {

// The fake voice writes real files for "MakeWave"; the path comes from the
// input, so here the file is only noted.
class NoFileVoice : public lw::FakeVoice {
 public:
  using FakeVoice::FakeVoice;
  int32_t SaveTextToWav(const std::string&, const std::string&) override {
    ++files_;
    return 0;
  }
  int files() const { return files_; }

 private:
  int files_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzHome home({"Journal"});
  static lw::FakeDevices fake;
  static lw::SqliteSettingsStore store(":memory:");
  static lw::Journal journal(fake.clock(), home.path());
  static NoFileVoice* voice = nullptr;
  static lw::Devices devices = [] {
    lw::Devices d = fake.devices();
    d.new_voice = [] {
      auto v = std::make_unique<NoFileVoice>(
          fake.clock(), std::vector<std::string>{"Fake Voice", "Other"});
      voice = v.get();
      return v;
    };
    return d;
  }();
  static lw::frmTTS speech(devices, store, journal);
  if (!speech.loaded()) speech.Load();

  const std::string text(reinterpret_cast<const char*>(data), size);
  voice->ClearOps();
  const int files = voice->files();
  speech.HandleMessage(text, 1);

  const std::string command = lw::SplitMessage(text)[0];
  const bool known = command == "TestTTSSay" || command == "Say" ||
                     command == "StopSay" || command == "MakeWave";
  if (!known && (!voice->ops().empty() || voice->files() != files))
    std::abort();
  // A test of the voice sets voice and rate before it speaks, or does
  // nothing at all.
  if (command == "TestTTSSay" && !voice->ops().empty() &&
      (voice->ops().size() < 3 || voice->ops()[0].rfind("SetVoice(", 0) != 0))
    std::abort();
  return 0;
}
