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

}  // namespace lw
