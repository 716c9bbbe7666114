// The local sound output devices (the loudspeakers of the machine). Wave and
// voice drivers number their local devices by this list: index = position.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace lw {

class SoundDevices {
 public:
  virtual ~SoundDevices() = default;

  // Names of the output devices, in a stable order; never empty (a machine
  // without sound hardware lists one device that discards its sound).
  virtual std::vector<std::string> OutputNames() = 0;
};

}  // namespace lw
