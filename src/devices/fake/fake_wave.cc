#include "devices/fake/fake_wave.h"

#include <filesystem>
#include <fstream>
#include <utility>

namespace lw {

bool WriteMarkerFile(const std::string& file, const std::string& text) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  return static_cast<bool>(out);
}

FakeWave::FakeWave(Clock& clock, FakeWaveFiles& files,
                   SoundDevices& sound_devices)
    : clock_(clock), files_(files), sound_devices_(sound_devices) {}

FakeWave::~FakeWave() = default;

void FakeWave::Initialize() { initialized_ = true; }

void FakeWave::Terminate() {
  playing_ = false;
  if (recording_) EndRecording();
  initialized_ = false;
}

int32_t FakeWave::StartPlayACM(const std::string& file, const WaveFormatRecord&,
                               int32_t wave_out_device, int32_t size_value) {
  return StartPlay({file, true, wave_out_device, size_value});
}

int32_t FakeWave::PlayFile(const std::string& file, int32_t local_device,
                           int32_t size_value) {
  return StartPlay({file, false, local_device, size_value});
}

int32_t FakeWave::StartPlay(FakePlay play) {
  playing_ = false;
  if (faults_.play_result != 0) return faults_.play_result;
  std::error_code ec;
  if (files_.Find(play.file) == nullptr &&
      !std::filesystem::is_regular_file(play.file, ec))
    return kFakeWaveFileNotFound;
  playing_ = true;
  plays_.push_back(std::move(play));
  return 0;
}

void FakeWave::StopPlay() { playing_ = false; }

bool FakeWave::FinishPlay() {
  if (!playing_) return false;
  playing_ = false;
  if (events_.PlayDone) events_.PlayDone();
  return true;
}

int32_t FakeWave::StartRecord(int32_t wave_in_device, const std::string& file,
                              const WaveFormatRecord&,
                              const WaveFormatRecord& file_format,
                              int32_t size_value, bool report_levels) {
  if (recording_) EndRecording();
  if (faults_.record_result != 0) return faults_.record_result;
  std::error_code ec;
  const std::filesystem::path parent =
      std::filesystem::path(file).parent_path();
  if (!std::filesystem::is_directory(parent.empty() ? "." : parent, ec))
    return kFakeWaveCannotCreate;
  if (std::filesystem::exists(file, ec)) return kWaveFileExists;
  recordings_.push_back({file, wave_in_device, file_format, size_value,
                         report_levels, detect_silence_, cut_silence_,
                         silence_level_, clock_.TickCount()});
  recording_ = true;
  return 0;
}

int32_t FakeWave::StopRecord() {
  return recording_ ? EndRecording() : kFakeWaveNotRecording;
}

int32_t FakeWave::EndRecording() {
  recording_ = false;
  monitoring_ = false;
  const FakeRecording& r = recordings_.back();
  const uint32_t ms = clock_.TickCount() - r.start_tick;
  if (!WriteMarkerFile(r.file, "recording")) return kFakeWaveCannotCreate;
  files_.Set(r.file, {static_cast<int16_t>(r.file_format.format_tag),
                      static_cast<int16_t>(r.file_format.channels),
                      static_cast<int32_t>(r.file_format.samples_per_sec),
                      static_cast<int32_t>(ms / 1000)});
  return 0;
}

int32_t FakeWave::StartMonitor(const WaveFormatRecord&, int32_t local_device) {
  if (!recording_) return kFakeWaveNotRecording;
  if (local_device < 0 || local_device >= GetWaveDeviceCount()) return 1;
  monitoring_ = true;
  return 0;
}

void FakeWave::StopMonitor() { monitoring_ = false; }

bool FakeWave::ReportLevel(int16_t level) {
  if (!recording_ || !recordings_.back().report_levels) return false;
  if (events_.LevelReport) events_.LevelReport(level);
  return true;
}

std::string FakeWave::GetPlayErrorText(int32_t code) {
  if (code == kFakeWaveFileNotFound) return "File not found";
  return "Play error " + std::to_string(code);
}

std::string FakeWave::GetRecordErrorText(int32_t code) {
  return "Record error " + std::to_string(code);
}

int32_t FakeWave::GetFileInfo(const std::string& file, WaveFileInfo& info) {
  const WaveFileInfo* known = files_.Find(file);
  if (known == nullptr) return kFakeWaveFileNotFound;
  info = *known;
  return 0;
}

int32_t FakeWave::GetWaveDeviceCount() {
  return static_cast<int32_t>(sound_devices_.OutputNames().size());
}

std::string FakeWave::GetDeviceCaps(int32_t index) {
  const std::vector<std::string> names = sound_devices_.OutputNames();
  if (index < 0 || index >= static_cast<int32_t>(names.size())) return "";
  return names[index];
}

void FakeWave::SetDetectSilence(bool on) { detect_silence_ = on; }
void FakeWave::SetCutSilence(bool on) { cut_silence_ = on; }
void FakeWave::SetSilenceLevel(int32_t level) { silence_level_ = level; }
void FakeWave::SetFreqDetect(bool on) { freq_detect_ = on; }

}  // namespace lw
