#include "line/line_controller.h"

#include "base/message_text.h"
#include "base/trapped.h"
#include "notify/forwarding.h"

namespace lw {

namespace {

constexpr uint32_t kAutoModeIntervalMs = 1000;

}  // namespace

frmLine::frmLine(const Devices& devices, SettingsStore& store, Journal& journal,
                 ProcessState& process, SpeechWindow* speech)
    : s_(devices, store, journal, process, speech) {}

frmLine::~frmLine() {
  if (s_.loaded) Unload();
}

void frmLine::Load() {
  Trapped(s_.journal, "errForm_Load", [&] {
    const Devices& d = s_.devices;

    // The result of the initialisation does not matter here: the process
    // controller has already found telephony working, and LineOpen
    // initialises again on its own after a shutdown.
    s_.Tapi1 = d.new_telephony();
    s_.Tapi1->LineInitialize();
    s_.Wave1 = d.new_wave();
    s_.Wave1->Initialize();
    s_.WavePlayer = d.new_wave();
    s_.WavePlayer->Initialize();
    s_.MSComm1 = d.new_serial_port();
    s_.Mail1 = d.new_mail();
    WireForwarding(s_);
    s_.tmrAutoMode = d.clock.CreateTimer([this] { tmrAutoMode_Timer(); });
    s_.tmrAutoMode->SetInterval(kAutoModeIntervalMs);

    s_.Store =
        std::make_unique<CallStore>(s_.process.AppPath, d.clock, &s_.journal);
    WireCallEvents();

    LoadOptionsForNextCall();
    s_.LineVoice = d.new_voice();
    GetOptions();

    s_.udiOut = d.new_channel();
    s_.udiIn = d.new_channel();
    s_.udiCallerID = d.new_channel();
    s_.udiIdle = d.new_channel();
    s_.udiMail = d.new_channel();
    s_.udiIn->SetMessageArrived(
        [this](const std::string& text) { udiIn_MessageArrived(text); });
    s_.udiOut->OpenChannel(kChannelOut);
    s_.udiIn->OpenChannel(kChannelIn);
    s_.udiCallerID->OpenChannel(kChannelCallerID);
    s_.udiIdle->OpenChannel(kChannelIdle);
    s_.udiMail->OpenChannel(kChannelMail);
    s_.loaded = true;
  });
}

void frmLine::Unload() {
  if (!s_.loaded) return;
  Trapped(s_.journal, "errForm_Unload", [&] {
    if (s_.tmrAutoMode) s_.tmrAutoMode->SetEnabled(false);
    // No call outlives the line: its timers stop with it.
    for (Timer* timer :
         {s_.tmrRecRingCounter.get(), s_.tmrIDLE.get(), s_.tmrRecLong.get(),
          s_.tmrSilence.get(), s_.tmrRecFreqCounter.get()}) {
      if (timer != nullptr) timer->SetEnabled(false);
    }
    // Not bUnLoad: the desktop application learns that the line is off.
    CloseLine(false);
    if (s_.Wave1) s_.Wave1->Terminate();
    if (s_.WavePlayer) s_.WavePlayer->Terminate();
    if (s_.MSComm1 && s_.MSComm1->PortOpen()) s_.MSComm1->SetPortOpen(false);
  });
  s_.loaded = false;
}

void frmLine::SendLineStatus() {
  if (!s_.udiOut || !s_.Tapi1) return;
  SendOn(*s_.udiOut, kChannelOut,
         JoinFields({"LineStatus", std::to_string(s_.Tapi1->DeviceIndex()),
                     std::to_string(s_.process.LineStat),
                     BoolText(s_.process.AutoMode)}));
}

}  // namespace lw
