// The voice-modem protocol layer against a scripted modem on a fake port:
// the byte stream split at every boundary, and each profile through probe,
// call, sound, digits and every hang-up code.
#include "drivers/voice_modem/modem_protocol.h"

#include <gmock/gmock.h>
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
  EXPECT_EQ(id.name + "|" + id.number, "|WITHHELD");
  id.Add(*ParseCallerIdLine("MESG = 04014F"));
  EXPECT_EQ(id.number, "");
  id.Add(*ParseCallerIdLine("MESG = 040150"));
  EXPECT_EQ(id.number, "WITHHELD");
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
        // An empty reply: the modem says nothing.
        if (it == replies.end() || !it->second.empty())
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

// What the probe finds on `modem`.
std::optional<ModemIdentity> Probe(FakeClock& clock, ScriptedModem& modem) {
  modem.port->SetPortOpen(true);
  std::optional<ModemIdentity> found;
  {
    ModemSession session(clock, *modem.port, {});
    ModemProbe probe(session, "tty",
                     [&](const std::optional<ModemIdentity>& i) { found = i; });
    clock.Advance(100);
  }
  modem.port->SetPortOpen(false);
  return found;
}

// A line on a modem of `profile` found by the probe, opened, its journal
// lines and events logged.
struct ScriptedLine {
  ScriptedLine(FakeClock& clock, const char* profile)
      : modem(clock, *FindModemProfile(profile)), port(*modem.port) {
    ScriptedModem probed(clock, modem.profile);
    found = *Probe(clock, probed);
    line = std::make_unique<VoiceModemLine>(
        clock, hub, std::move(modem.port), 1, found,
        [this](const std::string& l) { journal.push_back(l); });
    line->SetEvents(testing::LogEvents(log));
    line->Open(kPrivilegesOwnerMonitor, kMediaModesVoice);
    clock.RunDue();
  }
  Events Take() { return std::exchange(log, {}); }

  ScriptedModem modem;
  FakeSerialPort& port;
  ModemIdentity found;
  LineAudioHub hub;
  std::unique_ptr<VoiceModemLine> line;
  Events log;
  Events journal;
};

TEST(ModemProtocolTest, EveryProfileProbesAnswersRecordsAndHangsUp) {
  // Given a modem of each profile, expect the probe to find it voice-capable
  // with its first format, a call offered with its caller, answered with
  // the profile's command, its sound recorded without the DLE codes, its
  // digits in both forms, and each of its hang-up codes ending the call.
  for (const ModemProfile& profile : ModemProfiles()) {
    SCOPED_TRACE(std::string(profile.name));
    FakeClock clock;
    ScriptedLine l(clock, std::string(profile.name).c_str());
    EXPECT_TRUE(l.found.voice);
    EXPECT_EQ(l.found.profile, &profile);
    EXPECT_EQ(l.found.format.number, profile.formats[0].number);
    std::vector<int16_t> recorded;
    l.line->Audio()->SetRecordSink([&](std::span<const int16_t> s) {
      recorded.insert(recorded.end(), s.begin(), s.end());
    });
    for (const char hang_up : profile.hang_up_codes) {
      for (const char* text : {"RING", "NMBR = 5551234", "NAME=ANN", "RING"})
        l.modem.Send(text);
      clock.RunDue();
      ASSERT_EQ(l.line->Answer(), 0);
      clock.RunDue();
      recorded.clear();
      ASSERT_EQ(l.line->MonitorDigits(true), 0);
      l.port.Receive(
          "\x80\x10\x10\x10/\x10"
          "1\x10"
          "1\x10~\x10#" +
          std::string{kDle, hang_up});
      clock.RunDue();
      EXPECT_EQ(recorded, (std::vector<int16_t>{0, (0x10 - 128) * 256}));
      EXPECT_EQ(
          l.Take(),
          (Events{"InComeCall", "Ring(1)", "CallerID(ANN,5551234)", "Ring(2)",
                  "Connected", "Digit(1)", "Digit(#)", "Disconnected"}));
      l.port.Receive(std::string{kDle, kEtx} + "\r\nOK\r\n");
      ASSERT_EQ(l.line->Drop(), 0);
      clock.RunDue();
      EXPECT_EQ(l.Take(), Events{"Idle"});
    }
    EXPECT_EQ(l.modem.commands.front(), "ATE0 V1");
    EXPECT_NE(std::find(l.modem.commands.begin(), l.modem.commands.end(),
                        std::string(profile.record)),
              l.modem.commands.end());
    l.line->Audio()->SetRecordSink(nullptr);
  }
}

TEST(ModemProtocolTest, FailedDialsSilentModemAndNoiseEndInAJournalLine) {
  // Given each failed dial result, a modem silent to the answer, noise and
  // stray results between commands, expect the call ended with Idle and a
  // journal line each, and the line taking the next call.
  FakeClock clock;
  ScriptedLine l(clock, "conexant");
  std::string text;
  for (const char* result :
       {"BUSY", "NO DIALTONE", "NO ANSWER", "NO CARRIER"}) {
    l.modem.replies["ATDT5551234"] = result;
    ASSERT_EQ(l.line->Dial("5551234", text), 0);
    clock.RunDue();
    EXPECT_EQ(l.Take(), (Events{"Dialing", "Idle"}));
    EXPECT_EQ(l.journal.back(),
              std::string("tty: the call was not connected: ") + result);
  }
  l.modem.replies["AT+VLS=1"] = "";
  l.modem.Send("RING");
  clock.RunDue();
  ASSERT_EQ(l.line->Answer(), 0);
  clock.Advance(ModemSession::kCommandTimeoutMs);
  EXPECT_EQ(l.Take(), (Events{"InComeCall", "Ring(1)", "Idle"}));
  EXPECT_EQ(l.journal.back(),
            "tty: answering failed: no answer from the modem");
  l.modem.Send("\x01noise");
  l.modem.Send("CONNECT");
  l.modem.Send("RING");
  clock.RunDue();
  EXPECT_EQ(l.Take(), (Events{"InComeCall", "Ring(1)"}));
  EXPECT_EQ(l.journal.end()[-2], "tty: unexpected from the modem: ?noise");
  EXPECT_EQ(l.journal.back(), "tty: unexpected from the modem: CONNECT");
}

TEST(ModemProtocolTest, QuietDataOnlyAndOverrunningModems) {
  // Given a modem that goes quiet in its set-up, expect one journal line and
  // a call still taken from its next RING. Given one without the voice
  // class or refusing voice mode, expect it not voice-capable and never
  // opened. Given buffer reports in a call, expect one line each and the
  // recording going on.
  FakeClock clock;
  {
    ScriptedModem quiet(clock, *FindModemProfile("usr"));
    quiet.replies["AT+VCID=1"] = "";
    LineAudioHub hub;
    ModemIdentity id{"tty", "usr", FindModemProfile("usr"), true, {128, {}}};
    Events journal;
    VoiceModemLine line(clock, hub, std::move(quiet.port), 1, id,
                        [&](const std::string& l) { journal.push_back(l); });
    Events log;
    line.SetEvents(testing::LogEvents(log));
    line.Open(kPrivilegesOwnerMonitor, kMediaModesVoice);
    clock.Advance(ModemSession::kCommandTimeoutMs + 100);
    EXPECT_EQ(journal, Events{"tty: no answer from the modem to AT+VCID=1 "
                              "within 2 s; the rest of its set-up is left "
                              "out"});
    EXPECT_EQ(quiet.commands.back(), "AT+VCID=1");
    quiet.Send("RING");
    clock.RunDue();
    EXPECT_EQ(log, (Events{"InComeCall", "Ring(1)"}));
  }
  for (const char* refusal : {"AT+FCLASS=?", "AT+FCLASS=8"}) {
    ScriptedModem data(clock, *FindModemProfile("conexant"));
    data.replies[refusal] =
        refusal == std::string("AT+FCLASS=8") ? "ERROR" : "0,1,2\r\nOK";
    std::optional<ModemIdentity> found = Probe(clock, data);
    ASSERT_TRUE(found);
    EXPECT_FALSE(found->voice);
    LineAudioHub hub;
    data.commands.clear();
    VoiceModemLine line(clock, hub, std::move(data.port), 1, *found, {});
    EXPECT_FALSE(line.Caps().VoiceCapable);
    EXPECT_EQ(line.Open(kPrivilegesOwnerMonitor, kMediaModesVoice),
              kVoiceModemNotVoice);
    clock.Advance(100);
    EXPECT_EQ(data.commands, Events{});
  }
  ScriptedLine l(clock, "rockwell");
  std::vector<int16_t> recorded;
  l.line->Audio()->SetRecordSink([&](std::span<const int16_t> s) {
    recorded.insert(recorded.end(), s.begin(), s.end());
  });
  l.modem.Send("RING");
  clock.RunDue();
  ASSERT_EQ(l.line->Answer(), 0);
  clock.RunDue();
  l.port.Receive("\x80\x10o\x80\x10o\x10u\x80");
  clock.RunDue();
  EXPECT_EQ(recorded.size(), 3u);
  EXPECT_EQ(l.Take(), (Events{"InComeCall", "Ring(1)", "Connected"}));
  ASSERT_EQ(l.journal.size(), 2u);
  EXPECT_THAT(l.journal[0], ::testing::HasSubstr("buffer overran"));
  EXPECT_THAT(l.journal[1], ::testing::HasSubstr("ran out of sound"));
  l.line->Audio()->SetRecordSink(nullptr);
}

}  // namespace
}  // namespace lw
