#include "drivers/sndfile_wave/sndfile_wave.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <system_error>
#include <utility>
#include <vector>

#include "base/descriptors.h"
#include "base/wave_file_header.h"
#include "drivers/sndfile_wave/sound_file_source.h"
#include "dsp/levels.h"

namespace lw {
namespace {

constexpr uint32_t kBlockMs = 20;
constexpr int kBlocksPerSecond = 1000 / kBlockMs;
// Local playback keeps this many blocks queued ahead of the clock.
constexpr uint64_t kLocalLeadBlocks = 5;
constexpr size_t kLevelWindowSamples = kLineSampleRate / 10;  // 100 ms
constexpr size_t kCutFrameSamples = kLineBlockSamples;        // 20 ms
constexpr int kCutHangFrames = 25;                            // 0.5 s
// GSM 6.10 in wave files packs two 160-sample frames per block; the library
// reads an odd number of blocks back with a block of noise at the end.
constexpr uint64_t kGsmPairSamples = 640;

constexpr uint16_t kTagPcm = 1;
constexpr uint16_t kTagFloat = 3;
constexpr uint16_t kTagALaw = 6;
constexpr uint16_t kTagMuLaw = 7;
constexpr uint16_t kTagTrueSpeech = 34;
constexpr uint16_t kTagGsm610 = 49;

int32_t PlayOpenErrorCode(SoundFileSource::OpenError error) {
  switch (error) {
    case SoundFileSource::OpenError::kNotFound:
      return kWaveFileNotFound;
    case SoundFileSource::OpenError::kConversion:
      return kWaveConversionFailed;
    default:
      return kWaveNotWaveFile;
  }
}

// Wave format tag of a coding the library decodes (for files whose header
// could not be read by hand).
uint16_t TagOfSubtype(int format) {
  switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
    case SF_FORMAT_PCM_16:
    case SF_FORMAT_PCM_24:
    case SF_FORMAT_PCM_32:
      return kTagPcm;
    case SF_FORMAT_FLOAT:
    case SF_FORMAT_DOUBLE:
      return kTagFloat;
    case SF_FORMAT_ULAW:
      return kTagMuLaw;
    case SF_FORMAT_ALAW:
      return kTagALaw;
    case SF_FORMAT_GSM610:
      return kTagGsm610;
    case SF_FORMAT_IMA_ADPCM:
      return 0x11;
    case SF_FORMAT_MS_ADPCM:
      return 0x02;
    default:
      return 0;
  }
}

}  // namespace

struct SndfileWave::Impl : public LinePlaySource {
  Impl(Clock& c, LineAudioHub& l, SoundDevices& d, LocalSoundOutputFactory o)
      : clock(c), lines(l), sound_devices(d), outputs(std::move(o)) {
    play_timer = clock.CreateTimer([this] { OnPlayTick(); });
    play_timer->SetInterval(kBlockMs);
  }
  ~Impl() override { Terminate(); }

  // --- playback ---
  int32_t StartLinePlay(const std::string& file, int32_t device);
  int32_t StartLocalPlay(const std::string& file, int32_t local_device);
  void OnPlayTick();
  // The line pulls the file's next block.
  size_t Pull(std::span<int16_t> block) override;
  void LineGone() override;
  // Keeps the local device fed ahead of the clock; false if it failed.
  bool FeedLocal();
  void EndPlay();
  void RaisePlayDone();

  // --- recording ---
  int32_t StartRecord(int32_t device, const std::string& file,
                      uint16_t file_tag, bool report_levels);
  int32_t StopRecord();
  void OnRecorded(uint64_t generation, std::span<const int16_t> samples);
  void WriteFile(std::span<const int16_t> samples);
  void DetachRecordSink();

  void Terminate() {
    EndPlay();
    if (recording) StopRecord();
    StopMonitor();
  }
  void StopMonitor() {
    if (monitor) monitor->Stop();
    monitor.reset();
  }
  void Note(const std::string& text) {
    if (auto handler = note) handler(text);
  }
  std::string DeviceName(int32_t index) {
    std::vector<std::string> names = sound_devices.OutputNames();
    if (index < 0 || static_cast<size_t>(index) >= names.size()) return "";
    return names[static_cast<size_t>(index)];
  }
  bool DeviceExists(int32_t index) {
    return index >= 0 &&
           static_cast<size_t>(index) < sound_devices.OutputNames().size();
  }
  std::unique_ptr<LocalSoundOutput> OpenOutput(int32_t index, int rate) {
    auto output = outputs ? outputs() : nullptr;
    if (!output) {
      device_error = "no sound output";
      return nullptr;
    }
    if (!output->Open(DeviceName(index), rate)) {
      device_error = output->Error();
      return nullptr;
    }
    return output;
  }

  Clock& clock;
  LineAudioHub& lines;
  SoundDevices& sound_devices;
  LocalSoundOutputFactory outputs;
  WaveEvents events;
  NoteHandler note;
  std::string device_error;  // detail of the last device failure

  bool detect_silence = false;
  bool cut_silence = false;
  int32_t silence_level = 0;
  bool freq_detect = false;
  bool true_speech_noted = false;

  enum class PlayKind { kNone, kLine, kLocal };
  std::unique_ptr<Timer> play_timer;
  PlayKind play_kind = PlayKind::kNone;
  int32_t play_device = 0;
  LineAudioEndpoint* play_endpoint = nullptr;  // while it pulls this play
  std::unique_ptr<SoundFileSource> source;
  std::unique_ptr<LocalSoundOutput> play_output;
  uint64_t play_ticks = 0;
  uint64_t play_written = 0;
  bool source_done = false;
  bool finishing = false;
  bool drained = false;
  uint64_t play_generation = 0;

  bool recording = false;
  int32_t rec_device = 0;
  LineAudioEndpoint* rec_endpoint = nullptr;
  SNDFILE* rec_file = nullptr;
  int rec_fd = -1;
  std::string rec_path;
  bool rec_gsm = false;
  bool rec_report_levels = false;
  bool rec_write_failed = false;
  uint64_t rec_written = 0;
  LevelMeter level_meter{kLevelWindowSamples};
  std::optional<SilenceCutter> cutter;  // while cutting silence
  uint64_t rec_generation = 0;
  std::unique_ptr<LocalSoundOutput> monitor;
  // Lets posted handlers know the component is gone.
  std::shared_ptr<bool> alive = std::make_shared<bool>(true);
};

// ---------------------------------------------------------------- playback

int32_t SndfileWave::Impl::StartLinePlay(const std::string& file,
                                         int32_t device) {
  EndPlay();
  LineAudioEndpoint* endpoint = lines.Find(device);
  if (endpoint == nullptr) return kWaveNoDevice;
  SoundFileSource::OpenError error;
  source = SoundFileSource::Open(file, kLineSampleRate, error);
  if (!source) return PlayOpenErrorCode(error);
  play_kind = PlayKind::kLine;
  play_device = device;
  play_endpoint = endpoint;
  endpoint->AddPlaySource(this);
  return kWaveOk;
}

int32_t SndfileWave::Impl::StartLocalPlay(const std::string& file,
                                          int32_t local_device) {
  EndPlay();
  if (!DeviceExists(local_device)) return kWaveNoDevice;
  SoundFileSource::OpenError error;
  source = SoundFileSource::Open(file, 0, error);
  if (!source) return PlayOpenErrorCode(error);
  play_output = OpenOutput(local_device, source->rate());
  if (!play_output) {
    source.reset();
    return kWaveDeviceFailed;
  }
  play_kind = PlayKind::kLocal;
  play_device = local_device;
  if (!FeedLocal()) {
    EndPlay();
    return kWaveDeviceFailed;
  }
  play_timer->SetEnabled(true);
  return kWaveOk;
}

// The line pulls one block after another; the pull after the last block
// comes once that block has been played, so PlayDone goes out then.
size_t SndfileWave::Impl::Pull(std::span<int16_t> block) {
  if (play_kind != PlayKind::kLine) return 0;
  const size_t n = source_done ? 0 : source->Read(block);
  if (n < block.size()) source_done = true;
  if (n > 0) return n;
  play_endpoint = nullptr;  // detached by answering 0
  const uint64_t generation = play_generation;
  clock.Post([this, generation, weak = std::weak_ptr<bool>(alive)] {
    if (!weak.expired() && generation == play_generation) RaisePlayDone();
  });
  return 0;
}

void SndfileWave::Impl::LineGone() {
  play_endpoint = nullptr;
  const int32_t device = play_device;
  EndPlay();
  Note("Wave: line device " + std::to_string(device) +
       " vanished while playing");
}

bool SndfileWave::Impl::FeedLocal() {
  int rate = source->rate();
  uint64_t target = (play_ticks + kLocalLeadBlocks) *
                    static_cast<uint64_t>(rate) / kBlocksPerSecond;
  std::vector<int16_t> buffer;
  while (!source_done && play_written < target) {
    buffer.resize(
        static_cast<size_t>(std::min<uint64_t>(target - play_written, 4096)));
    size_t n = source->Read(buffer);
    if (n < buffer.size()) source_done = true;
    if (n == 0) break;
    if (!play_output->Write(std::span<const int16_t>(buffer.data(), n))) {
      device_error = play_output->Error();
      return false;
    }
    play_written += n;
  }
  if (source_done && !finishing) {
    finishing = true;
    uint64_t generation = play_generation;
    play_output->Finish([this, generation] {
      if (generation == play_generation) drained = true;
    });
  }
  return true;
}

void SndfileWave::Impl::OnPlayTick() {
  ++play_ticks;
  switch (play_kind) {
    case PlayKind::kNone:
    case PlayKind::kLine:
      play_timer->SetEnabled(false);
      return;
    case PlayKind::kLocal:
      if (drained) {
        RaisePlayDone();
      } else if (!FeedLocal()) {
        int32_t device = play_device;
        EndPlay();
        Note("Wave: sound device " + std::to_string(device) +
             " failed while playing: " + device_error);
      }
      return;
  }
}

void SndfileWave::Impl::RaisePlayDone() {
  EndPlay();
  if (auto done = events.PlayDone) done();
}

void SndfileWave::Impl::EndPlay() {
  ++play_generation;
  play_timer->SetEnabled(false);
  // Numbers are never reused: a line that went away finds nothing here.
  if (play_endpoint != nullptr && lines.Find(play_device) == play_endpoint)
    play_endpoint->RemovePlaySource(this);
  play_endpoint = nullptr;
  play_kind = PlayKind::kNone;
  source.reset();
  if (play_output) play_output->Stop();
  play_output.reset();
  play_ticks = 0;
  play_written = 0;
  source_done = false;
  finishing = false;
  drained = false;
}

// --------------------------------------------------------------- recording

int32_t SndfileWave::Impl::StartRecord(int32_t device, const std::string& file,
                                       uint16_t file_tag, bool report_levels) {
  if (recording) StopRecord();
  LineAudioEndpoint* endpoint = lines.Find(device);
  if (endpoint == nullptr) return kWaveNoDevice;
  int subtype = 0;
  switch (file_tag) {
    case kTagPcm:
      subtype = SF_FORMAT_PCM_16;
      break;
    case kTagMuLaw:
      subtype = SF_FORMAT_ULAW;
      break;
    case kTagALaw:
      subtype = SF_FORMAT_ALAW;
      break;
    case kTagGsm610:
      subtype = SF_FORMAT_GSM610;
      break;
    case kTagTrueSpeech:
      subtype = SF_FORMAT_GSM610;
      if (!true_speech_noted) {
        true_speech_noted = true;
        Note(
            "Wave: TrueSpeech cannot be recorded here; recordings are made in "
            "GSM 6.10 instead");
      }
      break;
    default:
      return kWaveUnsupportedFormat;
  }
  SF_INFO info{};
  info.samplerate = kLineSampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | subtype;
  // Created exclusively: a recording never writes over a file that is there
  // (an earlier call's recording of the same name).
  const int fd = OpenFile(file, O_RDWR | O_CREAT | O_EXCL);
  if (fd < 0) return errno == EEXIST ? kWaveFileExists : kWaveCannotCreate;
  // The descriptor stays ours (closed after the library is done with it).
  SNDFILE* sf = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
  if (sf == nullptr) {
    ::close(fd);
    ::unlink(file.c_str());
    return kWaveCannotCreate;
  }
  // The library rewrites the header after every write, so a recording cut
  // off by a crash is a readable file up to the last block written (a
  // block written just before the header is caught up by RepairFile).
  sf_command(sf, SFC_SET_UPDATE_HEADER_AUTO, nullptr, SF_TRUE);

  recording = true;
  rec_device = device;
  rec_endpoint = endpoint;
  rec_file = sf;
  rec_fd = fd;
  rec_path = file;
  rec_gsm = subtype == SF_FORMAT_GSM610;
  rec_report_levels = report_levels;
  rec_write_failed = false;
  rec_written = 0;
  level_meter.Reset();
  cutter.reset();
  if (cut_silence) {
    cutter.emplace(kCutFrameSamples, kCutHangFrames, silence_level);
  }
  uint64_t generation = ++rec_generation;
  Impl* self = this;
  endpoint->SetRecordSink([self, generation](std::span<const int16_t> samples) {
    // Nothing of this closure is touched after the call: a handler
    // raised inside may stop the recording and so replace the sink.
    self->OnRecorded(generation, samples);
  });
  return kWaveOk;
}

void SndfileWave::Impl::OnRecorded(uint64_t generation,
                                   std::span<const int16_t> samples) {
  if (!recording || generation != rec_generation) return;
  if (monitor && !monitor->Write(samples)) {
    device_error = monitor->Error();
    StopMonitor();
    Note("Wave: listening stopped, the sound device failed: " + device_error);
  }
  // Split at the edges of the 100 ms level windows, so each report covers
  // exactly its window and follows the samples it describes.
  auto write = [this](std::span<const int16_t> kept) { WriteFile(kept); };
  while (!samples.empty()) {
    size_t n = std::min(samples.size(), level_meter.Room());
    std::span<const int16_t> part = samples.first(n);
    samples = samples.subspan(n);
    std::optional<int16_t> level = level_meter.Add(part);
    if (cutter) {
      cutter->Add(part, write);
    } else {
      WriteFile(part);
    }
    if (level && rec_report_levels) {
      int16_t reported = *level;
      if (auto report = events.LevelReport) report(reported);
      if (!recording || generation != rec_generation) return;
    }
  }
}

void SndfileWave::Impl::WriteFile(std::span<const int16_t> samples) {
  if (rec_file == nullptr || samples.empty() || rec_write_failed) return;
  sf_count_t n = static_cast<sf_count_t>(samples.size());
  if (sf_writef_short(rec_file, samples.data(), n) != n) {
    rec_write_failed = true;
    return;
  }
  rec_written += samples.size();
}

void SndfileWave::Impl::DetachRecordSink() {
  // The line driver may have taken its endpoint away meanwhile; only a
  // still-registered endpoint is touched.
  LineAudioEndpoint* endpoint = lines.Find(rec_device);
  if (endpoint != nullptr && endpoint == rec_endpoint)
    endpoint->SetRecordSink(nullptr);
  rec_endpoint = nullptr;
}

int32_t SndfileWave::Impl::StopRecord() {
  if (!recording) return kWaveNotRecording;
  DetachRecordSink();
  StopMonitor();
  if (cutter) {
    cutter->Flush([this](std::span<const int16_t> kept) { WriteFile(kept); });
    cutter.reset();
  }
  if (rec_gsm && rec_written % kGsmPairSamples != 0) {
    std::vector<int16_t> silence(kGsmPairSamples -
                                 rec_written % kGsmPairSamples);
    WriteFile(silence);
  }
  bool failed = rec_write_failed;
  if (sf_close(rec_file) != 0) failed = true;
  if (::close(rec_fd) != 0) failed = true;
  rec_file = nullptr;
  rec_fd = -1;
  // A file that took no sound because writing failed (a full disk) holds
  // nothing worth keeping: no empty recording is left behind.
  if (failed && rec_written == 0) ::unlink(rec_path.c_str());
  recording = false;
  ++rec_generation;
  return failed ? kWaveWriteFailed : kWaveOk;
}

// -------------------------------------------------------------- SndfileWave

SndfileWave::SndfileWave(Clock& clock, LineAudioHub& lines,
                         SoundDevices& sound_devices,
                         LocalSoundOutputFactory outputs)
    : impl_(std::make_unique<Impl>(clock, lines, sound_devices,
                                   std::move(outputs))) {}

SndfileWave::~SndfileWave() = default;

void SndfileWave::SetNoteHandler(NoteHandler handler) {
  impl_->note = std::move(handler);
}
void SndfileWave::SetEvents(WaveEvents events) {
  impl_->events = std::move(events);
}
void SndfileWave::Initialize() {}
void SndfileWave::Terminate() { impl_->Terminate(); }

int32_t SndfileWave::StartPlayACM(const std::string& file,
                                  const WaveFormatRecord& /*device_format*/,
                                  int32_t wave_out_device,
                                  int32_t /*size_value*/) {
  return impl_->StartLinePlay(file, wave_out_device);
}

int32_t SndfileWave::PlayFile(const std::string& file, int32_t local_device,
                              int32_t /*size_value*/) {
  return impl_->StartLocalPlay(file, local_device);
}

void SndfileWave::StopPlay() { impl_->EndPlay(); }
bool SndfileWave::IsPlaying() {
  return impl_->play_kind != Impl::PlayKind::kNone;
}

int32_t SndfileWave::StartRecord(int32_t wave_in_device,
                                 const std::string& file,
                                 const WaveFormatRecord& /*device_format*/,
                                 const WaveFormatRecord& file_format,
                                 int32_t /*size_value*/, bool report_levels) {
  return impl_->StartRecord(wave_in_device, file, file_format.format_tag,
                            report_levels);
}

int32_t SndfileWave::StopRecord() { return impl_->StopRecord(); }
bool SndfileWave::IsRecording() { return impl_->recording; }

bool SndfileWave::IsHalfDuplex(int32_t line_device) {
  return impl_->lines.HalfDuplex(line_device);
}

int32_t SndfileWave::StartMonitor(const WaveFormatRecord& /*device_format*/,
                                  int32_t local_device) {
  if (!impl_->recording) return kWaveNotRecording;
  impl_->StopMonitor();
  if (!impl_->DeviceExists(local_device)) return kWaveNoDevice;
  impl_->monitor = impl_->OpenOutput(local_device, kLineSampleRate);
  if (!impl_->monitor) return kWaveDeviceFailed;
  // A little silence first gives the device room for the line's jitter.
  std::vector<int16_t> lead(kLocalLeadBlocks * kLineBlockSamples);
  impl_->monitor->Write(lead);
  return kWaveOk;
}

void SndfileWave::StopMonitor() { impl_->StopMonitor(); }
bool SndfileWave::IsMonitoring() { return impl_->monitor != nullptr; }

std::string SndfileWave::GetPlayErrorText(int32_t code) {
  switch (code) {
    case kWaveOk:
      return "Success";
    case kWaveNoDevice:
      return "No such sound device";
    case kWaveFileNotFound:
      return "File not found";
    case kWaveNotWaveFile:
      return "Not a readable wave file";
    case kWaveConversionFailed:
      return "The sound cannot be converted to the device's format";
    case kWaveDeviceFailed:
      return impl_->device_error.empty()
                 ? "The sound device cannot be used"
                 : "The sound device cannot be used: " + impl_->device_error;
    case kWaveCannotCreate:
      return "The file cannot be created";
    case kWaveUnsupportedFormat:
      return "Unsupported recording format";
    case kWaveNotRecording:
      return "Not recording";
    case kWaveWriteFailed:
      return "Writing the file failed";
    case kWaveFileExists:
      return "The file exists already";
    default:
      return "Wave error " + std::to_string(code);
  }
}

std::string SndfileWave::GetRecordErrorText(int32_t code) {
  return GetPlayErrorText(code);
}

int32_t SndfileWave::GetFileInfo(const std::string& file, WaveFileInfo& info) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return kWaveFileNotFound;
  std::optional<WaveFileHeader> header = ReadWaveFileHeader(file);
  SF_INFO sf_info{};
  SNDFILE* sf = OpenSoundFile(file, &sf_info);
  if (sf != nullptr) {
    sf_close(sf);
    int type = sf_info.format & SF_FORMAT_TYPEMASK;
    if ((type != SF_FORMAT_WAV && type != SF_FORMAT_WAVEX &&
         type != SF_FORMAT_RF64) ||
        sf_info.samplerate <= 0) {
      return kWaveNotWaveFile;
    }
    int64_t frames = sf_info.frames;
    if (header && header->fact_samples &&
        (sf_info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_GSM610) {
      frames = std::min<int64_t>(frames, *header->fact_samples);
    }
    info.format_tag = static_cast<int16_t>(
        header ? header->format_tag : TagOfSubtype(sf_info.format));
    info.channels = static_cast<int16_t>(sf_info.channels);
    info.samples_per_sec = sf_info.samplerate;
    info.seconds = static_cast<int32_t>(
        std::min<int64_t>(frames / sf_info.samplerate, INT32_MAX));
    return kWaveOk;
  }
  // Codings the library cannot decode (TrueSpeech recordings of an older
  // installation): the header still tells the format and the length.
  if (!header || header->samples_per_sec == 0) return kWaveNotWaveFile;
  int64_t seconds = 0;
  if (header->fact_samples) {
    seconds = *header->fact_samples / header->samples_per_sec;
  } else if (header->avg_bytes_per_sec > 0) {
    seconds =
        static_cast<int64_t>(header->data_bytes / header->avg_bytes_per_sec);
  }
  info.format_tag = static_cast<int16_t>(header->format_tag);
  info.channels = static_cast<int16_t>(header->channels);
  info.samples_per_sec = static_cast<int32_t>(
      std::min<uint32_t>(header->samples_per_sec, INT32_MAX));
  info.seconds = static_cast<int32_t>(std::min<int64_t>(seconds, INT32_MAX));
  return kWaveOk;
}

int32_t SndfileWave::RepairFile(const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) return kWaveFileNotFound;
  return RepairWaveFileHeader(file) ? kWaveOk : kWaveNotWaveFile;
}

std::string SndfileWave::SecondsToText(int32_t seconds) {
  return WaveSecondsText(seconds);
}

int32_t SndfileWave::GetWaveDeviceCount() {
  return static_cast<int32_t>(impl_->sound_devices.OutputNames().size());
}

std::string SndfileWave::GetDeviceCaps(int32_t index) {
  return impl_->DeviceName(index);
}

void SndfileWave::SetDetectSilence(bool on) { impl_->detect_silence = on; }
bool SndfileWave::DetectSilence() { return impl_->detect_silence; }
void SndfileWave::SetCutSilence(bool on) { impl_->cut_silence = on; }
bool SndfileWave::CutSilence() { return impl_->cut_silence; }
void SndfileWave::SetSilenceLevel(int32_t level) {
  impl_->silence_level = level;
}
int32_t SndfileWave::SilenceLevel() { return impl_->silence_level; }
void SndfileWave::SetFreqDetect(bool on) { impl_->freq_detect = on; }
bool SndfileWave::FreqDetect() { return impl_->freq_detect; }

}  // namespace lw
