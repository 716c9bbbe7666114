// A Devices bundle of fakes around one virtual clock, for tests of the
// controllers. It keeps the wave, mail and voice fakes the code under test
// creates, in creation order, so the test can reach them: wave(1) is the
// second wave control made, and so on. A fake that has been destroyed reads
// as null. Channels are reached through their hub.
//
// The telephone line is the real simulated line in virtual time, registered
// in a LineRegistry like the process registers it; a test plays its far end
// with a SimFarEnd and may register more lines. Shared across the fakes: the
// wave file table, the sound devices, the installed voices, the channel hub.
// The serial ports are FakeSerialPorts sharing one owners table; the
// simulated line's modem (port SimulatedLine::kModemPort) reports into the
// one that holds its port and hears what that one sends, so a line in modem
// mode sees the call on its serial port first.
// The FakeDevices outlives everything built from it (declare it first in a
// fixture).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "devices/devices.h"
#include "devices/fake/fake_channel.h"
#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_mail.h"
#include "devices/fake/fake_serial_port.h"
#include "devices/fake/fake_sound_devices.h"
#include "devices/fake/fake_voice.h"
#include "devices/fake/fake_wave.h"
#include "devices/line_registry.h"
#include "drivers/simline/simulated_line.h"

namespace lw {

class FakeDevices {
 public:
  explicit FakeDevices(LocalDateTime start = {2026, 12, 4, 14, 3, 22, 5});
  ~FakeDevices() { *alive_ = false; }
  FakeDevices(const FakeDevices&) = delete;
  FakeDevices& operator=(const FakeDevices&) = delete;

  // The bundle to hand to the controllers. A test may copy it and replace a
  // factory (e.g. to wrap one fake with an extra fault).
  const Devices& devices() const { return devices_; }

  FakeClock& clock() { return clock_; }
  // The simulated line (device 0 unless a test registers real lines).
  SimulatedLine& line() { return line_; }
  LineRegistry& lines() { return lines_; }
  LineAudioHub& line_audio() { return line_audio_; }
  FakeWaveFiles& wave_files() { return wave_files_; }
  FakeSoundDevices& sound_devices() { return sound_devices_; }
  FakeChannelHub& channels() { return hub_; }
  // Voices installed for every FakeVoice made from now on.
  void set_voices(std::vector<std::string> voices) {
    voices_ = std::move(voices);
  }

  // The i-th fake of each kind made through the bundle; null when not made
  // (yet) or destroyed.
  FakeWave* wave(size_t i) const { return At(waves_, i); }
  FakeMail* mail(size_t i) const { return At(mails_, i); }
  FakeVoice* voice(size_t i) const { return At(voices_made_, i); }
  FakeSerialPort* serial_port(size_t i) const { return At(serial_ports_, i); }
  // All made so far (destroyed ones as null).
  const std::vector<FakeWave*>& waves() const { return waves_; }

 private:
  template <typename T>
  static T* At(const std::vector<T*>& list, size_t i) {
    return i < list.size() ? list[i] : nullptr;
  }
  // Makes a fake whose slot in `list` turns null when it goes away.
  template <typename Fake, typename... Args>
  std::unique_ptr<Fake> Make(std::vector<Fake*>& list, Args&&... args);

  FakeClock clock_;
  LineAudioHub line_audio_;
  SimulatedLine line_;
  LineRegistry lines_;
  FakeWaveFiles wave_files_;
  FakeSoundDevices sound_devices_;
  FakeChannelHub hub_;
  std::vector<std::string> voices_{"Fake Voice"};
  std::vector<FakeWave*> waves_;
  std::vector<FakeMail*> mails_;
  std::vector<FakeVoice*> voices_made_;
  std::vector<FakeSerialPort*> serial_ports_;
  SerialPortOwners serial_owners_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  Devices devices_;
};

}  // namespace lw
