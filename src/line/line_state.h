// The state of the line controller `frmLine`: its controls, timers, channel
// ends and every field its parts work on. The controller's behaviour is
// spread over several files (lifecycle, commands, and later the modem
// channel, the call state machine, recording and auto mode), all working on
// this one record; keeping the state in one place lets each of them see what
// the others set, as the single line requires.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "callstore/call_record.h"
#include "callstore/call_store.h"
#include "devices/devices.h"
#include "journal/journal.h"
#include "line/process_state.h"
#include "line/speech_window.h"
#include "settings/call_options.h"
#include "settings/registry_routines.h"

namespace lw {

// The channel numbers of the line controller's five ends.
inline constexpr int32_t kChannelOut = 107;       // udiOut: line state, calls
inline constexpr int32_t kChannelIn = 108;        // udiIn: line commands
inline constexpr int32_t kChannelCallerID = 109;  // udiCallerID
inline constexpr int32_t kChannelIdle = 110;      // udiIdle: end of a call
inline constexpr int32_t kChannelMail = 111;      // udiMail: mail requests

// Where the call flow hands over to parts that live elsewhere: remote access
// by telephone keypad, and forwarding a finished call by mail or to another
// program. The call state machine calls each at its place in the flow; an
// empty slot does nothing and journals nothing, which is how the line
// behaves until those parts are plugged in.
struct CallHooks {
  // Remote access: the dialogue starts when the call is connected, moves on
  // when a played message has ended, and hears the keypad digits.
  std::function<void()> StartRemoteAccess;
  std::function<void()> RemoteAccessPlayDone;
  std::function<void(const std::string& digit)> MonitorDigit;
  // Forwarding of the finished call (the current call as the wrap-up left
  // it): by mail, and to another program.
  std::function<void()> SendMailForCall;
  std::function<void()> SendToApp;
};

struct LineState {
  LineState(const Devices& devices, SettingsStore& store, Journal& journal,
            ProcessState& process, SpeechWindow* speech)
      : devices(devices),
        journal(journal),
        process(process),
        speech(speech),
        Reg(store) {}

  // --- What the line controller is built with; all outlive it.
  const Devices& devices;
  Journal& journal;
  ProcessState& process;  // LineStat, AutoMode, SoundDeviceIndex, ...
  SpeechWindow* speech;   // the local voice; may be null

  // The line controller's own settings accessor (product key; the section
  // is set before each group of reads).
  RegistryRoutines Reg;

  // --- Controls, made when the controller loads (null before).
  std::unique_ptr<Telephony> Tapi1;
  std::unique_ptr<Wave> Wave1;          // plays to and records from the line
  std::unique_ptr<Wave> WavePlayer;     // event sounds on the sound device
  std::unique_ptr<SerialPort> MSComm1;  // the modem's port (modem mode)
  std::unique_ptr<Voice> LineVoice;     // speaks into the line
  std::unique_ptr<Mail> Mail1;

  // Channel ends to the desktop application.
  std::unique_ptr<MessageChannel> udiOut;       // 107, line state
  std::unique_ptr<MessageChannel> udiIn;        // 108, line commands
  std::unique_ptr<MessageChannel> udiCallerID;  // 109, caller identification
  std::unique_ptr<MessageChannel> udiIdle;      // 110, end of a call
  std::unique_ptr<MessageChannel> udiMail;      // 111, mail requests

  // Timers.
  std::unique_ptr<Timer> tmrAutoMode;  // 1 s, applies the auto mode window
  std::unique_ptr<Timer> tmrRecRingCounter;  // 100 ms, ring gap (pick-up)
  std::unique_ptr<Timer> tmrIDLE;            // 1 s, modem mode: caller gone
  std::unique_ptr<Timer> tmrRecLong;         // 1 s, maximum recording length
  std::unique_ptr<Timer> tmrSilence;         // 100 ms, drop on silence
  std::unique_ptr<Timer> tmrRecFreqCounter;  // 100 ms, ends tone detection

  // The call store under AppPath: day folders, data files, latest calls,
  // contacts. Made when the controller loads.
  std::unique_ptr<CallStore> Store;

  // The option record, read at load and again after every call.
  CallOptions Options;

  // --- Line lifecycle.
  int32_t LineIndex = 0;  // device opened last, for journal texts
  // One-shot: the next play-finished event of WavePlayer belongs to the beep
  // played when the line opened; the event-sound chain ignores and clears it.
  bool bModemSoundControl = false;
  // Retries of a failed take-over of the modem; never reset.
  int32_t OpenRetries = 0;
  // True: rings and caller identification come from the telephony control
  // (telephony mode); false: from the modem's serial port (modem mode).
  bool TapiCallerId = false;
  int32_t ModemPort = 0;  // 0: not yet asked of the telephony control
  std::string ModemCommandSet;

  // --- The current call (caller, date and time, recording name, length,
  // contact, type; description, contact digit, absolute day folder).
  CurrentCall Call;

  // Per-call flags. All but bInCall are cleared when the options are loaded
  // for the next call.
  bool bInCall = false;          // a call is in progress
  bool bRecordThisCall = false;  // record the call if somebody picks up
  bool bRecTheCall = false;      // the line was taken to record the talk
  bool bAnswerMachine = false;   // the answering machine takes the call
  bool bBlockCall = false;       // take the line and hang up at once
  bool bIgnoreCall = false;      // leave the call alone
  bool bRemoteAccess = false;    // the owner calls in (no latest-call entry)
  bool bCallOutRec = false;      // an outgoing call placed with recording
  // The current call has begun (offered or placed) and is not yet wrapped
  // up. Every call is wrapped up exactly once: after the telephony control's
  // Idle, or, where no Idle follows (the line closing during the call, a
  // hang-up the device refused), at once by WrapUpNow.
  bool bWrapUpDue = false;
  // Runs the current call's wrap-up now (set by the line controller).
  std::function<void()> WrapUpNow;

  // Counters.
  int32_t IncomingCount = 0;  // calls since the last every-N-th recording
  int32_t RingGapTicks = 0;   // 100 ms ticks since the last ring
  int32_t CommRings = 0;      // modem RING lines of this call
  int32_t IdleTicks = 0;      // 1 s ticks of the idle timer

  // Recording (set before each use, or cleared for every call).
  int16_t RecordFormatIndex = 0;  // 0 PCM, 1 mu-law, 2 GSM 6.10, 3 TrueSpeech
  double MaxRecordMinutes = 0;
  int32_t RecordSeconds = 0;     // ticks of tmrRecLong
  int16_t SilenceThreshold = 0;  // level below which sound is silence
  int32_t SilenceSeconds = 0;    // silence that ends the call
  int32_t SilenceTicks = 0;      // 100 ms ticks of silence so far
  int32_t LastLevel = 0;         // last level reported while recording
  int32_t FreqTicks = 0;         // ticks of tmrRecFreqCounter

  // The answering machine's next step: "MESSAGE" while the greeting plays,
  // "BEEP" while the beep plays, empty otherwise.
  std::string NextStep;
  // "PLAY_IC" or "PLAY_DC": the event whose sound started last.
  std::string LastSoundEvent;

  CallHooks hooks;

  bool loaded = false;
};

}  // namespace lw
