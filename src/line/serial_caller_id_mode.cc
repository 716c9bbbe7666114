#include "line/serial_caller_id_mode.h"

#include <algorithm>
#include <utility>

#include "base/trapped.h"

namespace lw {

namespace {

constexpr int kAfterLineClosedTenths = 15;
constexpr int kAfterPortClosedTenths = 5;
constexpr uint32_t kWaitLimitMs = 5000;
// Failed takes of the modem retried over the life of the line controller.
constexpr int32_t kMaxOpenRetries = 10;
// The back-off of a port that cannot be opened.
constexpr uint32_t kFirstRetryMs = 5000;
constexpr uint32_t kLastRetryMs = 300'000;

}  // namespace

SerialCallerIdMode::SerialCallerIdMode(Telephony& tapi,
                                       std::unique_ptr<SerialPort> port,
                                       Clock& clock, Journal& journal,
                                       const std::string& app_path,
                                       SerialCallerIdEvents events)
    : tapi_(tapi),
      port_(std::move(port)),
      clock_(clock),
      journal_(journal),
      events_(std::move(events)),
      channel_(*port_, clock, journal, app_path,
               ModemEvents{.Ring = events_.Ring,
                           .IncomingCall = events_.IncomingCall,
                           .CallerID = events_.CallerID,
                           .HandOver = [this] { HandOver(); },
                           .Idle = [this] { Idle(); },
                           .PortLost = [this] { PortLost(); }}),
      retry_timer_(clock.CreateTimer([this] {
        retry_timer_->SetEnabled(false);
        if (on_) Connect(true);
      })) {}

SerialCallerIdMode::~SerialCallerIdMode() { channel_.CommDisconnect(); }

int32_t SerialCallerIdMode::Open(bool wanted, int32_t result,
                                 const std::string& command_set) {
  wanted_ = wanted;
  if (!wanted) return result;
  if (result != 0) {
    journal_.LogSys("Can't open comm without TAPI", 0, "LineOpen:CommConnect");
    return result;
  }
  port_number_ = tapi_.GetDeviceID(kDeviceClassSerialPort);
  if (port_number_ < 1) {
    journal_.LogSys("Line " + std::to_string(tapi_.DeviceIndex()) +
                        " has no serial port: caller identification comes "
                        "from the telephony line",
                    0, "LineOpen:CommConnect");
    return result;
  }
  on_ = true;
  command_set_ = command_set;
  return ReturnModemToPort("LineOpen:CommConnect", false);
}

void SerialCallerIdMode::Close() {
  const bool was_on = on_;
  on_ = false;
  retry_ms_ = 0;
  retry_timer_->SetEnabled(false);
  channel_.CommDisconnect();
  // A call the modem announced has been wrapped up already.
  channel_.StopIdleTimer();
  channel_.InitVals();
  if (was_on) journal_.LogSys("CommDisconnect", 0, "CloseLine");
}

int32_t SerialCallerIdMode::RingsBefore() {
  return on_ && !port_->PortOpen() ? channel_.CommRings() : 0;
}

void SerialCallerIdMode::WaitWhile(const std::function<bool()>& busy,
                                   const char* what, const char* source) {
  const uint32_t start = clock_.TickCount();
  while (busy()) {
    if (clock_.TickCount() - start >= kWaitLimitMs) {
      journal_.LogSys(std::string(what) + " within 5 seconds; going on", 0,
                      source);
      return;
    }
    clock_.Pause(1);
  }
}

int32_t SerialCallerIdMode::ReturnModemToPort(const char* source, bool tell) {
  tapi_.LineClose();
  const int32_t result = tapi_.LineShutdown();
  WaitWhile([&] { return tapi_.IsLineOpen(); }, "The line did not close",
            source);
  clock_.Pause(kAfterLineClosedTenths);
  channel_.InitVals();
  const int32_t port = Connect(tell);
  return result != 0 ? result : port;
}

int32_t SerialCallerIdMode::Connect(bool tell) {
  const int32_t code = channel_.CommConnect(port_number_, command_set_);
  const std::string port = std::to_string(port_number_);
  if (code == 0) {
    if (retry_ms_ == 0) return 0;
    retry_ms_ = 0;
    journal_.LogSys("The modem's port " + port + " is open again", 0,
                    "CommConnect");
    if (tell && events_.PortChanged) events_.PortChanged(true);
    return 0;
  }
  if (retry_ms_ == 0) {
    journal_.LogSys("The modem's port " + port + " cannot be opened (" +
                        port_->ErrorText(code) +
                        "): the line hears no calls until it can; tried "
                        "again from 5 s to every 5 minutes",
                    code, "CommConnect");
    if (tell && events_.PortChanged) events_.PortChanged(false);
  }
  retry_ms_ =
      retry_ms_ == 0 ? kFirstRetryMs : std::min(retry_ms_ * 2, kLastRetryMs);
  retry_timer_->SetInterval(retry_ms_);
  retry_timer_->SetEnabled(true);
  return code;
}

void SerialCallerIdMode::PortLost() {
  if (!on_ || retry_ms_ != 0) return;
  retry_ms_ = kFirstRetryMs;
  retry_timer_->SetInterval(retry_ms_);
  retry_timer_->SetEnabled(true);
  if (events_.PortChanged) events_.PortChanged(false);
}

void SerialCallerIdMode::HandOver() {
  Trapped(journal_, "ErretTapiFromComm", [&] {
    channel_.CommDisconnect();
    WaitWhile([&] { return port_->PortOpen(); },
              "The modem's port did not close", "GetTapiFromComm");
    clock_.Pause(kAfterPortClosedTenths);
    const int32_t result =
        tapi_.LineOpen(kPrivilegesOwner, kMediaModeAutomatedVoice);
    const std::string text = tapi_.GetErrorText(result);
    constexpr const char* kSource = "GetTapiFromComm:Tapi1.LineOpen";
    if (result != 0) {
      journal_.LogSys(text, result, kSource);
      if (open_retries_ < kMaxOpenRetries) {
        ++open_retries_;
        HandOver();
      }
    }
    journal_.LogSys(text, result, kSource);
  });
}

void SerialCallerIdMode::CallEnded() {
  // Not while the port is being tried again: the telephony control does
  // not hold the modem then.
  if (!on_ || port_->PortOpen() || retry_ms_ != 0) return;
  // The call is over: its caller can no longer be found gone.
  channel_.StopIdleTimer();
  ReturnModemToPort("CommCloseTapi", true);
}

void SerialCallerIdMode::Idle() {
  // The telephony control may hold the modem; a hand-over whose every open
  // failed left it on neither side. Either way it goes back to the port, so
  // the line waits for calls again.
  if (tapi_.IsLineOpen() || !port_->PortOpen()) {
    channel_.StopIdleTimer();
    ReturnModemToPort("CommCloseTapi", true);
  }
  if (events_.CallerGone) events_.CallerGone();
}

}  // namespace lw
