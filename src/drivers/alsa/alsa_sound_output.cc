#include "drivers/alsa/alsa_sound_output.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdlib>
#include <mutex>
#include <utility>

namespace lw {
namespace {

using SteadyClock = std::chrono::steady_clock;

// The worker keeps at most this much sound ahead of the playing position,
// so Stop silences a real card within about this time.
constexpr auto kLead = std::chrono::milliseconds(100);
constexpr unsigned kLatencyUs = 100000;

// ALSA prints its complaints (e.g. about a missing card) to standard error;
// the system reports failures through its own results instead.
void SilentAlsaError(const char*, int, const char*, int, const char*, ...) {}

void SilenceAlsa() {
  static std::once_flag once;
  std::call_once(once, [] { snd_lib_error_set_handler(SilentAlsaError); });
}

bool HasSoundCard() {
  int card = -1;
  return snd_card_next(&card) == 0 && card >= 0;
}

SteadyClock::duration SamplesToDuration(uint64_t samples, int rate) {
  return std::chrono::duration_cast<SteadyClock::duration>(
      std::chrono::duration<double>(static_cast<double>(samples) / rate));
}

}  // namespace

AlsaSoundOutput::AlsaSoundOutput(Clock& clock) : clock_(clock) {
  SilenceAlsa();
}

AlsaSoundOutput::~AlsaSoundOutput() {
  Stop();
  alive_.reset();
}

std::vector<std::string> AlsaSoundOutput::DeviceNames() {
  SilenceAlsa();
  std::vector<std::string> names;
  if (HasSoundCard()) {
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) == 0 && hints != nullptr) {
      for (void** h = hints; *h != nullptr; ++h) {
        char* name = snd_device_name_get_hint(*h, "NAME");
        char* ioid = snd_device_name_get_hint(*h, "IOID");
        // No IOID means the device plays and records.
        bool output = ioid == nullptr || std::string(ioid) == "Output";
        if (name != nullptr && output &&
            std::string(name) != kNullSoundDevice &&
            std::find(names.begin(), names.end(), name) == names.end()) {
          names.emplace_back(name);
        }
        free(name);
        free(ioid);
      }
      snd_device_name_free_hint(hints);
    }
  }
  if (names.empty()) names.emplace_back(kNullSoundDevice);
  return names;
}

bool AlsaSoundOutput::Open(const std::string& name, int rate) {
  Stop();
  if (rate <= 0) {
    error_ = "device " + name + " refuses 16-bit mono at " +
             std::to_string(rate) + " Hz";
    return false;
  }
  if (name == kNullSoundDevice) {
    error_.clear();
    null_.emplace(clock_);
    return null_->Open(name, rate);
  }
  snd_pcm_t* pcm = nullptr;
  // Opened without waiting, so a busy device fails at once instead of
  // holding the loop; writes then block as pacing needs.
  if (snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_PLAYBACK,
                   SND_PCM_NONBLOCK) < 0 ||
      snd_pcm_nonblock(pcm, 0) < 0) {
    if (pcm != nullptr) snd_pcm_close(pcm);
    error_ = "device " + name + " cannot be opened";
    return false;
  }
  if (snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16, SND_PCM_ACCESS_RW_INTERLEAVED,
                         1, static_cast<unsigned>(rate), 1, kLatencyUs) < 0) {
    snd_pcm_close(pcm);
    error_ = "device " + name + " refuses 16-bit mono at " +
             std::to_string(rate) + " Hz";
    return false;
  }
  error_.clear();
  rate_ = rate;
  pcm_ = pcm;
  {
    std::lock_guard lock(mu_);
    quit_ = false;
    queue_.clear();
    ++generation_;
  }
  worker_ = std::thread([this] { Run(); });
  return true;
}

bool AlsaSoundOutput::Write(std::span<const int16_t> samples) {
  if (!IsOpen()) {
    error_ = "device not open";
    return false;
  }
  if (null_) return null_->Write(samples);
  if (samples.empty()) return true;
  {
    std::lock_guard lock(mu_);
    queue_.insert(queue_.end(), samples.begin(), samples.end());
  }
  cv_.notify_all();
  idle_ = false;
  return true;
}

void AlsaSoundOutput::Finish(std::function<void()> drained) {
  if (!IsOpen()) return;
  if (null_) return null_->Finish(std::move(drained));
  finishing_ = true;
  drained_ = std::move(drained);
  if (!idle_) return;
  // Nothing is left to play: the notification still comes from the loop,
  // never from inside Finish.
  uint64_t generation = 0;
  {
    std::lock_guard lock(mu_);
    generation = generation_;
  }
  PostDrained(generation);
}

void AlsaSoundOutput::Stop() {
  finishing_ = false;
  drained_ = nullptr;
  idle_ = true;
  if (null_) {
    null_->Stop();
    null_.reset();
  }
  if (!worker_.joinable()) return;
  {
    std::lock_guard lock(mu_);
    quit_ = true;
    queue_.clear();
    ++generation_;
  }
  cv_.notify_all();
  worker_.join();
  if (pcm_ != nullptr) {
    snd_pcm_drop(pcm_);
    snd_pcm_close(pcm_);
    pcm_ = nullptr;
  }
  rate_ = 0;
}

void AlsaSoundOutput::PostDrained(uint64_t generation) {
  clock_.Post([this, alive = std::weak_ptr<bool>(alive_), generation] {
    if (alive.expired()) return;
    {
      std::lock_guard lock(mu_);
      // A Stop after the sound drained makes the notice stale.
      if (generation != generation_) return;
    }
    OnDrained();
  });
}

void AlsaSoundOutput::OnDrained() {
  idle_ = true;
  if (!finishing_) return;
  finishing_ = false;
  auto drained = std::move(drained_);
  drained_ = nullptr;
  if (drained) drained();
}

// One pass of the outer loop plays one stretch of sound: from the first
// sample queued after silence until the queue has drained and the last
// sample's moment has passed, or until Stop.
void AlsaSoundOutput::Run() {
  const size_t chunk = static_cast<size_t>(std::max(rate_ / 50, 1));  // 20 ms
  std::vector<int16_t> buffer;
  std::unique_lock lock(mu_);
  while (true) {
    cv_.wait(lock, [this] { return quit_ || !queue_.empty(); });
    if (quit_) return;
    const uint64_t generation = generation_;
    const auto start = SteadyClock::now();
    uint64_t written = 0;
    while (true) {
      if (quit_ || generation != generation_) break;
      if (queue_.empty()) {
        auto end = start + SamplesToDuration(written, rate_);
        cv_.wait_until(lock, end, [&] {
          return quit_ || generation != generation_ || !queue_.empty();
        });
        if (quit_ || generation != generation_) break;
        if (!queue_.empty()) continue;
        PostDrained(generation);
        break;
      }
      size_t n = std::min(chunk, queue_.size());
      buffer.assign(queue_.begin(), queue_.begin() + n);
      queue_.erase(queue_.begin(), queue_.begin() + n);
      lock.unlock();
      snd_pcm_sframes_t done = snd_pcm_writei(pcm_, buffer.data(), n);
      if (done < 0 && snd_pcm_recover(pcm_, static_cast<int>(done), 1) == 0) {
        snd_pcm_writei(pcm_, buffer.data(), n);
      }
      lock.lock();
      written += n;
      // Keep no more than kLead ahead of the playing position.
      auto due = start + SamplesToDuration(written, rate_) - kLead;
      cv_.wait_until(lock, due,
                     [&] { return quit_ || generation != generation_; });
    }
  }
}

LocalSoundOutputFactory AlsaSoundOutputFactory(Clock& clock) {
  return [&clock] { return std::make_unique<AlsaSoundOutput>(clock); };
}

}  // namespace lw
