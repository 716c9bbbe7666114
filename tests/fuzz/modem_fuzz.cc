// The modem's serial port carries whatever the modem (or noise on the line)
// sends: the framing and the report parser must take any bytes in pieces of
// any size, and announce a call and pass its caller identification at most
// once per call.
#include <string>

#include "devices/fake/fake_serial_port.h"
#include "fuzz_home.h"
#include "line/modem_channel.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzProcess process({"Journal"});
  if (size == 0) return 0;
  lw::FakeClock& clock = process.fake.clock();
  lw::FakeSerialPort port(clock);
  int incoming = 0;
  int caller_ids = 0;
  lw::ModemChannel channel(
      port, clock, process.journal, process.home.path(),
      {.Ring = {},
       .IncomingCall = [&] { ++incoming; },
       .CallerID = [&](const std::string&,
                       const std::string&) { ++caller_ids; },
       .HandOver = {},
       .Idle = {},
       .PortLost = {}});
  channel.CommConnect(1, "");
  // The first byte chooses the piece size the stream arrives in.
  const size_t piece = 1 + data[0] % 16;
  const std::string stream = lw::fuzz::Text(data + 1, size - 1);
  for (size_t at = 0; at < stream.size(); at += piece) {
    port.Receive(stream.substr(at, piece));
    clock.RunDue();
  }
  Check(incoming <= 1 && caller_ids <= 1);
  return 0;
}
