// Local sound devices for tests: a list the test sets.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "devices/sound_devices.h"

namespace lw {

class FakeSoundDevices : public SoundDevices {
 public:
  FakeSoundDevices() = default;
  explicit FakeSoundDevices(std::vector<std::string> names)
      : names_(std::move(names)) {}

  std::vector<std::string> OutputNames() override { return names_; }
  void set_names(std::vector<std::string> names) { names_ = std::move(names); }

 private:
  std::vector<std::string> names_{"Fake Speakers"};
};

}  // namespace lw
