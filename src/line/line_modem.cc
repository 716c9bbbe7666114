// Modem mode: while the line waits for a call, the modem is on its serial
// port (MSComm1, spoken to by the ModemChannel) and the telephony line is
// closed. The modem's first ring announces the call, the second brings the
// caller identification; then (or at the fourth ring) the modem is handed to
// the telephony control, whose events carry the call on, and at the end of
// the call it goes back to the port. A caller who gives up before the
// hand-over is wrapped up by the idle timer, 13 s after the last ring the
// modem announced. A call that already rings when the telephony control
// takes the modem is reported by it (InComeCall after LineOpen, as every
// line does for an offered call), which stops the idle timer.
//
// The waits of the hand-over are busy waits, as everywhere between
// telephony steps: no event runs in the middle of a hand-over. The polls for
// the line or the port to close give up after 5 s with a journal line.
#include <string>

#include "base/trapped.h"
#include "line/line_controller.h"

namespace lw {

namespace {

constexpr int kAfterLineClosedTenths = 15;
constexpr int kAfterPortClosedTenths = 5;
constexpr uint32_t kWaitLimitMs = 5000;
// Failed takes of the modem retried over the life of the line controller.
constexpr int32_t kMaxOpenRetries = 10;

}  // namespace

void frmLine::LoadModem() {
  ModemEvents events;
  // Pick-up detection measures the gap after the last ring, the modem's
  // rings included.
  events.Ring = [this] { call_.RingGapTicks = 0; };
  events.IncomingCall = [this] { Comm_InComeCall(); };
  events.CallerID = [this](const std::string& name, const std::string& number) {
    Comm_CallerID(name, number);
  };
  events.HandOver = [this] { GetTapiFromComm(); };
  events.Idle = [this] { tmrIDLE_Timer(); };
  modem_ =
      std::make_unique<ModemChannel>(*s_.MSComm1, s_.devices.clock, s_.journal,
                                     s_.process.AppPath, std::move(events));
}

void frmLine::WaitWhile(const std::function<bool()>& busy, const char* what,
                        const char* source) {
  Clock& clock = s_.devices.clock;
  const uint32_t start = clock.TickCount();
  while (busy()) {
    if (clock.TickCount() - start >= kWaitLimitMs) {
      s_.journal.LogSys(std::string(what) + " within 5 seconds; going on", 0,
                        source);
      return;
    }
    clock.Pause(1);
  }
}

int32_t frmLine::OpenModemSide(int32_t result) {
  if (result != 0) {
    s_.journal.LogSys("Can't open comm without TAPI", 0,
                      "LineOpen:CommConnect");
    return result;
  }
  if (s_.ModemPort == 0)
    s_.ModemPort = s_.Tapi1->GetDeviceID(kDeviceClassSerialPort);
  // The shutdown's result decides the line state from here on.
  return ReturnModemToPort("LineOpen:CommConnect");
}

int32_t frmLine::ReturnModemToPort(const char* source) {
  Telephony& tapi = *s_.Tapi1;
  tapi.LineClose();
  const int32_t result = tapi.LineShutdown();
  WaitWhile([&] { return tapi.IsLineOpen(); }, "The line did not close",
            source);
  s_.devices.clock.Pause(kAfterLineClosedTenths);
  modem_->InitVals();
  modem_->CommConnect(s_.ModemPort, s_.ModemCommandSet);
  return result;
}

void frmLine::CloseModemSide() {
  modem_->CommDisconnect();
  // A call the modem announced has been wrapped up already.
  modem_->StopIdleTimer();
  modem_->InitVals();
  s_.process.LineStat = 1;
  s_.journal.LogSys("CommDisconnect", 0, "CloseLine");
}

void frmLine::GetTapiFromComm() {
  Trapped(s_.journal, "ErretTapiFromComm", [&] {
    Telephony& tapi = *s_.Tapi1;
    modem_->CommDisconnect();
    WaitWhile([&] { return s_.MSComm1->PortOpen(); },
              "The modem's port did not close", "GetTapiFromComm");
    s_.devices.clock.Pause(kAfterPortClosedTenths);
    const int32_t result =
        tapi.LineOpen(kPrivilegesOwner, kMediaModeAutomatedVoice);
    const std::string text = tapi.GetErrorText(result);
    constexpr const char* kSource = "GetTapiFromComm:Tapi1.LineOpen";
    if (result != 0) {
      s_.journal.LogSys(text, result, kSource);
      if (s_.OpenRetries < kMaxOpenRetries) {
        ++s_.OpenRetries;
        GetTapiFromComm();
      }
    }
    s_.journal.LogSys(text, result, kSource);
  });
}

void frmLine::CommCloseTapi() {
  // The call is over: its caller can no longer be found gone.
  modem_->StopIdleTimer();
  ReturnModemToPort("CommCloseTapi");
}

void frmLine::Comm_InComeCall() { IncomingCall("Comm_"); }

void frmLine::Comm_CallerID(const std::string& CallerName,
                            const std::string& CallerNumber) {
  CallerIdentified(CallerName, CallerNumber, "Comm_");
}

void frmLine::tmrIDLE_Timer() {
  // The telephony control may hold the modem; a hand-over whose every open
  // failed left it on neither side. Either way it goes back to the port, so
  // the line waits for calls again.
  if (s_.Tapi1->IsLineOpen() || !s_.MSComm1->PortOpen()) CommCloseTapi();
  Comm_Idle();
}

void frmLine::Comm_Idle() {
  Trapped(s_.journal, "ErrComm_Idle", [&] {
    s_.bInCall = false;
    s_.journal.LogSys("Comm_Idle(" + std::to_string(s_.LineIndex) + ")", 0, "");
    s_.journal.LogSys("Comm_Idle", 0, "Comm_Idle(" + DeviceIndexText() + ")");
  });
  if (call_.bWrapUpDue) WrapUpCall("Comm_Idle");
}

}  // namespace lw
