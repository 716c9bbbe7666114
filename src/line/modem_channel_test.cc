#include "line/modem_channel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "callstore/test_util.h"
#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_serial_port.h"
#include "temp_dir.h"

namespace lw {
namespace {

using ::testing::ElementsAre;

class ModemChannelTest : public ::testing::Test {
 protected:
  ModemChannelTest() {
    std::filesystem::create_directories(home / "Journal");
    journal.SetSwitches(true, false);
  }
  // The system journal, times left out.
  std::string Entries() {
    return std::regex_replace(
        testing::ReadFile(home / "Journal/12-04-2026_Sys.txt"),
        std::regex("..:..:.. : "), "");
  }
  // The modem reports each of `lines` (CR LF before each, as modems do).
  void Report(const std::vector<std::string>& lines) {
    for (const std::string& l : lines) Receive("\r\n" + l + "\r");
  }
  void Receive(const std::string& data) {
    port.Receive(data);
    clock.RunDue();
  }

  testing::TempDir home;
  FakeClock clock;
  Journal journal{clock, home.path()};
  FakeSerialPort port{clock};
  std::vector<std::string> events;
  ModemChannel channel{
      port, clock, journal, home.path(),
      ModemEvents{
          .Ring = {},
          .IncomingCall = [this] { events.push_back("Incoming"); },
          .CallerID = [this](auto& n,
                             auto& m) { events.push_back(n + "/" + m); },
          .HandOver = [this] { events.push_back("HandOver"); },
          .Idle = [this] { events.push_back("Idle"); },
          .PortLost = [this] { events.push_back("Lost"); }}};
};

TEST_F(ModemChannelTest, ScenarioSendsOneCommandPerReplyFromTheStart) {
  // Given no scenario, expect it created empty and the modem still heard;
  // then given comments and commands A, B, C, expect A at connect, each
  // reply (ERROR too) moving on by one, a second connect refused, and a
  // modem unplugged journalled, told, and opened anew by the next connect.
  channel.CommConnect(7, "Set");
  EXPECT_TRUE(std::filesystem::exists(home / "AT_Commands_Scenario.txt"));
  Report({"RING"});
  EXPECT_EQ(channel.CommRings(), 1);
  channel.CommDisconnect();
  testing::WriteFile(home / "AT_Commands_Scenario.txt",
                     "' init\r\n\r\nATA\r\nATB\nATC\n");
  channel.CommConnect(3, "Set");
  Report({"OK", "ERROR", "OK"});
  EXPECT_EQ(channel.CommConnect(3, "Set"), kCommPortAlreadyOpen);
  port.Lose();  // unplugged: closed until the next connect
  clock.RunDue();
  EXPECT_THAT(events, ElementsAre("Incoming", "Lost"));
  EXPECT_EQ(channel.CommConnect(3, "Set"), 0);
  EXPECT_EQ(port.sent, "ATA\rATB\rATC\rATA\r");
  EXPECT_EQ(Entries(),
            "CommConnect->The AT command scenario is empty7(5)\r\n"
            "CommConnect->AT COMMAND:ATA(0)\r\n"
            "CommConnect->Success open comm port3(0)\r\n"
            "ProcessEvent->AT COMMAND:ATB:OK(0)\r\n"
            "ProcessEvent->AT COMMAND:ATC:ERROR(0)\r\n"
            "OnComm->Comm port 3 lost: the modem stopped answering; closed "
            "until the next connect(0)\r\n"
            "CommConnect->AT COMMAND:ATA(0)\r\n"
            "CommConnect->Success open comm port3(0)\r\n");
}

TEST_F(ModemChannelTest, FramingHoldsAtEverySplitOfTheStream) {
  // Given DLE pairs, CR LF and CR-only lines, expect the same caller ID
  // however the stream is cut into receive events. A line after a bare CR
  // has its first character where the LF would be, so it has no key.
  const std::string stream =
      "\r\nNMBR=55\x10\x31"
      "51\r\nNAME=Ann\r\rNAME=Bob\r\r\nNAME=A\x10\x10nn\x10x\r\nRI\x10\x10NG\r";
  channel.CommConnect(1, "");
  for (size_t cut = 0; cut <= stream.size(); ++cut) {
    channel.InitVals();
    events.clear();
    Report({"RING"});
    Receive(stream.substr(0, cut));
    Receive(stream.substr(cut));
    EXPECT_THAT(events, ElementsAre("Incoming", "Ann/5551")) << cut;
  }
}

TEST_F(ModemChannelTest, ReportKeysAndMesgRules) {
  // Given the reports of a call (name ANN and number 999 left from before
  // its first RING), expect the caller ID passed at the second RING.
  const std::string kLong = "MESG=123456789012345";  // 21 with the LF
  const std::string kShort = "MESG=123456";          // 12 with the LF
  const struct {
    std::vector<std::string> reports;
    const char* caller_id;
  } kCases[] = {
      {{"DATE=1204", "TIME=1403", "NMBR=555", "NAME=BOB", "XYZ"}, "BOB/555"},
      {{"NMBR=555", kShort}, "UNKNOWN/555"},
      {{kShort}, "ANN/UNKNOWN"},
      {{"NMBR=555", "NAME=BOB", kShort}, "BOB/555"},
      {{"NMBR=555", "MESG=12345", "MESG=1234567"}, "ANN/555"},
      {{kLong}, "UNKNOWN/999"},
      {{"NAME=BOB", kLong}, "BOB/999"},
      {{"NAME=", "NMBR="}, "ANN/"},
      {{"NAME = JOHN DOE", "NMBR = 555"}, "JOHN DOE/555"},
  };
  channel.CommConnect(1, "");
  for (const auto& c : kCases) {
    events.clear();
    channel.InitVals();
    Report({"NAME=ANN", "NMBR=999", "RING"});
    Report(c.reports);
    Report({"RING"});
    EXPECT_THAT(events, ElementsAre("Incoming", c.caller_id));
  }
}

}  // namespace
}  // namespace lw
