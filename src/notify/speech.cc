#include "notify/speech.h"

#include <vector>

#include "base/message_text.h"
#include "base/paths.h"
#include "settings/call_options.h"

namespace lw {
namespace {

constexpr const char* kCommandSource = "uDiTTS_MessageArrived";

// A number line of a speech command: digits with an optional sign (and the
// other forms the settings accept). An empty line is no number.
template <typename Int, typename Convert>
std::optional<Int> NumberLine(const std::string& line, Convert convert) {
  if (line.find_first_not_of(' ') == std::string::npos) return std::nullopt;
  Int value = 0;
  if (convert(RegValue(line), value) != 0) return std::nullopt;
  return value;
}

// The file of "MakeWave". An absolute path is used as it is; a relative one
// lies below AppPath, its backslashes being the system's separators
// ("Greets\Hello.wav", "\Greets\Hello.wav"). A drive ("C:\temp\x.wav")
// or a network share ("\\host\x") names a place on the desktop
// application's machine that does not exist here: nullopt, rather than a
// file of that literal name. The path's bytes are the file name's bytes
// (UTF-8 from the desktop application); nothing is converted.
std::optional<std::string> WaveFilePath(const Journal& journal,
                                        const std::string& path) {
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') ||
                      (path[0] >= 'a' && path[0] <= 'z'));
  if (drive || path.starts_with("\\\\")) return std::nullopt;
  if (path.starts_with("/")) return path;
  const bool sub_path = path.starts_with("\\");
  return NativePath(journal.app_path(), sub_path ? path : "\\" + path);
}

}  // namespace

SpeechController::SpeechController(const Devices& devices, SettingsStore& store,
                                   Journal& journal)
    : devices_(devices), journal_(journal), reg_(store) {}

SpeechController::~SpeechController() = default;

void SpeechController::Load() {
  reg_.SetSubkey(kVoiceListSection);
  if (!reg_.KeyExists()) reg_.CreateKey();
  if (Voice_ == nullptr) {
    Voice_ = devices_.new_voice();
    Voice_->SetEvents({.EndStream = [this] { Voice_EndStream(); }});
  }
  for (const std::string& description : Voice_->GetVoices()) {
    reg_.SetRegistryValue(description, std::string(), REG_SZ);
  }
}

void SpeechController::Unload() {
  if (Voice_ == nullptr) return;
  Voice_->Speak("");
  Voice_.reset();
}

void SpeechController::HandleMessage(const std::string& text,
                                     int32_t sound_device_index) {
  std::vector<std::string> lines = SplitMessage(text);
  const std::string& command = lines[0];
  if (command == "TestTTSSay") {
    if (lines.size() < 4) return RejectCommand(command);
    auto voice = NumberLine<int32_t>(lines[2], OptionToInt32);
    auto rate = NumberLine<int16_t>(lines[3], OptionToInt16);
    if (!voice || !rate) return RejectCommand(command);
    TTSSetVoice(*voice);
    SetRate(*rate);
    SpeakIt(lines[1], sound_device_index);
  } else if (command == "Say") {
    if (lines.size() < 2) return RejectCommand(command);
    SpeakIt(lines[1], sound_device_index);
  } else if (command == "StopSay") {
    StopSpeak();
  } else if (command == "MakeWave") {
    if (lines.size() < 3) return RejectCommand(command);
    const std::optional<std::string> file = WaveFilePath(journal_, lines[2]);
    if (!file) {
      journal_.LogSys("Speech command \"MakeWave\" ignored: \"" +
                          JournalShown(lines[2]) +
                          "\" is a Windows path; give a path below the "
                          "application folder or an absolute path",
                      0, kCommandSource);
      return;
    }
    SaveTextToWav(lines[1], *file, sound_device_index);
  }
}

void SpeechController::RejectCommand(const std::string& command) {
  journal_.LogSys("Speech command \"" + command +
                      "\" ignored: missing or non-numeric lines",
                  0, kCommandSource);
}

void SpeechController::SpeakIt(const std::string& text, int32_t DeviceIndex) {
  SetOutput(DeviceIndex);
  SpeakText(text);
}

void SpeechController::StopSpeak() {
  // An empty text with purge only cuts off.
  if (Voice_ != nullptr) Voice_->Speak("");
}

void SpeechController::TTSSetVoice(int32_t voice) {
  if (Voice_ != nullptr) Voice_->SetVoice(voice);
}

void SpeechController::SetRate(int16_t rate) {
  if (Voice_ != nullptr) Voice_->SetRate(rate);
}

void SpeechController::SaveTextToWav(const std::string& text,
                                     const std::string& file,
                                     int32_t device_index) {
  if (text.empty() || Voice_ == nullptr) return;
  Voice_->SaveTextToWav(text, file);
  // Later speech goes to the sound device again.
  Voice_->SetOutput(device_index);
}

// The voice plays at 22 050 Hz 16-bit mono on local devices: selecting the
// device is all there is to do.
void SpeechController::SetOutput(int32_t index) {
  if (Voice_ != nullptr) Voice_->SetOutput(index);
}

void SpeechController::SpeakText(const std::string& text) {
  if (Voice_ != nullptr) Voice_->Speak(text);
}

// The end of a spoken announcement needs nothing more on the sound device;
// only the line controller's voice acts on its end (remote access).
void SpeechController::Voice_EndStream() {}

}  // namespace lw
