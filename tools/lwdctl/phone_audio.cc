#include "phone_audio.h"

#include <sndfile.h>
#include <soxr.h>

#include <algorithm>
#include <cmath>

#include "devices/line_audio.h"

namespace lwdctl {

bool ReadLineSound(const std::string& path, std::vector<int16_t>* samples,
                   std::string* error) {
  SF_INFO info{};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  if (f == nullptr) {
    *error = path + ": " + sf_strerror(nullptr);
    return false;
  }
  if (info.channels < 1 || info.samplerate < 1) {
    sf_close(f);
    *error = path + ": no sound in the file";
    return false;
  }
  // Mixed down to one channel as floats.
  std::vector<float> mono;
  std::vector<float> frames(4096 * static_cast<size_t>(info.channels));
  for (;;) {
    const sf_count_t n = sf_readf_float(f, frames.data(), 4096);
    if (n <= 0) break;
    for (sf_count_t i = 0; i < n; ++i) {
      float sum = 0;
      for (int c = 0; c < info.channels; ++c)
        sum += frames[static_cast<size_t>(i * info.channels + c)];
      mono.push_back(sum / static_cast<float>(info.channels));
    }
  }
  sf_close(f);

  if (ToLineSamples(mono, info.samplerate, samples, error)) return true;
  *error = path + ": " + *error;
  return false;
}

bool ToLineSamples(const std::vector<float>& sound, int rate,
                   std::vector<int16_t>* samples, std::string* error) {
  std::vector<float> line;
  if (rate == lw::kLineSampleRate) {
    line = sound;
  } else {
    const double ratio = static_cast<double>(lw::kLineSampleRate) / rate;
    line.resize(static_cast<size_t>(std::ceil(sound.size() * ratio)) + 16);
    size_t done = 0;
    const soxr_error_t e = soxr_oneshot(
        rate, lw::kLineSampleRate, 1, sound.data(), sound.size(), nullptr,
        line.data(), line.size(), &done, nullptr, nullptr, nullptr);
    if (e != nullptr) {
      *error = std::string("cannot convert the rate: ") + e;
      return false;
    }
    line.resize(done);
  }
  samples->resize(line.size());
  for (size_t i = 0; i < line.size(); ++i) {
    const float v = std::clamp(line[i], -1.0f, 1.0f) * 32767.0f;
    (*samples)[i] = static_cast<int16_t>(std::lrint(v));
  }
  return true;
}

bool WriteLineSound(const std::string& path,
                    const std::vector<int16_t>& samples, std::string* error) {
  SF_INFO info{};
  info.samplerate = lw::kLineSampleRate;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  SNDFILE* f = sf_open(path.c_str(), SFM_WRITE, &info);
  if (f == nullptr) {
    *error = path + ": " + sf_strerror(nullptr);
    return false;
  }
  const sf_count_t n = sf_write_short(f, samples.data(),
                                      static_cast<sf_count_t>(samples.size()));
  const bool ok = n == static_cast<sf_count_t>(samples.size());
  if (!ok) *error = path + ": " + sf_strerror(f);
  if (sf_close(f) != 0 && ok) {
    *error = path + ": cannot complete the file";
    return false;
  }
  return ok;
}

}  // namespace lwdctl
