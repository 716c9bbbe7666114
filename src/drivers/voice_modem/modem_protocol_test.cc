// The voice-modem protocol layer against a scripted modem on a fake port:
// the byte stream split at every boundary, and each profile through probe,
// call, sound, digits and every hang-up code.
#include "drivers/voice_modem/modem_protocol.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "devices/fake/fake_serial_port.h"
#include "devices/line_contract_test_fixture.h"
#include "drivers/voice_modem/voice_modem_backend.h"
#include "drivers/voice_modem/voice_modem_line.h"

namespace lw {
namespace {

using Events = std::vector<std::string>;

// Everything a ModemStream reports, sound pieces run together.
Events Decode(const std::vector<std::string>& reads) {
  Events out;
  auto add = [&out](const std::string& kind, std::string_view text) {
    if (kind == "sound" && !out.empty() && out.back().starts_with("sound:"))
      out.back() += text;
    else
      out.push_back(kind + ":" + std::string(text));
  };
  ModemStream stream({[&](const std::string& l) { add("line", l); },
                      [&](char c) { add("code", std::string(1, c)); },
                      [&](std::string_view s) { add("sound", s); },
                      [&] { add("end", ""); }});
  stream.SetStreaming(true);
  for (const std::string& read : reads) stream.Feed(read);
  return out;
}

TEST(ModemProtocolTest, StreamSplitAtEveryByteIsTheSame) {
  // Given a recording with a doubled DLE, digit and hang-up codes, the end
  // of the stream and its OK, expect the same events wherever it is split.
  const std::string bytes = std::string("ab\x10\x10") + "c\x10/\x10" + "5" +
                            "\x10~d\x10s\x10\x03\r\nOK\r\nRING\r\n";
  const Events whole = {"sound:ab\020c", "code:/",  "code:5",
                        "code:~",        "sound:d", "code:s",
                        "end:",          "line:OK", "line:RING"};
  EXPECT_EQ(Decode({bytes}), whole);
  for (size_t cut = 1; cut < bytes.size(); ++cut)
    EXPECT_EQ(Decode({bytes.substr(0, cut), bytes.substr(cut)}), whole)
        << "cut at " << cut;
  EXPECT_EQ(ShieldSound("a\020b"), "a\020\020b");
}

TEST(ModemProtocolTest, ReportsAndListsOfTheChipsets) {
  // Given caller identification in both spacings and withheld forms, class
  // and format lists, expect the caller, voice class and preferred format.
  CallerId id;
  for (const char* line :
       {"DATE = 1204", "TIME=1403", "NMBR = 5551234", "NAME=ANN SMITH"})
    id.Add(*ParseCallerIdLine(line));
  EXPECT_EQ(id.name + "|" + id.number, "ANN SMITH|5551234");
  id.Add(*ParseCallerIdLine("NMBR = P"));
  id.Add(*ParseCallerIdLine("MESG = 080150"));
  EXPECT_EQ(id.name + "|" + id.number, "|");
  EXPECT_FALSE(ParseCallerIdLine("CONNECT 115200"));
  EXPECT_TRUE(ListsVoiceClass(std::vector<std::string>{"(0-2,8)"}));
  EXPECT_FALSE(ListsVoiceClass(std::vector<std::string>{"0,1,2,10"}));
  const std::vector<std::string> formats = {"+VSM: 4,\"ULAW\",8,0,(8000)",
                                            "1,\"UNSIGNED PCM\",8,0,(8000)"};
  EXPECT_EQ(ChooseSampleFormat(*FindModemProfile("conexant"), formats)->number,
            1);
  EXPECT_FALSE(ChooseSampleFormat(*FindModemProfile("usr"), formats));
  EXPECT_EQ(ResultOf("NO DIAL TONE"), ModemResult::kNoDialtone);
}

// A modem of one profile as its port shows it: answers each command from a
// script, everything else with OK.
struct ScriptedModem {
  ScriptedModem(FakeClock& clock, const ModemProfile& p)
      : port(std::make_unique<FakeSerialPort>(clock)), wire(*port), profile(p) {
    std::string vsm;
    for (const ModemSampleFormat& f : p.formats)
      vsm.insert(0, std::to_string(f.number) + ",\"PCM\",8,0,(8000)\r\n");
    const bool old = p.voice_mode.starts_with("AT#");
    replies = {{"ATI", std::string(p.marks[0]) + " 56K\r\nOK"},
               {"AT+GMI", "ERROR"},
               {old ? "AT#CLS=?" : "AT+FCLASS=?", "0,1,2,8\r\nOK"},
               {std::string(p.answer), std::string(p.answer_result)},
               {std::string(p.play), "CONNECT"},
               {std::string(p.record), "CONNECT"},
               {old ? "AT#VSM=?" : "AT+VSM=?", vsm + "OK"}};
    wire.on_output = [this](const std::string& data) {
      for (const char c : data) {
        if (c != '\r') {
          command += c;
          continue;
        }
        commands.push_back(command);
        const auto it = replies.find(command);
        Send(it == replies.end() ? "OK" : it->second);
        command.clear();
      }
    };
  }
  void Send(const std::string& text) { wire.Receive("\r\n" + text + "\r\n"); }

  std::unique_ptr<FakeSerialPort> port;  // until the line takes it
  FakeSerialPort& wire;
  const ModemProfile& profile;
  std::map<std::string, std::string> replies;
  std::string command;
  Events commands;
};

TEST(ModemProtocolTest, EveryProfileProbesAnswersRecordsAndHangsUp) {
  // Given a modem of each profile, expect the probe to find it voice-capable
  // with its first format, a call offered with its caller, answered with
  // the profile's command, its sound recorded without the DLE codes, its
  // digits in both forms, and each of its hang-up codes ending the call.
  for (const ModemProfile& profile : ModemProfiles()) {
    SCOPED_TRACE(std::string(profile.name));
    FakeClock clock;
    ScriptedModem probed(clock, profile);
    probed.port->SetPortOpen(true);
    std::optional<ModemIdentity> found;
    {
      ModemSession session(clock, *probed.port, {});
      ModemProbe probe(
          session, "/dev/ttyACM0",
          [&](const std::optional<ModemIdentity>& i) { found = i; });
      clock.Advance(100);
      ASSERT_TRUE(probe.finished());
    }
    ASSERT_TRUE(found && found->voice);
    EXPECT_EQ(found->profile, &profile);
    EXPECT_EQ(found->format.number, profile.formats[0].number);

    ScriptedModem modem(clock, profile);
    FakeSerialPort& port = *modem.port;
    LineAudioHub hub;
    VoiceModemLine line(clock, hub, std::move(modem.port), 1, *found, {});
    Events log;
    line.SetEvents(testing::LogEvents(log));
    ASSERT_EQ(line.Open(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
    std::vector<int16_t> recorded;
    line.Audio()->SetRecordSink([&](std::span<const int16_t> s) {
      recorded.insert(recorded.end(), s.begin(), s.end());
    });
    for (const char hang_up : profile.hang_up_codes) {
      modem.Send("RING");
      modem.Send("NMBR = 5551234");
      modem.Send("NAME=ANN");
      modem.Send("RING");
      clock.RunDue();
      ASSERT_EQ(line.Answer(), 0);
      clock.RunDue();
      recorded.clear();
      ASSERT_EQ(line.MonitorDigits(true), 0);
      port.Receive(
          "\x80\x10\x10\x10/\x10"
          "1\x10"
          "1\x10~\x10#");
      clock.RunDue();
      EXPECT_EQ(recorded, (std::vector<int16_t>{0, (0x10 - 128) * 256}));
      port.Receive(std::string{kDle, hang_up});
      clock.RunDue();
      EXPECT_EQ(log, (Events{"InComeCall", "Ring(1)", "CallerID(ANN,5551234)",
                             "Ring(2)", "Connected", "Digit(1)", "Digit(#)",
                             "Disconnected"}));
      log.clear();
      port.Receive(std::string{kDle, kEtx} + "\r\nOK\r\n");
      ASSERT_EQ(line.Drop(), 0);
      clock.RunDue();
      EXPECT_EQ(log, Events{"Idle"});
      log.clear();
    }
    EXPECT_EQ(modem.commands.front(), "ATE0 V1");
    EXPECT_NE(std::find(modem.commands.begin(), modem.commands.end(),
                        std::string(profile.record)),
              modem.commands.end());
    line.Audio()->SetRecordSink(nullptr);
  }
}

}  // namespace
}  // namespace lw
