#include "controller/process_controller.h"

#include <fstream>
#include <utility>

#include "base/paths.h"
#include "base/trapped.h"
#include "callstore/call_recovery.h"
#include "line/line_controller.h"
#include "settings/call_options.h"

namespace lw {

namespace {

constexpr int32_t kChannelProc = 105;
constexpr int32_t kChannelTTS = 106;

constexpr const char* kWebSection = "RemoteAccess\\TabInternetAccess";
constexpr const char* kDevicesSection = "Properties\\TabDevices";

// Settings conversions as the line options make them; a value that cannot be
// converted (a missing one included) counts as 0 or False.
int16_t ToInt16(const RegValue& value) {
  int16_t n = 0;
  return OptionToInt16(value, n) == 0 ? n : 0;
}
int32_t ToInt32(const RegValue& value) {
  int32_t n = 0;
  return OptionToInt32(value, n) == 0 ? n : 0;
}
bool ToBoolean(const RegValue& value) {
  bool b = false;
  return OptionToBoolean(value, b) == 0 && b;
}

// Stores the calls that a crash cut off (their notes were left beside their
// recordings) before the web server or the line can touch the call store,
// with the wrap-up's options as the settings hold them.
void RecoverCallsCutOff(RegistryRoutines& reg, Clock& clock, Journal& journal,
                        Wave& wave, const std::string& app_path) {
  WrapUpOptions options;
  reg.SetSubkey("Answer\\TabDisconnectMode");
  options.list_calls_longer_than =
      ToInt32(reg.GetRegistryValue("txtListRecMoreThen"));
  reg.SetSubkey("Properties\\TabGeneral");
  options.list_messages_only =
      ToBoolean(reg.GetRegistryValue("chkListMessagesOnly"));
  CallStore store(app_path, clock, &journal);
  store.SetNumOfItemsInLast(
      ToInt32(reg.GetRegistryValue("txtlNumOfItemsInLast")));
  RecoverInterruptedCalls(store, options, wave, journal);
}

}  // namespace

ProcessController::ProcessController(const Devices& devices,
                                     SettingsStore& store, Journal& journal,
                                     std::string app_path, ProcessHooks hooks)
    : Reg(store),
      devices_(devices),
      store_(store),
      journal_(journal),
      hooks_(std::move(hooks)) {
  state_.AppPath = std::move(app_path);
}

ProcessController::~ProcessController() { Unload(); }

std::string ProcessController::ReadText(const char* section, const char* name) {
  Reg.SetSubkey(section);
  return RegValueText(Reg.GetRegistryValue(name));
}

void ProcessController::Load() {
  if (loaded_) return;
  loaded_ = true;
  Trapped(journal_, "frmMain:errForm_Load", [&] {
    process_channel_ = devices_.new_channel();
    speech_channel_ = devices_.new_channel();
    process_channel_->SetMessageArrived(
        [this](const std::string& text) { OnProcessMessage(text); });
    speech_channel_->SetMessageArrived(
        [this](const std::string& text) { OnSpeechMessage(text); });
    process_channel_->OpenChannel(kChannelProc);
    speech_channel_->OpenChannel(kChannelTTS);
    telephony_ = devices_.new_telephony();
    wave_ = devices_.new_wave();

    const std::string language = ReadText("Language", "Select");
    LoadTranslation(NativePathNoCase(state_.AppPath, "\\Trans\\" + language));

    if (hooks_.speech != nullptr) {
      hooks_.speech->Load();
      speech_loaded_ = true;
    }

    Reg.SetSubkey("Properties\\TabLog");
    state_.LogSysOn = ToInt16(Reg.GetRegistryValue("chkLogSys")) != 0;
    state_.LogWWWOn = ToInt16(Reg.GetRegistryValue("chkLogWWW")) != 0;
    journal_.SetSwitches(state_.LogSysOn, state_.LogWWWOn);
    journal_.LogSys("Opening " + std::string(kAppTitle) + " Process", 0, "");
    Trapped(journal_, "RecoverInterruptedCalls", [&] {
      RecoverCallsCutOff(Reg, devices_.clock, journal_, *wave_, state_.AppPath);
    });

    ReadWebOptions();
    Reg.SetSubkey(kWebSection);
    if (ToBoolean(Reg.GetRegistryValue("chkAllowWWWRemoteAccess"))) {
      LoadWeb();
    }

    const int32_t init = telephony_->LineInitialize();
    if (init != 0) {
      // No line at all; commands and the web server still work.
      journal_.LogSys("Can't Init Tapi->" + telephony_->GetErrorText(init), 0,
                      "");
      return;
    }
    journal_.LogSys("Init Tapi->" + telephony_->GetErrorText(0), 0, "");

    state_.AutoTimeOn = ReadText("Properties\\TabLineStat", "txtTimeOn");
    state_.AutoTimeOff = ReadText("Properties\\TabLineStat", "txtTimeOff");

    line_ = std::make_unique<LineController>(devices_, store_, journal_, state_,
                                             hooks_.speech);
    line_->Load();

    const std::string line_stat =
        ReadText("Properties\\TabLineStat", "cmbLineStat");
    if (line_stat == "0") {
      state_.LineStat = 0;
      line_->OpenLine();
    } else if (line_stat == "1") {
      state_.LineStat = 1;
    } else if (line_stat == "2") {
      state_.AutoMode = true;
      line_->OpenLine();
    }

    // First start: the setting names no device yet ("0"); it is given the
    // name of device 0, so the choice survives a change of the device list.
    std::string sound_device = ReadText(kDevicesSection, "cmbSoundDev");
    if (sound_device == "0") {
      sound_device = wave_->GetDeviceCaps(0);
      Reg.SetSubkey(kDevicesSection);
      Reg.SetRegistryValue("cmbSoundDev", sound_device, REG_SZ);
      journal_.LogSys(sound_device, 1, "");
    }
    state_.SoundDeviceIndex = FindWaveDevice(*wave_, sound_device);
  });
}

void ProcessController::Unload() {
  if (!loaded_) return;
  Trapped(journal_, "frmMain:errForm_Unload", [&] {
    if (line_) {
      line_->Unload();
      line_.reset();
    }
    UnloadWeb();
    if (speech_loaded_) {
      speech_loaded_ = false;
      hooks_.speech->Unload();
    }
  });
  loaded_ = false;
}

void ProcessController::LinesChanged() {
  if (line_) line_->OnLinesChanged();
}

bool ProcessController::IsFormLoaded(const std::string& name) const {
  if (name == "frmMain") return loaded_;
  if (name == "frmLine") return line_ != nullptr;
  if (name == "frmHTTP") return web_loaded_;
  if (name == "frmTTS") return speech_loaded_;
  return false;
}

void ProcessController::ReadWebOptions() {
  Reg.SetSubkey(kWebSection);
  RCWWWAllow = ToInt32(Reg.GetRegistryValue("chkAllowWWWRemoteAccess"));
  RCWWWPort = ToInt32(Reg.GetRegistryValue("txtWWWPort"));
  RCWWWProtect = ToInt32(Reg.GetRegistryValue("chkWWWProtect"));
  RCWWWUserName = RegValueText(Reg.GetRegistryValue("txtWWWUserName"));
  RCWWWPass = RegValueText(Reg.GetRegistryValue("txtWWWPass"));
  RCWWWStartPage = "Calls";
  RCWWWViewCalls = 1;
  RCWWWViewOptions = 0;
  RCWWWViewLog = "1";
}

void ProcessController::LoadTranslation(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return;
  // A line ends at CR LF, CR or LF; the last line needs no ending.
  for (int entry = 1; entry <= kTransTextCount; ++entry) {
    std::string line;
    int c = in.get();
    if (c == std::char_traits<char>::eof()) return;
    while (c != std::char_traits<char>::eof() && c != '\r' && c != '\n') {
      line.push_back(static_cast<char>(c));
      c = in.get();
    }
    if (c == '\r' && in.peek() == '\n') in.get();
    if (in.bad()) return;
    state_.TransText[entry] = std::move(line);
  }
}

int32_t ProcessController::FindWaveDevice(Wave& wave, const std::string& name) {
  int32_t found = 0;
  const int32_t count = wave.GetWaveDeviceCount();
  for (int32_t i = 0; i < count; ++i) {
    if (wave.GetDeviceCaps(i) == name) found = i;
  }
  return found;
}

void ProcessController::LoadWeb() {
  if (hooks_.web_io == nullptr && !hooks_.load_web) return;
  if (hooks_.web_io != nullptr) {
    web_ = std::make_unique<HttpServer>(
        *hooks_.web_io, devices_.clock, store_, journal_, state_.AppPath,
        WebOptions{RCWWWPort, RCWWWAllow, RCWWWProtect, RCWWWUserName,
                   RCWWWPass, RCWWWViewCalls, RCWWWViewLog});
    web_->Load();
  }
  web_loaded_ = true;
  if (hooks_.load_web) hooks_.load_web(*this);
}

void ProcessController::UnloadWeb() {
  if (!web_loaded_) return;
  web_loaded_ = false;
  web_.reset();
  if (hooks_.unload_web) hooks_.unload_web();
}

void ProcessController::OnProcessMessage(const std::string& text) {
  if (!loaded_) return;
  Trapped(journal_, "udiProc_MessageArrived", [&] {
    if (text == "UNLOAD") {
      Unload();
      if (hooks_.unloaded) hooks_.unloaded();
    } else if (text == "GETSOUNDINDEX") {
      state_.SoundDeviceIndex =
          FindWaveDevice(*wave_, ReadText(kDevicesSection, "cmbSoundDev"));
    } else if (text == "OPEN_WEB") {
      UnloadWeb();
      ReadWebOptions();
      LoadWeb();
      Reg.SetSubkey(kWebSection);
      Reg.SetRegistryValue("chkAllowWWWRemoteAccess", std::string("1"), REG_SZ);
    } else if (text == "CLOSE_WEB") {
      UnloadWeb();
      Reg.SetSubkey(kWebSection);
      Reg.SetRegistryValue("chkAllowWWWRemoteAccess", std::string("0"), REG_SZ);
    }
  });
}

void ProcessController::OnSpeechMessage(const std::string& text) {
  if (!loaded_ || !speech_loaded_) return;
  Trapped(journal_, "uDiTTS_MessageArrived",
          [&] { hooks_.speech->HandleMessage(text, state_.SoundDeviceIndex); });
}

}  // namespace lw
