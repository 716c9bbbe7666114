// The devices a component works with, handed to the controllers'
// constructors. Only the program's entry builds it from real drivers; tests
// build it from fakes (fake/fake_devices.h). Nothing below the entry reaches
// for a device or the wall clock any other way.
//
// Shared devices are references; a component makes its own instance of each
// per-component device with the factories (the line controller makes its
// telephony control, two wave controls, five channel ends, a serial port, a
// mail control, a webhook control and a voice; the process controller its own
// telephony control, a wave control and two channel ends). The factories never
// return null. The bundle and what it refers to outlive every component built
// from it.
#pragma once

#include <functional>
#include <memory>

#include "devices/channel.h"
#include "devices/clock.h"
#include "devices/mail.h"
#include "devices/serial_port.h"
#include "devices/sound_devices.h"
#include "devices/telephony.h"
#include "devices/voice.h"
#include "devices/wave.h"
#include "devices/webhook.h"

namespace lw {

struct Devices {
  Clock& clock;
  SoundDevices& sound_devices;

  std::function<std::unique_ptr<Telephony>()> new_telephony;
  std::function<std::unique_ptr<Wave>()> new_wave;
  std::function<std::unique_ptr<SerialPort>()> new_serial_port;
  std::function<std::unique_ptr<MessageChannel>()> new_channel;
  std::function<std::unique_ptr<Mail>()> new_mail;
  std::function<std::unique_ptr<Voice>()> new_voice;
  // May be left empty: no webhook requests are sent.
  std::function<std::unique_ptr<Webhook>()> new_webhook;
};

}  // namespace lw
