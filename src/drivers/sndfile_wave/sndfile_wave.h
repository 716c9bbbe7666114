// The wave component on the sound-file library: plays any wave file into a
// call (converted to the line's 8 kHz 16-bit mono) or on a local sound
// device, records a call into PCM, mu-law or GSM 6.10 files, reports levels,
// cuts silence, listens in on a recording, and answers file questions.
//
// The wave component keeps no clock for the line: playback into a line is a
// play source of the line's audio endpoint, pulled at the line's pace, and
// PlayDone is posted once the pull after the last block shows that block
// played. Recording is driven the same way by the far end's blocks. Local
// playback keeps the sound device 100 ms ahead of a 20 ms clock timer.
//
// Choices of this implementation:
// - Size values are buffer hints and are not needed here; device formats
//   are not needed either: the line format is fixed (8 kHz 16-bit mono) and
//   local sound is played at the file's own rate.
// - Levels are the peak magnitude of the last 100 ms (800 samples) of the
//   recorded sound, 0..32767, reported each time 800 samples have arrived;
//   SilenceLevel is on the same scale.
// - Silence cutting (CutSilence, as set when the recording starts): the
//   sound is judged in 20 ms frames; a frame whose peak is below
//   SilenceLevel is quiet. The first 0.5 s of every quiet stretch stays in
//   the file (word endings, natural pauses); the rest of the stretch is left
//   out. DetectSilence adds nothing to that here: the line controller drops
//   silent calls from the level reports.
// - File formats by tag: 1 PCM 16-bit, 7 mu-law, 6 A-law, 49 GSM 6.10, all
//   8 kHz mono. TrueSpeech (34) has no encoder here: such a recording is
//   made in GSM 6.10 instead, so no message is lost, and the note handler
//   hears about it once per component. GSM 6.10 files are completed with
//   silence to a whole pair of blocks (640 samples), so they read back
//   exactly as long as written.
// - FreqDetect is kept as set; nothing in the line reacts to a tone heard
//   in a recording, so the recorded sound is not searched for one.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "devices/clock.h"
#include "devices/line_audio.h"
#include "devices/local_sound_output.h"
#include "devices/sound_devices.h"
#include "devices/wave.h"

namespace lw {

// Result codes (0 = success).
inline constexpr int32_t kWaveOk = 0;
inline constexpr int32_t kWaveNoDevice = 1;
inline constexpr int32_t kWaveFileNotFound = 2;
inline constexpr int32_t kWaveNotWaveFile = 3;
inline constexpr int32_t kWaveConversionFailed = 4;
inline constexpr int32_t kWaveDeviceFailed = 5;
inline constexpr int32_t kWaveCannotCreate = 6;
inline constexpr int32_t kWaveUnsupportedFormat = 7;
inline constexpr int32_t kWaveNotRecording = 8;
inline constexpr int32_t kWaveWriteFailed = 9;

class SndfileWave : public Wave {
 public:
  // Texts of this component for the journal (a TrueSpeech recording made
  // in GSM 6.10, a device that vanished while playing).
  using NoteHandler = std::function<void(const std::string& text)>;

  // All four outlive the component. `outputs` makes the local sound
  // outputs (one for PlayFile, one for StartMonitor).
  SndfileWave(Clock& clock, LineAudioHub& lines, SoundDevices& sound_devices,
              LocalSoundOutputFactory outputs);
  ~SndfileWave() override;
  SndfileWave(const SndfileWave&) = delete;
  SndfileWave& operator=(const SndfileWave&) = delete;

  void SetNoteHandler(NoteHandler handler);

  void SetEvents(WaveEvents events) override;
  void Initialize() override;
  void Terminate() override;

  int32_t StartPlayACM(const std::string& file,
                       const WaveFormatRecord& device_format,
                       int32_t wave_out_device, int32_t size_value) override;
  using Wave::PlayFile;
  int32_t PlayFile(const std::string& file, int32_t local_device,
                   int32_t size_value) override;
  void StopPlay() override;
  bool IsPlaying() override;

  int32_t StartRecord(int32_t wave_in_device, const std::string& file,
                      const WaveFormatRecord& device_format,
                      const WaveFormatRecord& file_format, int32_t size_value,
                      bool report_levels) override;
  int32_t StopRecord() override;
  bool IsRecording() override;
  bool IsHalfDuplex(int32_t line_device) override;

  int32_t StartMonitor(const WaveFormatRecord& device_format,
                       int32_t local_device) override;
  void StopMonitor() override;
  bool IsMonitoring() override;

  std::string GetPlayErrorText(int32_t code) override;
  std::string GetRecordErrorText(int32_t code) override;

  int32_t GetFileInfo(const std::string& file, WaveFileInfo& info) override;
  int32_t RepairFile(const std::string& file) override;
  std::string SecondsToText(int32_t seconds) override;

  int32_t GetWaveDeviceCount() override;
  std::string GetDeviceCaps(int32_t index) override;

  void SetDetectSilence(bool on) override;
  bool DetectSilence() override;
  void SetCutSilence(bool on) override;
  bool CutSilence() override;
  void SetSilenceLevel(int32_t level) override;
  int32_t SilenceLevel() override;
  void SetFreqDetect(bool on) override;
  bool FreqDetect() override;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace lw
