#include "drivers/sndfile_wave/sound_file_source.h"

#include <fcntl.h>
#include <soxr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "base/descriptors.h"
#include "base/wave_file_header.h"

namespace lw {
namespace {

constexpr sf_count_t kChunkFrames = 1024;

bool IsWaveContainer(int format) {
  int type = format & SF_FORMAT_TYPEMASK;
  return type == SF_FORMAT_WAV || type == SF_FORMAT_WAVEX ||
         type == SF_FORMAT_RF64;
}

int16_t ToSample(float v) {
  float scaled = std::nearbyint(v * 32768.0f);
  return static_cast<int16_t>(std::clamp(scaled, -32768.0f, 32767.0f));
}

}  // namespace

struct SoundFileSource::Handles {
  SNDFILE* file = nullptr;
  soxr_t resampler = nullptr;
  ~Handles() {
    if (resampler != nullptr) soxr_delete(resampler);
    if (file != nullptr) sf_close(file);
  }
};

SNDFILE* OpenSoundFile(const std::string& path, SF_INFO* info) {
  const int fd = OpenFile(path, O_RDONLY);
  if (fd < 0) return nullptr;
  // The library closes the descriptor with the file, or at once on failure.
  return sf_open_fd(fd, SFM_READ, info, SF_TRUE);
}

SoundFileSource::~SoundFileSource() = default;

std::unique_ptr<SoundFileSource> SoundFileSource::Open(const std::string& path,
                                                       int rate,
                                                       OpenError& error) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec)) {
    error = OpenError::kNotFound;
    return nullptr;
  }
  std::unique_ptr<SoundFileSource> source(new SoundFileSource);
  source->h_ = std::make_unique<Handles>();
  SF_INFO info{};
  source->h_->file = OpenSoundFile(path, &info);
  if (source->h_->file == nullptr || !IsWaveContainer(info.format) ||
      info.channels < 1 || info.samplerate < 1 || info.frames < 0) {
    error = OpenError::kNotWave;
    return nullptr;
  }
  source->channels_ = info.channels;
  source->in_rate_ = info.samplerate;
  source->out_rate_ = rate > 0 ? rate : info.samplerate;
  source->frames_left_ = info.frames;
  if ((info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_GSM610) {
    // The library pads an odd last block with a block of noise; the fact
    // chunk knows where the sound really ends.
    if (auto header = ReadWaveFileHeader(path); header && header->fact_samples)
      source->frames_left_ =
          std::min<int64_t>(source->frames_left_, *header->fact_samples);
  }
  if (source->in_rate_ != source->out_rate_) {
    soxr_error_t soxr_error = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_MQ, 0);
    source->h_->resampler = soxr_create(source->in_rate_, source->out_rate_, 1,
                                        &soxr_error, &io, &quality, nullptr);
    if (source->h_->resampler == nullptr || soxr_error != nullptr) {
      error = OpenError::kConversion;
      return nullptr;
    }
  }
  error = OpenError::kNone;
  return source;
}

size_t SoundFileSource::Read(std::span<int16_t> out) {
  size_t filled = 0;
  while (filled < out.size()) {
    if (ready_pos_ == ready_.size()) {
      ready_.clear();
      ready_pos_ = 0;
      if (!Refill()) break;
      continue;
    }
    size_t n = std::min(out.size() - filled, ready_.size() - ready_pos_);
    std::copy_n(ready_.begin() + static_cast<ptrdiff_t>(ready_pos_), n,
                out.begin() + static_cast<ptrdiff_t>(filled));
    ready_pos_ += n;
    filled += n;
  }
  return filled;
}

bool SoundFileSource::Refill() {
  mono_.clear();
  if (!input_done_) {
    sf_count_t want = std::min<int64_t>(kChunkFrames, frames_left_);
    sf_count_t got = 0;
    if (want > 0) {
      frames_.resize(static_cast<size_t>(want * channels_));
      got = sf_readf_float(h_->file, frames_.data(), want);
    }
    if (got <= 0) {
      input_done_ = true;
    } else {
      frames_left_ -= got;
      mono_.resize(static_cast<size_t>(got));
      for (sf_count_t i = 0; i < got; ++i) {
        float sum = 0;
        for (int c = 0; c < channels_; ++c)
          sum += frames_[static_cast<size_t>(i * channels_ + c)];
        mono_[static_cast<size_t>(i)] = sum / static_cast<float>(channels_);
      }
    }
  }
  if (h_->resampler == nullptr) {
    if (mono_.empty()) return false;
    for (float v : mono_) ready_.push_back(ToSample(v));
    return true;
  }
  if (input_done_ && flushed_) return false;
  // Room for the converted chunk plus what the resampler still holds back.
  size_t room = mono_.size() * static_cast<size_t>(out_rate_) /
                    static_cast<size_t>(in_rate_) +
                4096;
  resampled_.resize(room);
  size_t consumed = 0;
  bool produced = false;
  do {
    size_t in_done = 0;
    size_t out_done = 0;
    const float* in = input_done_ ? nullptr : mono_.data() + consumed;
    size_t in_len = input_done_ ? 0 : mono_.size() - consumed;
    if (soxr_process(h_->resampler, in, in_len, &in_done, resampled_.data(),
                     resampled_.size(), &out_done) != nullptr) {
      input_done_ = true;
      flushed_ = true;
      return false;
    }
    consumed += in_done;
    if (in_done == 0 && out_done == 0 && !input_done_) break;  // no progress
    for (size_t i = 0; i < out_done; ++i)
      ready_.push_back(ToSample(resampled_[i]));
    produced = produced || out_done > 0;
    if (input_done_ && out_done == 0) flushed_ = true;
    if (input_done_) break;
  } while (consumed < mono_.size());
  // While the resampler fills its window a chunk may yield nothing yet;
  // the caller simply asks again.
  return produced || !flushed_;
}

}  // namespace lw
