// The line controller's own state: what it is built with, its controls,
// the ring-gap timer, the options, and what outlives a single call.
// The state of the call in progress is a PerCall (line/call_line.h); the
// recorder, the answering machine, the event sounds and forwarding keep
// their own, as do the desktop channels and auto mode.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "call/process_state.h"
#include "call/speech_window.h"
#include "callstore/call_store.h"
#include "devices/devices.h"
#include "journal/journal.h"
#include "settings/call_options.h"
#include "settings/registry_routines.h"

namespace lw {

// Where remote access by telephone keypad plugs into the call flow: the
// dialogue starts when the call is connected, moves on when a played message
// has ended, and hears the keypad digits. An empty slot does nothing and
// journals nothing.
struct CallHooks {
  std::function<void()> StartRemoteAccess;
  std::function<void()> RemoteAccessPlayDone;
  std::function<void(const std::string& digit)> MonitorDigit;
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
  std::unique_ptr<Telephony> telephony;
  std::unique_ptr<Wave> line_wave;   // plays to and records from the line
  std::unique_ptr<Wave> WavePlayer;  // event sounds on the sound device
  std::unique_ptr<Voice> LineVoice;  // speaks into the line

  std::unique_ptr<Timer> ring_gap_timer;  // 100 ms, ring gap (pick-up)

  // The call store under AppPath: day folders, data files, latest calls,
  // contacts. Made when the controller loads.
  std::unique_ptr<CallStore> Store;

  // The option record, read at load and again after every call.
  CallOptions Options;

  // --- Line lifecycle.
  int32_t LineIndex = 0;  // device opened last, for journal texts
  // The line was lost while switched on: it is opened again when it is back.
  bool LineLost = false;

  // --- What outlives a call.
  bool in_call = false;       // a call is in progress
  int32_t IncomingCount = 0;  // calls since the last every-N-th recording

  CallHooks hooks;

  bool loaded = false;
};

}  // namespace lw
