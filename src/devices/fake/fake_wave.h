// The sound component for tests. It plays nothing and records nothing, but
// logs every play and recording with its arguments, ends plays when the test
// says so, and at StopRecord leaves a file and registers the virtual time the
// recording ran as its length, so the call store reads back what a real
// recording would give.
//
// File information lives in a FakeWaveFiles table that several FakeWave
// instances may share (the one that records and the one asked later): files
// recorded here and files the test registers with SetFileInfo are known;
// GetFileInfo of any other file fails.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "devices/clock.h"
#include "devices/sound_devices.h"
#include "devices/wave.h"

namespace lw {

inline constexpr int32_t kFakeWaveFileNotFound = 201;
inline constexpr int32_t kFakeWaveCannotCreate = 202;  // folder missing etc.
inline constexpr int32_t kFakeWaveNotRecording = 203;

class FakeWaveFiles {
 public:
  void Set(const std::string& file, const WaveFileInfo& info) {
    infos_[file] = info;
  }
  const WaveFileInfo* Find(const std::string& file) const {
    auto it = infos_.find(file);
    return it == infos_.end() ? nullptr : &it->second;
  }
  void Forget(const std::string& file) { infos_.erase(file); }

 private:
  std::map<std::string, WaveFileInfo> infos_;
};

// One playback as the code started it.
struct FakePlay {
  std::string file;
  int32_t device = 0;
  int32_t size_value = 0;
};

// One recording as the code started it, and how it ended.
struct FakeRecording {
  std::string file;
  int32_t device = 0;
  WaveFormatRecord file_format;
  int32_t size_value = 0;
  bool report_levels = false;
  bool detect_silence = false;  // the silence switches at the start
  bool cut_silence = false;
  int32_t silence_level = 0;
  uint32_t start_tick = 0;
};

class FakeWave : public Wave {
 public:
  // Shares `files` and `sound_devices` with others; both outlive this.
  FakeWave(Clock& clock, FakeWaveFiles& files, SoundDevices& sound_devices)
      : clock_(clock), files_(files), sound_devices_(sound_devices) {}

  void SetEvents(WaveEvents events) override { events_ = std::move(events); }
  void Initialize() override { initialized_ = true; }
  void Terminate() override {
    playing_ = false;
    if (recording_) EndRecording();
    initialized_ = false;
  }
  int32_t StartPlayACM(const std::string& file, const WaveFormatRecord&,
                       int32_t wave_out_device, int32_t size_value) override {
    return StartPlay({file, wave_out_device, size_value});
  }
  using Wave::PlayFile;
  int32_t PlayFile(const std::string& file, int32_t local_device,
                   int32_t size_value) override {
    return StartPlay({file, local_device, size_value});
  }
  void StopPlay() override { playing_ = false; }
  bool IsPlaying() override { return playing_; }
  int32_t StartRecord(int32_t wave_in_device, const std::string& file,
                      const WaveFormatRecord& device_format,
                      const WaveFormatRecord& file_format, int32_t size_value,
                      bool report_levels) override;
  int32_t StopRecord() override {
    return recording_ ? EndRecording() : kFakeWaveNotRecording;
  }
  bool IsRecording() override { return recording_; }
  bool IsHalfDuplex(int32_t) override { return faults_.half_duplex; }
  int32_t StartMonitor(const WaveFormatRecord& device_format,
                       int32_t local_device) override;
  void StopMonitor() override { monitoring_ = false; }
  bool IsMonitoring() override { return monitoring_; }
  std::string GetPlayErrorText(int32_t code) override {
    return code == kFakeWaveFileNotFound ? "File not found"
                                         : "Play error " + std::to_string(code);
  }
  std::string GetRecordErrorText(int32_t code) override {
    return "Record error " + std::to_string(code);
  }
  int32_t GetFileInfo(const std::string& file, WaveFileInfo& info) override;
  // Known files are complete already; others cannot be repaired.
  int32_t RepairFile(const std::string& file) override {
    return files_.Find(file) != nullptr ? 0 : kFakeWaveFileNotFound;
  }
  std::string SecondsToText(int32_t seconds) override {
    return WaveSecondsText(seconds);
  }
  int32_t GetWaveDeviceCount() override;
  std::string GetDeviceCaps(int32_t index) override;
  void SetDetectSilence(bool on) override { detect_silence_ = on; }
  bool DetectSilence() override { return detect_silence_; }
  void SetCutSilence(bool on) override { cut_silence_ = on; }
  bool CutSilence() override { return cut_silence_; }
  void SetSilenceLevel(int32_t level) override { silence_level_ = level; }
  int32_t SilenceLevel() override { return silence_level_; }
  void SetFreqDetect(bool on) override { freq_detect_ = on; }
  bool FreqDetect() override { return freq_detect_; }

  // --- Script.
  // Ends the running playback as if the file had been played: PlayDone at
  // once. False when nothing plays.
  bool FinishPlay() {
    if (!playing_) return false;
    playing_ = false;
    if (events_.PlayDone) events_.PlayDone();
    return true;
  }
  // A level report of the running recording: LevelReport(level) at once.
  // False (nothing raised) unless recording with level reports on.
  bool ReportLevel(int16_t level) {
    if (!recording_ || !recordings_.back().report_levels) return false;
    if (events_.LevelReport) events_.LevelReport(level);
    return true;
  }
  // Registers information for a file (in the shared table).
  void SetFileInfo(const std::string& file, const WaveFileInfo& info) {
    files_.Set(file, info);
  }
  // Playing a file that is neither on disk nor known to the table fails
  // with kFakeWaveFileNotFound.

  // --- Fault switches: the results StartRecord and the plays return
  // instead of succeeding (changing nothing); line devices that play or
  // record but not both at once (IsHalfDuplex).
  struct Faults {
    int32_t record_result = 0;
    int32_t play_result = 0;
    bool half_duplex = false;
  };
  Faults& faults() { return faults_; }

  // --- Observation.
  const std::vector<FakePlay>& plays() const { return plays_; }
  const std::vector<FakeRecording>& recordings() const { return recordings_; }
  bool initialized() const { return initialized_; }

 private:
  int32_t StartPlay(FakePlay play);
  int32_t EndRecording();

  Clock& clock_;
  FakeWaveFiles& files_;
  SoundDevices& sound_devices_;
  WaveEvents events_;
  std::vector<FakePlay> plays_;
  std::vector<FakeRecording> recordings_;
  Faults faults_;
  bool initialized_ = false;
  bool playing_ = false;
  bool recording_ = false;
  bool monitoring_ = false;
  bool detect_silence_ = false;
  bool cut_silence_ = false;
  int32_t silence_level_ = 0;
  bool freq_detect_ = false;
};

// Writes `text` as the whole of `file` in place of sound: the call code only
// needs the file to exist; its length comes from the shared file table.
bool WriteMarkerFile(const std::string& file, const std::string& text);

}  // namespace lw
