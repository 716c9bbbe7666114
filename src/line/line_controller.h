// The line controller: the one object that drives the telephone
// line. The process controller makes it once, loads it after telephony has
// been initialised, opens the line through it, and unloads it at the end.
//
// Loading makes the controls (telephony control, two wave controls, serial
// port, voice, mail control), reads the line options and binds the five
// channel ends 107..111. Line commands of the desktop application arrive on
// 108; the line state goes out on 107 as
//   "LineStatus" CR LF <device index> CR LF <LineStat> CR LF <AutoMode>.
//
// The class is implemented over several files, each for one concern:
//   line_controller.cc  loading, unloading, the line status message
//   line_lifecycle.cc   choosing, opening and closing the line, a lost
//                       line, a changed device list, and the calls serial
//                       caller-ID mode announces
//   line_commands.cc    the commands of channel 108
//   line_options.cc     reading the line options
//   call_state.cc       the call state machine: telephony events, the ring
//                       gap, answering, dropping, the wrap-up, outgoing calls
// The channel ends are a DesktopChannels (desktop_channels.h) and the auto
// mode timer an AutoMode (auto_mode.h), both owned here.
// It is the hub of the device events, and the CallLine through which the
// call recorder, the answering machine, remote access, the event sounds and
// forwarding reach the call; each of those keeps its own state and timers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "call/call_line.h"
#include "line/auto_mode.h"
#include "line/desktop_channels.h"
#include "line/line_state.h"
#include "line/serial_caller_id_mode.h"
#include "notify/forwarding.h"
#include "recording/answering_machine.h"
#include "recording/call_recording.h"
#include "recording/call_screening.h"
#include "recording/event_sounds.h"
#include "recording/remote_access.h"

namespace lw {

class LineController final : public CallLine {
 public:
  LineController(const Devices& devices, SettingsStore& store, Journal& journal,
                 ProcessState& process, SpeechWindow* speech);
  // Unloads first when still loaded.
  ~LineController();
  LineController(const LineController&) = delete;
  LineController& operator=(const LineController&) = delete;

  // --- line_controller.cc
  // Makes the controls, reads the options and binds the channel ends. The
  // line is not opened here.
  void Load();
  // Stops the auto mode timer, closes the line (the status message goes
  // out), releases the wave controls and closes the serial port.
  void Unload();
  bool loaded() const { return s_.loaded; }
  // "LineStatus" on 107, dropped when the channel cannot be opened.
  void SendLineStatus();

  // --- line_lifecycle.cc
  // Chooses the device by the name in "cmbModemDev" (the last device of
  // that name, else device 0), writes the chosen name back, opens it unless
  // a line is already open, and sends the line status. A name no device
  // bears is journalled and remembered: it still stands behind the name
  // written in its place, until the owner names another device.
  void OpenLine();
  // Closes the line; sends the line status unless `unloading`. A lost line is
  // not opened again when it comes back.
  void CloseLine(bool unloading = false);
  // Closes the serial port (serial caller-ID mode) and the telephony line;
  // LineStat ends at 1. No status message. A call in progress is ended and
  // wrapped up first (stored, "Tapi_Idle" sent).
  void CloseTheLine();

  // --- line_options.cc
  // The option record: remote access and speech options, then everything
  // else.
  void LoadCallOptions();
  void GetOptions();
  void LoadTTSOptions();

  // --- call_state.cc
  // The telephony control's call events, wired at load.
  void OnIncomingCall();
  void OnRing(int32_t count);
  void OnCallerId(const std::string& name, const std::string& number);
  void OnConnected();
  void OnDisconnected();
  void OnIdle();
  void OnDialing();
  void OnDigit(const std::string& digit);
  // The answering machine takes the ringing call now.
  void AnswerCall();

  // --- line_lifecycle.cc: the calls of serial caller-ID mode.
  // First RING: the call is announced ("Comm_Incomming").
  void OnModemIncomingCall();
  // Second RING: the caller identification ("Comm_CID"), then the modem is
  // handed to the telephony control.
  void OnModemCallerId(const std::string& name, const std::string& number);
  // The caller gave up before the hand-over: the call is wrapped up
  // ("Comm_Idle").
  void OnModemCallerGone();

  // --- line_lifecycle.cc: a line lost and back (line_device.h).
  // The line went away: a call in progress is ended and stored, the line
  // closed and reported closed, the loss journalled.
  void OnLineLost();
  // The lost line is back: it is opened again.
  void OnLineBack();
  // The device list changed (a modem plugged in): the open device's index
  // is found again by its name, and a device "cmbModemDev" named while it
  // was missing replaces the one opened instead, at once when the line is
  // idle, else once the call is over.
  void OnLinesChanged();

  // Places an outgoing call to `number`; with `record` the connected call
  // is recorded (type "4"), otherwise it is an outgoing call (type "1").
  void CallOut(const std::string& number, bool record);

  // Where remote access plugs in.
  CallHooks& hooks() { return s_.hooks; }

  // --- CallLine (line_controller.cc; DropCall in call_state.cc)
  PerCall& call() override { return call_; }
  CallOptions& options() override { return s_.Options; }
  CallStore& store() override { return *s_.Store; }
  Journal& journal() override { return s_.journal; }
  Clock& clock() override { return s_.devices.clock; }
  const ProcessState& process() const override { return s_.process; }
  Telephony& telephony() override { return *s_.telephony; }
  Wave& line_wave() override { return *s_.line_wave; }
  std::string DeviceIndexText() override;
  void DropCall() override;
  int32_t PlayToLine(const std::string& file) override;
  int32_t SpeakOnLine(const std::string& text) override;
  void StopAllSound() override;
  int32_t MonitorDigits(bool on) override;
  void SendText(int32_t channel, const std::string& text) override;

 private:
  // Opens the forwarding's outbox with the timing the settings ask for.
  void OpenOutbox();
  // --- line_lifecycle.cc
  void OpenTheLine(int32_t index);
  // Makes serial caller-ID mode over a new serial port.
  void MakeSerialCallerIdMode();
  // Serial caller-ID mode's port was lost or opened again: the line state
  // follows.
  void ModemPortChanged(bool hears);
  // True while the line is switched on: open, waiting in serial caller-ID mode
  // (also for its port) or lost.
  bool LineSwitchedOn();
  // The index of the last device named `name`, -1 when none is; the device
  // index stays as it was.
  int32_t FindDevice(const std::string& name);
  // On the loop, when no call is in progress: the wanted device, once
  // listed, replaces the one opened in its place.
  void SwitchToWantedLineWhenIdle();
  void SwitchToWantedLine();

  // --- line_options.cc
  // Where the option routines apply the speech options.
  LineOptionHooks OptionHooks();

  // --- call_state.cc
  // Makes the ring-gap timer and wires the call events of the telephony
  // control, the line's wave control and WavePlayer.
  void WireCallEvents();
  // A new current call: the per-call state made afresh, its record started
  // (day folder made, "UNKNOWN" caller, date and time now) with
  // `description`, and its wrap-up due.
  void StartCall(const std::string& description);
  // The line wave control's PlayDone: drops the call when the caller has gone,
  // otherwise moves remote access, the recording after the notice or the
  // answering machine on.
  void OnLinePlayDone();
  // The ring-gap timer's tick: a gap of more than 7 seconds means somebody
  // picked up an extension, and the line is taken to record.
  void OnRingGapTick();
  // Switches off the ring-gap and tone-detection timers where they run.
  void StopRingGapAndFreqTimers();
  // The incoming call begins: "Tapi_" from the telephony control, "Comm_"
  // from the modem (journal source and message carry the prefix).
  void IncomingCall(const std::string& prefix);
  // The caller's identification ("Tapi_" or "Comm_", as above); the modem's
  // ends with the hand-over unless remote access by number is on.
  void CallerIdentified(const std::string& name, const std::string& number,
                        const std::string& prefix);
  // Looks `number` up in the contacts and lays a matched contact's choices
  // over the call's options and flags. True when the caller is blocked on a
  // telephony line: the line is taken off-hook at once and nothing more is
  // done or told (a modem's blocked call is answered at its fourth ring).
  bool LookUpContact(const std::string& number, bool modem);
  // No caller identification came in time (telephony mode): the caller is
  // looked up as "UNKNOWN".
  void LookUpUnidentifiedCaller();
  // Steps of the wrap-up, with `message` ("Tapi_Idle", "Comm_Idle") to the
  // desktop application. Runs once per call (wrap_up_due).
  void WrapUpCall(const char* message);
  // A call still in progress when the line closes is dropped and wrapped up
  // first; nothing when there is none.
  void EndCallBeforeClose();

  // --- line_commands.cc
  void OnLineCommand(const std::string& text);
  void CommandOn();
  void CommandOff();
  void CommandHello();
  void CommandGetTTSProp();
  // AUTO hands the line to the auto mode timer; the others act on calls.
  void CommandAuto(const std::vector<std::string>& lines);
  void CommandRecCall(const std::vector<std::string>& lines);
  void CommandAnswerMachine();
  void CommandDropTheCall();
  void CommandDoNothing();
  void CommandStopProc();
  void CommandCallOut(const std::vector<std::string>& lines, bool record);
  void CommandDropCall();

  LineState s_;
  DesktopChannels channels_;  // bound at load
  AutoMode auto_mode_;        // its timer made at load
  PerCall call_;
  std::unique_ptr<SerialCallerIdMode> serial_caller_id_;  // made at load
  CallRecorder recorder_;
  AnsweringMachine machine_;
  CallScreening screening_;
  RemoteAccess remote_;
  EventSounds sounds_;
  Forwarding forwarding_;
  // The device "cmbModemDev" named while it was not listed (empty when none
  // is awaited) and the name written there in its place.
  std::string wanted_device_;
  std::string fallback_device_;
  // The name of the device opened last.
  std::string open_device_;
  // Expires with the controller, so that posted work finds out.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

}  // namespace lw
