#include "devices/fake/fake_wave.h"

#include <filesystem>
#include <fstream>
#include <utility>

namespace lw {

namespace {

std::string Bool(bool b) { return b ? "True" : "False"; }

void Put16(std::string& out, uint32_t v) {
  out.push_back(static_cast<char>(v & 0xFF));
  out.push_back(static_cast<char>((v >> 8) & 0xFF));
}

void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}

bool FolderOf(const std::string& file) {
  std::error_code ec;
  std::filesystem::path parent = std::filesystem::path(file).parent_path();
  if (parent.empty()) parent = ".";
  return std::filesystem::is_directory(parent, ec);
}

}  // namespace

bool WriteSilentWave(const std::string& file, const WaveFormatRecord& format,
                     uint32_t length_ms) {
  const bool pcm = format.format_tag == 1;
  uint64_t block = format.block_align == 0 ? 1 : format.block_align;
  // GSM 6.10 in whole pairs of blocks, as readers of odd block counts add
  // junk samples.
  if (format.format_tag == 49) block *= 2;
  uint64_t data_size =
      static_cast<uint64_t>(format.avg_bytes_per_sec) * length_ms / 1000;
  data_size -= data_size % block;
  const uint16_t extra = format.extra_size > sizeof format.extra
                             ? sizeof format.extra
                             : format.extra_size;
  const uint32_t fmt_size = pcm ? 16 : 18 + extra;

  std::string head;
  head += "RIFF";
  const uint32_t riff_size = 4 + (8 + fmt_size) + (pcm ? 0 : 12) +
                             (8 + static_cast<uint32_t>(data_size));
  Put32(head, riff_size);
  head += "WAVEfmt ";
  Put32(head, fmt_size);
  Put16(head, format.format_tag);
  Put16(head, format.channels);
  Put32(head, format.samples_per_sec);
  Put32(head, format.avg_bytes_per_sec);
  Put16(head, format.block_align);
  Put16(head, format.bits_per_sample);
  if (!pcm) {
    Put16(head, extra);
    head.append(reinterpret_cast<const char*>(format.extra), extra);
    head += "fact";
    Put32(head, 4);
    // Samples in the data, from the byte rate.
    Put32(head, format.avg_bytes_per_sec == 0
                    ? 0
                    : static_cast<uint32_t>(data_size * format.samples_per_sec /
                                            format.avg_bytes_per_sec));
  }
  head += "data";
  Put32(head, static_cast<uint32_t>(data_size));

  // Silence: mid-scale for 8-bit PCM, 0xFF for mu-law, zero otherwise.
  char fill = 0;
  if (pcm && format.bits_per_sample == 8) fill = static_cast<char>(0x80);
  if (format.format_tag == 7) fill = static_cast<char>(0xFF);

  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out << head;
  const std::string chunk(4096, fill);
  for (uint64_t left = data_size; left > 0;) {
    const uint64_t n = left < chunk.size() ? left : chunk.size();
    out.write(chunk.data(), static_cast<std::streamsize>(n));
    left -= n;
  }
  out.close();
  return static_cast<bool>(out);
}

FakeWave::FakeWave(Clock& clock, FakeWaveFiles& files,
                   SoundDevices& sound_devices)
    : clock_(clock), files_(files), sound_devices_(sound_devices) {}

FakeWave::~FakeWave() = default;

void FakeWave::Initialize() {
  ops_.push_back("Initialize");
  initialized_ = true;
}

void FakeWave::Terminate() {
  ops_.push_back("Terminate");
  EndPlay();
  if (recording_) EndRecording();
  initialized_ = false;
}

int32_t FakeWave::StartPlayACM(const std::string& file,
                               const WaveFormatRecord& device_format,
                               int32_t wave_out_device, int32_t size_value) {
  ops_.push_back("StartPlayACM(" + file + "," +
                 std::to_string(device_format.format_tag) + "," +
                 std::to_string(wave_out_device) + "," +
                 std::to_string(size_value) + ")");
  return StartPlay({file, true, device_format, wave_out_device, size_value});
}

int32_t FakeWave::PlayFile(const std::string& file, int32_t local_device,
                           int32_t size_value) {
  ops_.push_back("PlayFile(" + file + "," + std::to_string(local_device) + "," +
                 std::to_string(size_value) + ")");
  return StartPlay({file, false, {}, local_device, size_value});
}

int32_t FakeWave::StartPlay(FakePlay play) {
  EndPlay();
  if (faults_.play_result != 0) return faults_.play_result;
  if (files_.Find(play.file) == nullptr) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(play.file, ec)) {
      return kFakeWaveFileNotFound;
    }
  }
  playing_ = true;
  plays_.push_back(std::move(play));
  return 0;
}

void FakeWave::EndPlay() { playing_ = false; }

void FakeWave::StopPlay() {
  ops_.push_back("StopPlay");
  EndPlay();
}

bool FakeWave::FinishPlay() {
  if (!playing_) return false;
  EndPlay();
  if (events_.PlayDone) events_.PlayDone();
  return true;
}

int32_t FakeWave::StartRecord(int32_t wave_in_device, const std::string& file,
                              const WaveFormatRecord& device_format,
                              const WaveFormatRecord& file_format,
                              int32_t size_value, bool report_levels) {
  ops_.push_back("StartRecord(" + std::to_string(wave_in_device) + "," + file +
                 "," + std::to_string(device_format.format_tag) + "," +
                 std::to_string(file_format.format_tag) + "," +
                 std::to_string(size_value) + "," + Bool(report_levels) + ")");
  if (recording_) EndRecording();
  if (faults_.record_result != 0) return faults_.record_result;
  if (!FolderOf(file)) return kFakeWaveCannotCreate;
  FakeRecording r;
  r.file = file;
  r.device = wave_in_device;
  r.device_format = device_format;
  r.file_format = file_format;
  r.size_value = size_value;
  r.report_levels = report_levels;
  r.detect_silence = detect_silence_;
  r.cut_silence = cut_silence_;
  r.silence_level = silence_level_;
  r.start_tick = clock_.TickCount();
  recordings_.push_back(std::move(r));
  recording_ = true;
  return 0;
}

int32_t FakeWave::StopRecord() {
  ops_.push_back("StopRecord");
  if (!recording_) return kFakeWaveNotRecording;
  const int32_t result = EndRecording();
  return result != 0 ? result : faults_.stop_record_result;
}

int32_t FakeWave::EndRecording() {
  recording_ = false;
  monitoring_ = false;
  FakeRecording& r = recordings_.back();
  const uint32_t ms = clock_.TickCount() - r.start_tick;
  r.length_ms = ms;
  if (!WriteSilentWave(r.file, r.file_format, ms)) return kFakeWaveCannotCreate;
  WaveFileInfo info;
  info.format_tag = static_cast<int16_t>(r.file_format.format_tag);
  info.channels = static_cast<int16_t>(r.file_format.channels);
  info.samples_per_sec = static_cast<int32_t>(r.file_format.samples_per_sec);
  info.seconds = static_cast<int32_t>(ms / 1000);
  files_.Set(r.file, info);
  return 0;
}

int32_t FakeWave::StartMonitor(const WaveFormatRecord& device_format,
                               int32_t local_device) {
  ops_.push_back("StartMonitor(" + std::to_string(device_format.format_tag) +
                 "," + std::to_string(local_device) + ")");
  if (!recording_) return kFakeWaveNotRecording;
  if (local_device < 0 || local_device >= GetWaveDeviceCount()) {
    return kFakeWaveBadDevice;
  }
  if (faults_.monitor_result != 0) return faults_.monitor_result;
  monitoring_ = true;
  return 0;
}

void FakeWave::StopMonitor() {
  ops_.push_back("StopMonitor");
  monitoring_ = false;
}

bool FakeWave::ReportLevel(int16_t level) {
  if (!recording_ || !recordings_.back().report_levels) return false;
  if (events_.LevelReport) events_.LevelReport(level);
  return true;
}

std::string FakeWave::GetPlayErrorText(int32_t code) {
  switch (code) {
    case 0:
      return "Playing";
    case kFakeWaveFileNotFound:
      return "File not found";
    default:
      return "Play error " + std::to_string(code);
  }
}

std::string FakeWave::GetRecordErrorText(int32_t code) {
  switch (code) {
    case 0:
      return "Recording";
    case kFakeWaveCannotCreate:
      return "Cannot create the file";
    case kFakeWaveNotRecording:
      return "Not recording";
    default:
      return "Record error " + std::to_string(code);
  }
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

void FakeWave::SetDetectSilence(bool on) {
  ops_.push_back("DetectSilence=" + Bool(on));
  detect_silence_ = on;
}

void FakeWave::SetCutSilence(bool on) {
  ops_.push_back("CutSilence=" + Bool(on));
  cut_silence_ = on;
}

void FakeWave::SetSilenceLevel(int32_t level) {
  ops_.push_back("SilenceLevel=" + std::to_string(level));
  silence_level_ = level;
}

void FakeWave::SetFreqDetect(bool on) {
  ops_.push_back("FreqDetect=" + Bool(on));
  freq_detect_ = on;
}

}  // namespace lw
