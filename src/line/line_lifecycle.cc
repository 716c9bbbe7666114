// Choosing, opening and closing the line.
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

void frmLine::OpenLine() {
  if (!s_.loaded) return;
  Trapped(s_.journal, "LineOpen:ErrOpenLine", [&] {
    Telephony& tapi = *s_.Tapi1;
    const std::string wanted = ReadText(s_.Reg, kDevicesSection, "cmbModemDev");

    // Every device of that name is journalled; the last one is opened.
    int32_t chosen = 0;
    DeviceInfo info;
    if (!wanted.empty()) {
      const int32_t count = tapi.GetNumDevices();
      for (int32_t i = 0; i < count; ++i) {
        tapi.SetDeviceIndex(i);
        info = DeviceInfo{};
        tapi.GetDeviceCaps(info);
        if (info.Name == wanted) {
          chosen = i;
          s_.journal.LogSys(DeviceDetails(i, info), 0, "");
        }
      }
    }

    tapi.SetDeviceIndex(chosen);
    info = DeviceInfo{};
    tapi.GetDeviceCaps(info);
    s_.Reg.SetSubkey(kDevicesSection);
    s_.Reg.SetRegistryValue("cmbModemDev", info.Name, REG_SZ);

    s_.TapiCallerId = ReadText(s_.Reg, kCallerIdSection, "Tapi") == "1";
    s_.ModemCommandSet = ReadText(s_.Reg, kCallerIdSection, "cmbATCommands");

    // A line in modem mode waits with its telephony line closed and the
    // modem open on the serial port: it is open all the same.
    const bool waits_on_modem =
        !s_.TapiCallerId && s_.MSComm1 && s_.MSComm1->PortOpen();
    if (!tapi.IsLineOpen() && !waits_on_modem) OpenTheLine(chosen);
    if (s_.process.AutoMode) s_.tmrAutoMode->SetEnabled(true);
    SendLineStatus();
  });
}

void frmLine::OpenTheLine(int32_t index) {
  Trapped(s_.journal, "LineOpen:errOpenTheLine", [&] {
    Telephony& tapi = *s_.Tapi1;
    tapi.SetDeviceIndex(index);
    DeviceInfo info;
    tapi.GetDeviceCaps(info);
    s_.LineIndex = index;

    int32_t result = tapi.LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice);
    // Written on success too: the journal shows which device was opened.
    s_.journal.LogSys(tapi.GetErrorText(result), result,
                      "OpenLine:Tapi1.LineOpen(" + std::to_string(index) + ")");

    if (!s_.TapiCallerId) result = OpenModemSide(result);

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

void frmLine::CloseLine(bool bUnLoad) {
  if (!s_.loaded) return;
  Trapped(s_.journal, "CloseLine:errCloseLine", [&] {
    CloseTheLine();
    if (!bUnLoad) SendLineStatus();
  });
}

void frmLine::CloseTheLine() {
  if (!s_.loaded) return;
  EndCallBeforeClose();
  Trapped(s_.journal, "CloseLine:errCloseTheLine", [&] {
    Telephony& tapi = *s_.Tapi1;
    if (!s_.TapiCallerId) CloseModemSide();

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

}  // namespace lw
