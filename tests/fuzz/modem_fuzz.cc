// The modem's serial port carries whatever the modem (or noise on the line)
// sends: the framing and the report parser must take any bytes in pieces of
// any size, announce a call and pass its caller identification at most once
// per call, and keep what they hold bounded.
#include <algorithm>
#include <string>

#include "devices/fake/fake_serial_port.h"
#include "fuzz_home.h"
#include "line/modem_channel.h"

using lw::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static lw::fuzz::FuzzProcess process({"Journal"});
  static bool scenario = [] {
    process.home.Write("AT_Commands_Scenario.txt", "ATZ\r\nAT+VCID=1\r\n");
    return true;
  }();
  (void)scenario;
  if (size == 0) return 0;
  lw::FakeClock& clock = process.fake.clock();
  lw::FakeSerialPort port(clock);
  int incoming = 0;
  int caller_ids = 0;
  size_t longest = 0;
  lw::ModemChannel channel(
      port, clock, process.journal, process.home.path(),
      {.Ring = {},
       .IncomingCall = [&] { ++incoming; },
       .CallerID =
           [&](const std::string& name, const std::string& number) {
             ++caller_ids;
             longest = std::max({longest, name.size(), number.size()});
           },
       .HandOver = {},
       .Idle = {}});
  channel.CommConnect(1, "");
  // The first byte chooses the piece size the stream arrives in.
  const size_t piece = 1 + data[0] % 16;
  const std::string stream = lw::fuzz::Text(data + 1, size - 1);
  for (size_t at = 0; at < stream.size(); at += piece) {
    port.Receive(stream.substr(at, piece));
    clock.RunDue();
  }
  Check(incoming <= 1 && caller_ids <= 1);
  Check(channel.CommRings() >= 0);
  // A report is cut at the longest line the framing keeps.
  Check(longest <= 1024);
  channel.CommDisconnect();
  return 0;
}
