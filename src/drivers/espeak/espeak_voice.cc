#include "drivers/espeak/espeak_voice.h"

#include <sndfile.h>
#include <soxr.h>
#include <sys/stat.h>

#include <algorithm>
#include <utility>

namespace lw {
namespace {

bool DataFolderExists(const std::string& data_path) {
  if (data_path.empty()) return true;  // the installed data: the engine checks
  struct stat st;
  return stat((data_path + "/espeak-ng-data/phontab").c_str(), &st) == 0;
}

// Mono 16-bit samples from rate `from` to rate `to`. Empty on failure.
std::vector<int16_t> Resample(const std::vector<int16_t>& in, int from,
                              int to) {
  if (from == to || in.empty()) return in;
  std::vector<int16_t> out(in.size() * static_cast<size_t>(to) / from + 16);
  size_t done = 0;
  soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
  soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
  soxr_error_t error =
      soxr_oneshot(from, to, 1, in.data(), in.size(), nullptr, out.data(),
                   out.size(), &done, &io, &quality, nullptr);
  if (error != nullptr) return {};
  out.resize(done);
  return out;
}

}  // namespace

EspeakVoice::EspeakVoice(Clock& clock, SoundDevices& sound_devices,
                         LineAudioHub& hub,
                         const LocalSoundOutputFactory& sound_output,
                         const std::string& data_path)
    : clock_(clock),
      sound_devices_(sound_devices),
      hub_(hub),
      sound_(sound_output()) {
  available_ =
      DataFolderExists(data_path) && EspeakEngine::Instance().Start(data_path);
  if (available_) voices_ = EspeakEngine::Instance().Voices();
  worker_ = std::thread([this] { RunWorker(); });
}

EspeakVoice::~EspeakVoice() {
  {
    std::lock_guard lock(mu_);
    quit_ = true;
    job_.reset();
  }
  quitting_ = true;
  cv_.notify_all();
  worker_.join();
  alive_.reset();
  StopLine();
}

std::vector<std::string> EspeakVoice::GetVoices() {
  std::vector<std::string> names;
  for (const EspeakVoiceEntry& v : voices_) names.push_back(v.description);
  return names;
}

int32_t EspeakVoice::SetVoice(int32_t index) {
  if (voices_.empty()) return kEspeakNoVoice;
  if (index < 0 || index >= static_cast<int32_t>(voices_.size())) {
    return kEspeakBadIndex;
  }
  voice_ = index;
  return 0;
}

void EspeakVoice::SetRate(int32_t rate) {
  rate_ = std::clamp(rate, kVoiceRateMin, kVoiceRateMax);
}

int32_t EspeakVoice::SetOutput(int32_t index) {
  if (index < 0 ||
      index >= static_cast<int32_t>(sound_devices_.OutputNames().size())) {
    return kEspeakBadIndex;
  }
  output_ = index;
  to_line_ = false;
  return 0;
}

int32_t EspeakVoice::SetLineOutput(int32_t wave_out_device) {
  if (wave_out_device < 0) return kEspeakBadIndex;
  line_device_ = wave_out_device;
  to_line_ = true;
  return 0;
}

void EspeakVoice::CutOff() {
  ++generation_;
  wanted_ = generation_;
  {
    std::lock_guard lock(mu_);
    job_.reset();
  }
  sound_->Stop();
  sound_name_.clear();
  StopLine();
  speaking_ = false;
  playing_local_ = false;
}

int32_t EspeakVoice::Speak(const std::string& text) {
  CutOff();
  if (text.empty()) return 0;
  if (!available_ || voices_.empty()) return kEspeakNoVoice;

  Job job;
  job.generation = generation_;
  job.request.identifier = voices_[voice_].identifier;
  job.request.words_per_minute = EspeakWordsPerMinute(rate_);
  job.request.text = text;
  job.request.markup = true;
  if (to_line_) {
    if (hub_.Find(line_device_) == nullptr) return kEspeakNoOutput;
    job.out_rate = kLineSampleRate;
    playing_line_device_ = line_device_;
  } else {
    std::vector<std::string> names = sound_devices_.OutputNames();
    if (output_ >= static_cast<int32_t>(names.size())) return kEspeakBadIndex;
    job.out_rate = EspeakEngine::Instance().SampleRate();
    playing_line_device_ = -1;
    if (sound_name_ != names[output_] || sound_rate_ != job.out_rate) {
      if (!sound_->Open(names[output_], job.out_rate)) {
        return kEspeakNoOutput;
      }
      sound_name_ = names[output_];
      sound_rate_ = job.out_rate;
    }
  }
  {
    std::lock_guard lock(mu_);
    job_ = std::move(job);
  }
  cv_.notify_all();
  speaking_ = true;
  return 0;
}

void EspeakVoice::RunWorker() {
  std::unique_lock lock(mu_);
  while (true) {
    cv_.wait(lock, [this] { return quit_ || job_.has_value(); });
    if (quit_) return;
    Job job = std::move(*job_);
    job_.reset();
    lock.unlock();

    std::vector<int16_t> samples;
    std::function<bool()> cancelled = [this, g = job.generation] {
      return quitting_.load() || wanted_.load() != g;
    };
    int result =
        EspeakEngine::Instance().Synthesize(job.request, cancelled, &samples);
    if (result == kEspeakSynthOk && !samples.empty()) {
      samples = Resample(samples, EspeakEngine::Instance().SampleRate(),
                         job.out_rate);
      if (samples.empty()) result = kEspeakSynthFailed;
    }
    if (result != kEspeakSynthCancelled) {
      clock_.Post([this, alive = std::weak_ptr<bool>(alive_),
                   generation = job.generation, result,
                   samples = std::move(samples)]() mutable {
        if (alive.expired()) return;
        OnSynthesized(generation, result, std::move(samples));
      });
    }
    lock.lock();
  }
}

void EspeakVoice::OnSynthesized(uint64_t generation, int result,
                                std::vector<int16_t> samples) {
  if (generation != generation_ || !speaking_) return;  // cut off meanwhile
  if (result != kEspeakSynthOk) {
    // Nothing can be heard: the text fails silently, without an end.
    speaking_ = false;
    return;
  }
  if (samples.empty()) {
    Finish();
    return;
  }
  // The output was fixed when the text was handed over.
  if (playing_line_device_ >= 0) {
    line_ = hub_.Find(playing_line_device_);
    if (line_ == nullptr) {
      Finish();  // the line went away meanwhile: nobody hears the text
      return;
    }
    line_pcm_ = std::move(samples);
    line_pos_ = 0;
    line_->AddPlaySource(this);
  } else {
    playing_local_ = true;
    sound_->Write(samples);
    sound_->Finish([this] { OnSoundDrained(); });
  }
}

size_t EspeakVoice::Pull(std::span<int16_t> block) {
  const size_t n = std::min(block.size(), line_pcm_.size() - line_pos_);
  std::copy_n(line_pcm_.begin() + static_cast<ptrdiff_t>(line_pos_), n,
              block.begin());
  line_pos_ += n;
  if (n > 0) return n;
  line_ = nullptr;  // detached by answering 0
  PostFinish(generation_);
  return 0;
}

void EspeakVoice::LineGone() {
  line_ = nullptr;
  PostFinish(generation_);
}

void EspeakVoice::PostFinish(uint64_t generation) {
  clock_.Post([this, alive = std::weak_ptr<bool>(alive_), generation] {
    if (!alive.expired() && generation == generation_ && speaking_) Finish();
  });
}

void EspeakVoice::StopLine() {
  // Numbers are never reused: a line that went away finds nothing here.
  if (line_ != nullptr && hub_.Find(playing_line_device_) == line_)
    line_->RemovePlaySource(this);
  line_ = nullptr;
  line_pcm_.clear();
  line_pos_ = 0;
}

void EspeakVoice::OnSoundDrained() {
  if (speaking_ && playing_local_) Finish();
}

void EspeakVoice::Finish() {
  StopLine();
  speaking_ = false;
  playing_local_ = false;
  // Last: the handler may speak again.
  if (events_.EndStream) events_.EndStream();
}

int32_t EspeakVoice::SaveTextToWav(const std::string& text,
                                   const std::string& file) {
  if (!available_ || voices_.empty()) return kEspeakNoVoice;
  std::vector<int16_t> samples;
  if (!text.empty()) {
    EspeakRequest request;
    request.identifier = voices_[voice_].identifier;
    request.words_per_minute = EspeakWordsPerMinute(rate_);
    request.text = text;
    int result =
        EspeakEngine::Instance().Synthesize(request, nullptr, &samples);
    if (result != kEspeakSynthOk) return kEspeakSynthError;
    if (!samples.empty()) {
      samples = Resample(samples, EspeakEngine::Instance().SampleRate(),
                         kLineSampleRate);
      if (samples.empty()) return kEspeakSynthError;
    }
  }
  SF_INFO info{};
  info.samplerate = kLineSampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* wav = sf_open(file.c_str(), SFM_WRITE, &info);
  if (wav == nullptr) return kEspeakCannotWrite;
  sf_count_t written = sf_write_short(wav, samples.data(),
                                      static_cast<sf_count_t>(samples.size()));
  int closed = sf_close(wav);
  if (written != static_cast<sf_count_t>(samples.size()) || closed != 0) {
    return kEspeakCannotWrite;
  }
  return 0;
}

}  // namespace lw
