#include "devices/fake/fake_devices.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "devices/fake/forwarding.h"
#include "temp_dir.h"

namespace lw {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(FakeDevicesTest, KeepsTheFakesTheCodeMadeAndForgetsDestroyedOnes) {
  // Given two telephony controls and a wave made through the bundle, expect
  // them reachable by creation order, one shared line, and null slots once
  // destroyed.
  FakeDevices fake;
  const Devices& d = fake.devices();
  auto process_tapi = d.new_telephony();
  auto line_tapi = d.new_telephony();
  auto wave = d.new_wave();
  EXPECT_EQ(fake.telephony(0), process_tapi.get());
  EXPECT_EQ(fake.telephony(1), line_tapi.get());
  EXPECT_EQ(fake.telephony(2), nullptr);
  EXPECT_EQ(fake.wave(0), wave.get());

  line_tapi->LineOpen(6, 6);
  EXPECT_EQ(fake.line().open_lines(), 1);
  process_tapi.reset();
  EXPECT_EQ(fake.telephony(0), nullptr);
  EXPECT_EQ(fake.telephony(1), line_tapi.get());
  EXPECT_EQ(d.clock.TickCount(), fake.clock().TickCount());
}

TEST(FakeDevicesTest, ChannelsMadeThroughTheBundleMeetOnTheHub) {
  // Given a channel end from the bundle bound to 107, expect the hub to see
  // its messages and deliver the desktop's.
  FakeDevices fake;
  auto out = fake.devices().new_channel();
  std::vector<std::string> got;
  out->SetMessageArrived([&got](const std::string& t) { got.push_back(t); });
  ASSERT_TRUE(out->OpenChannel(107));
  out->SendMessage("LineStatus");
  fake.channels().Send(107, "ON");
  EXPECT_THAT(fake.channels().Sent(107), ElementsAre("LineStatus"));
  EXPECT_THAT(got, ElementsAre("ON"));
  EXPECT_EQ(fake.channel(0), out.get());
}

// A wave whose StopRecord reports a failure after the fake completed the
// file.
class FailingStopRecord : public ForwardingWave {
 public:
  using ForwardingWave::ForwardingWave;
  int32_t StopRecord() override {
    target().StopRecord();
    return 55;
  }
};

TEST(FakeDevicesTest, AForwarderAddsOneFaultOnTopOfTheFake) {
  // Given a factory replaced by one that wraps the fake, expect the fault,
  // the fake's own behaviour underneath, and the fake still reachable.
  testing::TempDir dir;
  FakeDevices fake;
  Devices d = fake.devices();
  d.new_wave = [&fake]() -> std::unique_ptr<Wave> {
    return std::make_unique<FailingStopRecord>(fake.devices().new_wave());
  };
  auto wave = d.new_wave();
  WaveFormatRecord pcm{1, 1, 8000, 16000, 2, 16, 0, {}};
  ASSERT_EQ(wave->StartRecord(1, dir / "a.wav", pcm, pcm, 0, true), 0);
  fake.clock().Advance(3000);
  EXPECT_EQ(wave->StopRecord(), 55);
  WaveFileInfo info;
  ASSERT_EQ(wave->GetFileInfo(dir / "a.wav", info), 0);
  EXPECT_EQ(info.seconds, 3);
  ASSERT_NE(fake.wave(0), nullptr);
  EXPECT_FALSE(fake.wave(0)->IsRecording());
}

TEST(FakeSerialPortTest, ModemTextArrivesByThresholdAndCommandsGetReplies) {
  // Given a port with threshold 1 and input length 1, expect one OnComm per
  // Receive with the text read a character at a time, no events with
  // threshold 0, and an OK for each CR-terminated command 1 ms later.
  FakeDevices fake;
  auto port = fake.devices().new_serial_port();
  std::string read;
  int events = 0;
  port->SetEvents({[&] {
    ++events;
    EXPECT_EQ(port->CommEvent(), kCommEvReceive);
    while (port->InBufferCount() > 0) read += port->Input() + "|";
  }});
  port->SetCommPort(3);
  ASSERT_EQ(port->SetPortOpen(true), 0);
  EXPECT_TRUE(fake.serial_port(0)->Receive("RI"));
  EXPECT_EQ(events, 0);  // threshold 0: no receive events
  port->SetRThreshold(1);
  port->SetInputLen(1);
  fake.serial_port(0)->Receive("NG\r");
  EXPECT_EQ(events, 1);
  EXPECT_EQ(read, "R|I|N|G|\r|");

  fake.serial_port(0)->set_reply("\r\nOK\r\n");
  read.clear();
  port->Output("ATZ\rAT+VCID=1\r");
  EXPECT_THAT(fake.serial_port(0)->commands(), ElementsAre("ATZ", "AT+VCID=1"));
  EXPECT_TRUE(read.empty());
  fake.clock().Advance(1);
  EXPECT_EQ(read, "\r|\n|O|K|\r|\n|\r|\n|O|K|\r|\n|");

  port->SetPortOpen(false);
  EXPECT_FALSE(fake.serial_port(0)->Receive("RING\r"));
  EXPECT_EQ(port->Output("AT\r"), kCommPortNotOpen);
}

TEST(FakeSerialPortTest, FailedOpensCountDownThenSucceed) {
  // Given two scripted busy failures, expect them, then an open, then
  // "already open" for a second open.
  FakeDevices fake;
  auto port = fake.devices().new_serial_port();
  port->SetCommPort(7);  // no line device uses port 7
  fake.serial_port(0)->FailOpens(kCommPortBusy, 2);
  EXPECT_EQ(port->SetPortOpen(true), kCommPortBusy);
  EXPECT_EQ(port->SetPortOpen(true), kCommPortBusy);
  EXPECT_EQ(port->SetPortOpen(true), 0);
  EXPECT_EQ(port->SetPortOpen(true), kCommPortAlreadyOpen);
  EXPECT_EQ(port->SetCommPort(2), kCommPortAlreadyOpen);
  EXPECT_EQ(fake.serial_port(0)->open_attempts(), 4);
}

TEST(FakeVoiceTest, NewSpeechCutsOffTheOldWithoutItsEndStream) {
  // Given texts that take 2 s, expect EndStream only for the text spoken to
  // its end, none for a cut-off text or Speak("").
  FakeDevices fake;
  auto voice = fake.devices().new_voice();
  int ends = 0;
  voice->SetEvents({[&ends] { ++ends; }});
  fake.voice(0)->set_speak_ms(2000);
  voice->SetLineOutput(2);
  voice->Speak("first");
  fake.clock().Advance(1500);
  voice->Speak("second");
  fake.clock().Advance(1500);
  EXPECT_EQ(ends, 0);
  fake.clock().Advance(500);
  EXPECT_EQ(ends, 1);
  voice->Speak("third");
  voice->Speak("");
  fake.clock().Advance(5000);
  EXPECT_EQ(ends, 1);
  EXPECT_FALSE(voice->IsSpeaking());
  EXPECT_THAT(fake.voice(0)->spoken(), ElementsAre("first", "second", "third"));
  EXPECT_TRUE(fake.voice(0)->to_line());
}

TEST(FakeVoiceTest, WithoutVoicesSpeechFailsAndNoFileIsWritten) {
  // Given no installed voice, expect Speak and SaveTextToWav to fail
  // quietly; with one, the file is 8 kHz 16-bit mono of the scripted length.
  testing::TempDir dir;
  FakeDevices fake;
  fake.set_voices({});
  auto mute = fake.devices().new_voice();
  EXPECT_NE(mute->Speak("hello"), 0);
  EXPECT_NE(mute->SaveTextToWav("hello", dir / "a.wav"), 0);
  EXPECT_FALSE(std::filesystem::exists(dir / "a.wav"));
  EXPECT_THAT(mute->GetVoices(), IsEmpty());

  fake.set_voices({"One", "Two"});
  auto voice = fake.devices().new_voice();
  EXPECT_EQ(voice->SetVoice(1), 0);
  EXPECT_NE(voice->SetVoice(2), 0);
  voice->SetRate(15);
  EXPECT_EQ(voice->Rate(), 10);
  ASSERT_EQ(voice->SaveTextToWav("hello", dir / "b.wav"), 0);
  EXPECT_EQ(std::filesystem::file_size(dir / "b.wav"), 44u + 16000);
}

TEST(FakeMailTest, EventsBelongToOutstandingMails) {
  // Given one accepted and one refused Send, expect events only for the
  // accepted one, and both logged with their fields.
  FakeDevices fake;
  auto mail = fake.devices().new_mail();
  std::vector<std::string> events;
  mail->SetEvents(
      {[&](int32_t total, int32_t done) {
         events.push_back(std::to_string(done) + "/" + std::to_string(total));
       },
       [&](int32_t r) { events.push_back("done" + std::to_string(r)); }});
  EXPECT_EQ(mail->Send("smtp", "a@b", "App", "c@d", "S", "B", "", "u", "p",
                       "App", "App"),
            0);
  fake.mail(0)->set_send_result(9);
  EXPECT_EQ(mail->Send("smtp", "a@b", "App", "", "S", "B", "", "u", "p", "App",
                       "App"),
            9);
  EXPECT_TRUE(fake.mail(0)->Progress(200, 100));
  EXPECT_TRUE(fake.mail(0)->Complete());
  EXPECT_FALSE(fake.mail(0)->Complete());
  EXPECT_THAT(events, ElementsAre("100/200", "done0"));
  ASSERT_EQ(fake.mail(0)->sends().size(), 2u);
  EXPECT_EQ(fake.mail(0)->sends()[0].to, "c@d");
}

}  // namespace
}  // namespace lw
