// The process-wide values: set while the process controller loads and read
// (some also written) by the line controller, the web server and the
// notifications. There is exactly one instance per process, owned by the
// process controller and shared by reference; nothing here is global.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "settings/call_options.h"

namespace lw {

inline constexpr int kTransTextCount = 20;

struct ProcessState {
  // Folder of the executable (native, no trailing separator); every data
  // path of the system is AppPath + a sub-path beginning with a backslash.
  std::string AppPath;

  // The 20 texts of the translation file, entries 1..20 (entry 0 unused).
  // Entries that could not be read stay as they were (empty at start).
  std::array<std::string, kTransTextCount + 1> TransText;

  // Journal switches as read at start-up ("chkLogSys", "chkLogWWW").
  bool LogSysOn = false;
  bool LogWWWOn = false;

  // 0 = the line is on (open), 1 = off (closed or failed).
  int16_t LineStat = 0;
  // The line follows the auto mode schedule AutoTimeOn..AutoTimeOff.
  bool AutoMode = false;
  std::string AutoTimeOn;
  std::string AutoTimeOff;

  // Local sound device of event sounds and speech (index into the wave
  // control's device list).
  int32_t SoundDeviceIndex = 0;

  // GUIRunning, DoEventsWhenGUI and NumOfItemsInLast, read with the line
  // options.
  ProcessWideOptions Options;
};

}  // namespace lw
