// The sound component: plays files into a call or onto a local sound device,
// records the call into a file, lets the call be heard on a sound device while
// it is recorded, and answers questions about wave files.
//
// The line controller holds two instances, `line_wave` (the line's sound: play
// to and record from the call) and `WavePlayer` (the local sound device); the
// process controller holds one (`wave_`) for the device list. Line device
// numbers come from the telephony control's GetDeviceID; local device
// numbers are indexes into GetDeviceCaps' list.
//
// Contract shared by every implementation:
// - Results are 32-bit codes, 0 = success; no operation throws. A failure
//   leaves the component idle (not playing, not recording).
// - File names are native paths (callers turn the system's backslash path
//   texts into native paths before they get here).
// - Events run on the loop thread and never inside the operation that causes
//   them: a PlayDone is never delivered from within StartPlayACM, PlayFile or
//   StopPlay.
// - Formats are passed by reference and only read during the call.
// - One playback and one recording at a time: starting a playback stops the
//   one running (without its PlayDone); starting a recording first completes
//   the running recording's file.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "devices/wave_format_record.h"

namespace lw {

// StartRecord's result when a file of that name is there already; the same
// in every implementation.
inline constexpr int32_t kWaveFileExists = 10;

// What GetFileInfo fills.
struct WaveFileInfo {
  int16_t format_tag = 0;  // first field: 1 PCM, 7 mu-law, 49 GSM 6.10, ...
  int16_t channels = 0;
  int32_t samples_per_sec = 0;
  int32_t seconds = 0;  // last field: length in whole seconds
};

struct WaveEvents {
  // Playback has ended: the whole file was played. Not raised after StopPlay
  // or a failed start.
  std::function<void()> PlayDone;
  // While recording, the sound level of the last stretch of the call, about
  // every 100 ms, 0 (silence) .. 32767 (full scale).
  std::function<void(int16_t& level)> LevelReport;
};

class Wave {
 public:
  virtual ~Wave() = default;

  // Replaces the event handlers; empty slots are not raised.
  virtual void SetEvents(WaveEvents events) = 0;

  // Called when the owning form loads and unloads. Terminate stops any
  // playback, recording and monitoring.
  virtual void Initialize() = 0;
  virtual void Terminate() = 0;

  // Plays `file` (any wave file the component can read, converted to
  // `device_format`) into the line's wave-out device. `size_value` is the
  // buffer size hint in bytes. 0 = playing; PlayDone follows at the end.
  virtual int32_t StartPlayACM(const std::string& file,
                               const WaveFormatRecord& device_format,
                               int32_t wave_out_device, int32_t size_value) = 0;

  // Plays `file` on local sound device `local_device`. `size_value` as above;
  // 0 lets the component choose. 0 = playing; PlayDone follows at the end.
  virtual int32_t PlayFile(const std::string& file, int32_t local_device,
                           int32_t size_value) = 0;
  // With the component's own size value (implementations that override
  // PlayFile bring this one in with `using Wave::PlayFile;`).
  int32_t PlayFile(const std::string& file, int32_t local_device) {
    return PlayFile(file, local_device, 0);
  }

  // Ends playback at once. No PlayDone follows.
  virtual void StopPlay() = 0;
  virtual bool IsPlaying() = 0;

  // Records the line's wave-in device, which delivers `device_format`, into
  // `file`, written in `file_format`. The file is created anew and never
  // replaces one that is there: kWaveFileExists then, and that file is left
  // untouched. A file that cannot be started, or that takes no sound at all
  // (a full disk), is removed again rather than left empty.
  // `size_value` is the buffer size hint in bytes; `report_levels` turns on
  // LevelReport events. 0 = recording. While recording, DetectSilence,
  // CutSilence and SilenceLevel apply as they were at the start.
  virtual int32_t StartRecord(int32_t wave_in_device, const std::string& file,
                              const WaveFormatRecord& device_format,
                              const WaveFormatRecord& file_format,
                              int32_t size_value, bool report_levels) = 0;
  // Ends the recording and completes the file. 0 = the file is complete.
  virtual int32_t StopRecord() = 0;
  virtual bool IsRecording() = 0;

  // Whether line device `line_device` (a wave-in or wave-out number) is
  // half-duplex: it plays into the call or records it, not both at once, so
  // the code that drives it must not start the one while the other runs.
  virtual bool IsHalfDuplex(int32_t line_device) = 0;

  // While recording, also plays what is recorded on local sound device
  // `local_device`, so the call is heard in the room. 0 = monitoring;
  // non-zero when not recording. Monitoring ends with the recording.
  virtual int32_t StartMonitor(const WaveFormatRecord& device_format,
                               int32_t local_device) = 0;
  virtual void StopMonitor() = 0;
  virtual bool IsMonitoring() = 0;

  // Texts of result codes for the journal; 0 has a text too.
  virtual std::string GetPlayErrorText(int32_t code) = 0;
  virtual std::string GetRecordErrorText(int32_t code) = 0;

  // Format and length of a wave file. 0 = ok and `info` filled; any other
  // result (missing or unreadable file) leaves `info` as it was.
  virtual int32_t GetFileInfo(const std::string& file, WaveFileInfo& info) = 0;
  // Brings the header of a recording that was cut off (the process died
  // while recording) in line with the sound in the file, up to its last
  // whole block. 0 = the file is a complete wave file afterwards.
  virtual int32_t RepairFile(const std::string& file) = 0;
  // A length as text, "0:00:00" form (hours:minutes:seconds), at most 10
  // characters; negative lengths read as 0.
  virtual std::string SecondsToText(int32_t seconds) = 0;

  // Local sound output devices: how many, and the name of device `index`
  // ("" when out of range).
  virtual int32_t GetWaveDeviceCount() = 0;
  virtual std::string GetDeviceCaps(int32_t index) = 0;

  // Silence handling of the next recording: detect stretches below
  // `SilenceLevel` (same scale as LevelReport), and cut them from the file.
  virtual void SetDetectSilence(bool on) = 0;
  virtual bool DetectSilence() = 0;
  virtual void SetCutSilence(bool on) = 0;
  virtual bool CutSilence() = 0;
  virtual void SetSilenceLevel(int32_t level) = 0;
  virtual int32_t SilenceLevel() = 0;
  // Tone detection in the recorded sound (fax and busy tones).
  virtual void SetFreqDetect(bool on) = 0;
  virtual bool FreqDetect() = 0;
};

// The length text every Wave implementation returns from SecondsToText:
// hours (no leading zero), minutes and seconds of two digits, colons
// between ("0:00:00", "1:02:03"); negative lengths read as 0 and lengths of
// 10 000 hours or more as "9999:59:59", so the text fits 10 characters.
std::string WaveSecondsText(int32_t seconds);

}  // namespace lw
