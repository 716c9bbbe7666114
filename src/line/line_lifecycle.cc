// Choosing, opening and closing the line; a line lost and back; the calls
// serial caller-ID mode announces.
#include <memory>
#include <string>

#include "base/paths.h"
#include "base/trapped.h"
#include "line/line_controller.h"

namespace lw {

namespace {

constexpr const char* kDevicesSection = "Properties\\TabDevices";
constexpr const char* kCallerIdSection = "Properties\\TabDevices\\CallerID";
constexpr const char* kGeneralSection = "Properties\\TabGeneral";

std::string ReadText(RegistryRoutines& reg, const char* section,
                     const char* name) {
  reg.SetSubkey(section);
  return RegValueText(reg.GetRegistryValue(name));
}

const char* YesNo(bool value) { return value ? "Yes" : "No"; }

// The journal text describing a device found by its name.
std::string DeviceDetails(int32_t index, const DeviceInfo& info) {
  constexpr const char* kIndent = "                          ";  // 26 blanks
  std::string text = "Device Details -";
  text += "\r\n";
  text += kIndent;
  text += "Line Index: " + std::to_string(index) + "\r\n";
  text += kIndent;
  text += "Device Name: " + info.Name + "\r\n";
  text += kIndent;
  text += std::string("Tapi Capability: ") + YesNo(info.TapiCapable) + "\r\n";
  text += kIndent;
  text += std::string("Voice Capability: ") + YesNo(info.VoiceCapable) + "\r\n";
  text += kIndent;
  text += std::string("Monitor Digits: ") + YesNo(info.MonitorDigits);
  return text;
}

}  // namespace

void LineController::OpenLine() {
  if (!s_.loaded) return;
  Trapped(s_.journal, "LineOpen:ErrOpenLine", [&] {
    Telephony& tapi = *s_.telephony;
    std::string wanted = ReadText(s_.Reg, kDevicesSection, "cmbModemDev");
    // The name written in place of a missing device still stands for it.
    if (!wanted_device_.empty() && wanted == fallback_device_)
      wanted = wanted_device_;

    // Every device of that name is journalled; the last one is opened.
    int32_t chosen = 0;
    bool found = false;
    DeviceInfo info;
    if (!wanted.empty()) {
      const int32_t count = tapi.GetNumDevices();
      for (int32_t i = 0; i < count; ++i) {
        tapi.SetDeviceIndex(i);
        info = DeviceInfo{};
        tapi.GetDeviceCaps(info);
        if (info.Name == wanted) {
          chosen = i;
          found = true;
          s_.journal.LogSys(DeviceDetails(i, info), 0, "");
        }
      }
    }

    tapi.SetDeviceIndex(chosen);
    info = DeviceInfo{};
    tapi.GetDeviceCaps(info);
    s_.Reg.SetSubkey(kDevicesSection);
    s_.Reg.SetRegistryValue("cmbModemDev", info.Name, REG_SZ);
    if (!wanted.empty() && !found) {
      // A modem plugged in later takes over once it is listed.
      s_.journal.LogSys("The line device " + wanted + " is missing: " +
                            info.Name + " is used until it is listed",
                        0, "OpenLine");
      wanted_device_ = wanted;
      fallback_device_ = info.Name;
    } else if (wanted_device_ != wanted) {
      wanted_device_.clear();
    }

    // A line switched on in the other mode is closed first, so that it
    // opens in the mode now set.
    const bool wants_modem = ReadText(s_.Reg, kCallerIdSection, "Tapi") != "1";
    if (LineSwitchedOn() && wants_modem != serial_caller_id_->wanted())
      CloseTheLine();
    if (!LineSwitchedOn()) OpenTheLine(chosen);
    if (s_.process.AutoMode) auto_mode_.SetRunning(true);
    SendLineStatus();
  });
}

void LineController::OpenTheLine(int32_t index) {
  Trapped(s_.journal, "LineOpen:errOpenTheLine", [&] {
    Telephony& tapi = *s_.telephony;
    tapi.SetDeviceIndex(index);
    DeviceInfo info;
    tapi.GetDeviceCaps(info);
    s_.LineIndex = index;
    open_device_ = info.Name;
    if (open_device_ == wanted_device_) wanted_device_.clear();

    int32_t result = tapi.LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice);
    // Written on success too: the journal shows which device was opened.
    s_.journal.LogSys(tapi.GetErrorText(result), result,
                      "OpenLine:Tapi1.LineOpen(" + std::to_string(index) + ")");

    result = serial_caller_id_->Open(
        ReadText(s_.Reg, kCallerIdSection, "Tapi") != "1", result,
        ReadText(s_.Reg, kCallerIdSection, "cmbATCommands"));

    if (result != 0) {
      s_.process.LineStat = 1;
      return;
    }
    s_.process.LineStat = 0;
    if (ReadText(s_.Reg, kGeneralSection, "chkModemSoundControl") == "1") {
      sounds_.PlayLineOpenBeep(
          NativePathNoCase(s_.process.AppPath, "\\Beep.wav"));
    }
  });
}

void LineController::CloseLine(bool unloading) {
  if (!s_.loaded) return;
  Trapped(s_.journal, "CloseLine:errCloseLine", [&] {
    CloseTheLine();
    s_.LineLost = false;
    if (!unloading) SendLineStatus();
  });
}

void LineController::CloseTheLine() {
  if (!s_.loaded) return;
  // Serial caller-ID mode ends first, so that a call ended now leaves the modem
  // where it is.
  Trapped(s_.journal, "CloseLine:errCloseTheLine",
          [&] { serial_caller_id_->Close(); });
  EndCallBeforeClose();
  Trapped(s_.journal, "CloseLine:errCloseTheLine", [&] {
    Telephony& tapi = *s_.telephony;

    const int32_t closed = tapi.LineClose();
    if (closed != 0) {
      s_.journal.LogSys(tapi.GetErrorText(closed), closed,
                        "CloseLine:Tapi1.LineClose");
    }
    const int32_t shut = tapi.LineShutdown();
    if (shut != 0) {
      s_.journal.LogSys(tapi.GetErrorText(shut), shut,
                        "CloseLine:Tapi1.LineShutdown");
    }
    s_.process.LineStat = 1;
    s_.journal.LogSys(tapi.GetErrorText(shut), shut, "CloseLine");
  });
}

bool LineController::LineSwitchedOn() {
  return s_.telephony->IsLineOpen() || serial_caller_id_->on() || s_.LineLost;
}

void LineController::OnLineLost() {
  if (!s_.loaded || s_.LineLost) return;
  Trapped(s_.journal, "Tapi_LineLost", [&] {
    s_.journal.LogSys(
        "Line " + DeviceIndexText() + " lost: closed until it is back", 0,
        "Tapi_LineLost");
    CloseTheLine();
    s_.LineLost = true;
    SendLineStatus();
  });
}

void LineController::OnLineBack() {
  if (!s_.loaded || !s_.LineLost) return;
  s_.LineLost = false;
  s_.journal.LogSys("Line " + DeviceIndexText() + " back: opened again", 0,
                    "Tapi_LineBack");
  OpenLine();
}

void LineController::OnLinesChanged() {
  if (!s_.loaded) return;
  Trapped(s_.journal, "LinesChanged", [&] {
    // Devices listed ahead of the open one move it down the list.
    const int32_t index = FindDevice(open_device_);
    if (index >= 0 && index != s_.telephony->DeviceIndex()) {
      s_.telephony->SetDeviceIndex(index);
      s_.LineIndex = index;
      SendLineStatus();
    }
  });
  SwitchToWantedLineWhenIdle();
}

int32_t LineController::FindDevice(const std::string& name) {
  Telephony& tapi = *s_.telephony;
  const int32_t current = tapi.DeviceIndex();
  int32_t found = -1;
  for (int32_t i = 0; !name.empty() && i < tapi.GetNumDevices(); ++i) {
    tapi.SetDeviceIndex(i);
    DeviceInfo info;
    tapi.GetDeviceCaps(info);
    if (info.Name == name) found = i;
  }
  tapi.SetDeviceIndex(current);
  return found;
}

void LineController::SwitchToWantedLineWhenIdle() {
  if (wanted_device_.empty()) return;
  // Posted: the line is not closed inside the event or the backend's
  // callback that got here.
  s_.devices.clock.Post([this, alive = std::weak_ptr<bool>(alive_)] {
    if (!alive.expired()) SwitchToWantedLine();
  });
}

void LineController::SwitchToWantedLine() {
  if (!s_.loaded || wanted_device_.empty() || !LineSwitchedOn()) return;
  // A call in progress keeps its line; the switch waits for its end.
  if (s_.in_call || call_.wrap_up_due || s_.telephony->IsCallActive()) return;
  if (FindDevice(wanted_device_) < 0) return;
  Trapped(s_.journal, "LinesChanged", [&] {
    s_.journal.LogSys("The line device " + wanted_device_ +
                          " is listed now: it replaces " + open_device_,
                      0, "LinesChanged");
    CloseTheLine();
    s_.LineLost = false;
    OpenLine();
  });
}

void LineController::MakeSerialCallerIdMode() {
  SerialCallerIdEvents events;
  // Pick-up detection measures the gap after the last ring, the modem's
  // rings included.
  events.Ring = [this] { call_.RingGapTicks = 0; };
  events.IncomingCall = [this] { OnModemIncomingCall(); };
  events.CallerID = [this](const std::string& name, const std::string& number) {
    OnModemCallerId(name, number);
  };
  events.CallerGone = [this] { OnModemCallerGone(); };
  events.PortChanged = [this](bool hears) { ModemPortChanged(hears); };
  serial_caller_id_ = std::make_unique<SerialCallerIdMode>(
      *s_.telephony, s_.devices.new_serial_port(), s_.devices.clock, s_.journal,
      s_.process.AppPath, std::move(events));
}

void LineController::ModemPortChanged(bool hears) {
  s_.process.LineStat = hears ? 0 : 1;
  SendLineStatus();
}

void LineController::OnModemIncomingCall() { IncomingCall("Comm_"); }

void LineController::OnModemCallerId(const std::string& name,
                                     const std::string& number) {
  CallerIdentified(name, number, "Comm_");
}

void LineController::OnModemCallerGone() {
  Trapped(s_.journal, "ErrComm_Idle", [&] {
    s_.in_call = false;
    s_.journal.LogSys("Comm_Idle(" + std::to_string(s_.LineIndex) + ")", 0, "");
    s_.journal.LogSys("Comm_Idle", 0, "Comm_Idle(" + DeviceIndexText() + ")");
  });
  if (call_.wrap_up_due) WrapUpCall("Comm_Idle");
  SwitchToWantedLineWhenIdle();
}

}  // namespace lw
