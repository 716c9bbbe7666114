// Sound files of `lwdctl phone`: what the far end plays into the call and
// the capture of what the line played, both as 8 kHz 16-bit mono samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lwdctl {

// Reads any sound file the sound library decodes (any coding, rate and
// number of channels) as line samples: channels mixed down to one, the rate
// converted to 8 kHz. False with a message in `error` when it cannot.
bool ReadLineSound(const std::string& path, std::vector<int16_t>* samples,
                   std::string* error);

// Mono sound at `rate` Hz (samples from -1 to 1) as line samples.
bool ToLineSamples(const std::vector<float>& sound, int rate,
                   std::vector<int16_t>* samples, std::string* error);

// Writes `samples` as an 8 kHz 16-bit mono PCM wave file.
bool WriteLineSound(const std::string& path,
                    const std::vector<int16_t>& samples, std::string* error);

}  // namespace lwdctl
