// A voice modem's port carries whatever the modem, a noisy line or a broken
// chipset sends: the voice-modem line must take any bytes in pieces of any
// size, in command mode and while recording, and never record more sound
// than bytes arrived.
#include <string>

#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_serial_port.h"
#include "drivers/voice_modem/voice_modem_line.h"
#include "fuzz_home.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  lw::FakeClock clock;
  lw::LineAudioHub hub;
  auto owned = std::make_unique<lw::FakeSerialPort>(clock);
  lw::FakeSerialPort& port = *owned;
  lw::ModemIdentity identity;
  identity.name = "fuzzed";
  identity.profile = lw::FindModemProfile("conexant");
  identity.voice = true;
  lw::VoiceModemLine line(clock, hub, std::move(owned), 1, identity, nullptr);
  lw::TelephonyEvents events;
  events.InComeCall = [&line] { line.Answer(); };
  line.SetEvents(events);
  line.Open(lw::kPrivilegesOwnerMonitor, lw::kMediaModesVoice);
  size_t recorded = 0;
  line.Audio()->SetRecordSink(
      [&recorded](std::span<const int16_t> s) { recorded += s.size(); });
  // The first byte chooses the piece size the stream arrives in.
  const size_t piece = 1 + data[0] % 16;
  const std::string stream = lw::fuzz::Text(data + 1, size - 1);
  for (size_t at = 0; at < stream.size(); at += piece) {
    port.Receive(stream.substr(at, piece));
    clock.Advance(20);
  }
  Check(recorded <= stream.size());
  line.Audio()->SetRecordSink(nullptr);
  return 0;
}
