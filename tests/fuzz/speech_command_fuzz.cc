// Speech commands arrive on channel 106 from any program that can bind it.
// Splitting a message must accept any bytes, and joining its lines again
// must give back the message exactly. Any text must be handled or ignored
// without a crash; a text that is none of the four commands leaves the
// voice untouched, and a test of the voice sets voice and rate before it
// speaks, or does nothing at all.
#include <memory>

#include "base/message_text.h"
#include "fuzz_home.h"
#include "notify/speech.h"

using lw::fuzz::Check;

namespace {

// The fake voice writes real files for "MakeWave"; the path comes from the
// input, so here the file is only counted.
class NoFileVoice : public lw::FakeVoice {
 public:
  using FakeVoice::FakeVoice;
  int32_t SaveTextToWav(const std::string&, const std::string&) override {
    ++files;
    return 0;
  }
  int files = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text = lw::fuzz::Text(data, size);
  const std::vector<std::string> lines = lw::SplitMessage(text);
  Check(!lines.empty() && lw::JoinFields(lines) == text);
  for (const std::string& line : lines)
    Check(line.find("\r\n") == std::string::npos);

  static lw::fuzz::FuzzProcess p({"Journal"});
  static NoFileVoice* voice = nullptr;
  static lw::Devices devices = [] {
    lw::Devices d = p.fake.devices();
    d.new_voice = [] {
      auto v = std::make_unique<NoFileVoice>(
          p.fake.clock(), std::vector<std::string>{"Fake Voice", "Other"});
      voice = v.get();
      return v;
    };
    return d;
  }();
  static lw::SpeechController speech(devices, p.store, p.journal);
  if (!speech.loaded()) speech.Load();
  voice->ClearOps();
  const int files = voice->files;
  speech.HandleMessage(text, 1);

  const std::string& command = lines[0];
  const bool known = command == "TestTTSSay" || command == "Say" ||
                     command == "StopSay" || command == "MakeWave";
  const auto& ops = voice->ops();
  Check(known || (ops.empty() && voice->files == files));
  Check(command != "TestTTSSay" || ops.empty() ||
        (ops.size() >= 3 && ops[0].rfind("SetVoice(", 0) == 0));
  return 0;
}
