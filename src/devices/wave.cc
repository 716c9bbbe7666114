#include "devices/wave.h"

#include <cstdio>

namespace lw {

std::string WaveSecondsText(int32_t seconds) {
  constexpr int32_t kMax = 9999 * 3600 + 59 * 60 + 59;
  if (seconds < 0) seconds = 0;
  if (seconds > kMax) seconds = kMax;
  char text[16];
  std::snprintf(text, sizeof text, "%d:%02d:%02d", seconds / 3600,
                seconds / 60 % 60, seconds % 60);
  return text;
}

}  // namespace lw
