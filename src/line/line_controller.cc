#include "line/line_controller.h"

#include "base/message_text.h"
#include "base/trapped.h"
#include "callstore/wave_formats.h"

namespace lw {

namespace {
constexpr const char* kOutboxSection = "Forward\\Outbox";
}  // namespace

LineController::LineController(const Devices& devices, SettingsStore& store,
                               Journal& journal, ProcessState& process,
                               SpeechWindow* speech)
    : s_(devices, store, journal, process, speech),
      auto_mode_(devices.clock, journal, process,
                 {.InCall = [this] { return s_.in_call; },
                  .SwitchedOn = [this] { return LineSwitchedOn(); },
                  .Switch =
                      [this](bool on) {
                        if (on) {
                          OpenLine();
                        } else {
                          CloseLine(false);
                        }
                      }}),
      recorder_(*this, devices.clock),
      machine_(*this, recorder_),
      screening_(*this, machine_, devices.clock),
      remote_(*this, machine_, recorder_, screening_, devices.clock),
      sounds_(*this, speech),
      forwarding_(*this, devices.clock) {
  s_.hooks.StartRemoteAccess = [this] { remote_.Start(); };
  s_.hooks.RemoteAccessPlayDone = [this] { remote_.PlayDone(); };
  s_.hooks.MonitorDigit = [this](const std::string& digit) {
    remote_.MonitorDigit(digit);
  };
}

LineController::~LineController() {
  if (s_.loaded) Unload();
}

void LineController::Load() {
  Trapped(s_.journal, "errForm_Load", [&] {
    const Devices& d = s_.devices;

    // The result of the initialisation does not matter here: the process
    // controller has already found telephony working, and LineOpen
    // initialises again on its own after a shutdown.
    s_.telephony = d.new_telephony();
    s_.telephony->LineInitialize();
    s_.line_wave = d.new_wave();
    s_.line_wave->Initialize();
    s_.WavePlayer = d.new_wave();
    s_.WavePlayer->Initialize();
    MakeSerialCallerIdMode();
    sounds_.SetPlayer(s_.WavePlayer.get());
    forwarding_.SetMail(d.new_mail());
    if (d.new_webhook) forwarding_.SetWebhook(d.new_webhook());
    auto_mode_.Load();

    s_.Store =
        std::make_unique<CallStore>(s_.process.AppPath, d.clock, &s_.journal);
    WireCallEvents();

    LoadCallOptions();
    s_.LineVoice = d.new_voice();
    s_.LineVoice->SetEvents({.EndStream = [this] {
      screening_.SpeechEnded();
      remote_.Voice_EndStream();
    }});
    GetOptions();
    OpenOutbox();

    channels_.Bind(d, [this](const std::string& text) { OnLineCommand(text); });
    s_.loaded = true;
  });
}

void LineController::OpenOutbox() {
  // "txtOutboxRetrySeconds" (not shown by the desktop application) shortens
  // the first wait after a failed attempt, for tests.
  Outbox::Timing timing;
  s_.Reg.SetSubkey(kOutboxSection);
  double seconds = 0;
  if (OptionToDouble(s_.Reg.GetRegistryValue("txtOutboxRetrySeconds"),
                     seconds) == 0 &&
      seconds > 0 && seconds * 1000 < timing.first_retry_ms)
    timing.first_retry_ms = static_cast<uint32_t>(seconds * 1000);
  forwarding_.OpenOutbox(timing);
}

void LineController::Unload() {
  if (!s_.loaded) return;
  Trapped(s_.journal, "errForm_Unload", [&] {
    auto_mode_.Unload();
    // No call outlives the line: its timers stop with it.
    TimerOff(s_.ring_gap_timer.get());
    recorder_.StopLimits();
    // Not unloading: the desktop application learns that the line is off.
    CloseLine(false);
    if (s_.line_wave) s_.line_wave->Terminate();
    if (s_.WavePlayer) s_.WavePlayer->Terminate();
    if (serial_caller_id_) serial_caller_id_->Close();
  });
  s_.loaded = false;
}

void LineController::SendLineStatus() {
  if (!s_.telephony) return;
  channels_.SendText(
      kChannelOut,
      JoinFields({"LineStatus", std::to_string(s_.telephony->DeviceIndex()),
                  std::to_string(s_.process.LineStat),
                  BoolText(s_.process.AutoMode)}));
}

}  // namespace lw

namespace lw {

std::string LineController::DeviceIndexText() {
  return s_.telephony ? std::to_string(s_.telephony->DeviceIndex()) : "0";
}

int32_t LineController::PlayToLine(const std::string& file) {
  constexpr const char* kPlaySource = "PlayToLine:Wave1.StartPlayACM";
  constexpr int32_t kPromptSizeValue = 800;
  int32_t result = -1;
  Trapped(s_.journal, "PlayToLine", [&] {
    const int32_t device = s_.telephony->GetDeviceID(kDeviceClassWaveOut);
    result = s_.line_wave->StartPlayACM(file, LineWaveFormat(), device,
                                        kPromptSizeValue);
    const std::string text = s_.line_wave->GetPlayErrorText(result);
    s_.journal.LogSys(text, result, kPlaySource);
    if (result != 0) s_.journal.LogSys(text, result, kPlaySource);
  });
  return result;
}

int32_t LineController::SpeakOnLine(const std::string& text) {
  int32_t result = -1;
  Trapped(s_.journal, "SpeakOnLine", [&] {
    s_.LineVoice->SetLineOutput(s_.telephony->GetDeviceID(kDeviceClassWaveOut));
    result = s_.LineVoice->Speak(text);
  });
  return result;
}

void LineController::StopAllSound() {
  Trapped(s_.journal, "StopAllSound", [&] {
    StopPlayAndRecord(*s_.line_wave);
    if (s_.LineVoice) s_.LineVoice->Speak("");
  });
}

int32_t LineController::MonitorDigits(bool on) {
  return s_.telephony->LineMonitorDigits(on);
}

void LineController::SendText(int32_t channel, const std::string& text) {
  channels_.SendText(channel, text);
}

}  // namespace lw
