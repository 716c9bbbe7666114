#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "line/call_test_fixture.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class CallStateTest : public CallTest {};
// The calls on a backend's own line and far end: a second simulated line
// made as a backend makes its pair.
class BackendCallTest : public CallTest {
 protected:
  BackendCallTest() : CallTest(SimulatedLinePair) {}
};

TEST_F(BackendCallTest, CallerLeavesAMessageAfterGreetingAndBeep) {
  // Given the answering machine at ring 2 in GSM 6.10 and a caller with a
  // blank name, expect every step told to the desktop, the caller on 109
  // with the display options, the message in GSM 6.10 and the record's
  // exact length, and "UNKNOWN" for the name in the message, the
  // recording's name and the record. (The end-to-end test hears
  // greeting and beep and reads the stored files.)
  AnsweringMachineOn();
  Set(kAnswering, "cmbAnsweringFormatRec", "2");
  Set(kIncomingEvents, "chkICViewCD", "1");
  Set(kIncomingEvents, "cmbCallDisplayStyleIncomming", "2");
  Start();
  LeaveMessage(7, " \t ");
  EXPECT_EQ(wave1().recordings().at(0).file_format.format_tag, 49);
  EXPECT_NE(wave1().recordings().at(0).file.find("/UNKNOWN_5551234_"),
            std::string::npos);
  EXPECT_EQ(FieldText(Records()[0].caller_name), "UNKNOWN");
  EXPECT_EQ(FieldText(Records().at(0).length), "0:00:07");
  EXPECT_EQ(FieldText(Records().at(0).description), "Incoming call");
  EXPECT_THAT(Sent(107), ElementsAre("Tapi_Incomming\r\n0\r\nFalse",
                                     "Tapi_Ring\r\n0\r\n1\r\nFalse",
                                     "Tapi_Ring\r\n0\r\n2\r\nFalse",
                                     "Tapi_Connected\r\n0", "PlayGreet\r\n0",
                                     "RecMessage\r\n0", "Tapi_Idle\r\n0\r\n2"));
  EXPECT_THAT(Sent(109),
              ElementsAre("Tapi_CID\r\n0\r\nUNKNOWN\r\n5551234\r\n\r\n\r\n"
                          "True\r\n2\r\nFalse"));
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
}

TEST_F(CallStateTest, MessagesUnderTwoSecondsAndListingThresholds) {
  // Given messages of 1 and 2 s, expect the first stored as no message
  // (type "0", "0:00:00") and the second as one; with chkListMessagesOnly a
  // call without message is not stored at all.
  AnsweringMachineOn();
  Start();
  LeaveMessage(1);
  LeaveMessage(2);
  EXPECT_EQ(FieldText(Records()[0].length), "0:00:00");
  Set(kGeneral, "chkListMessagesOnly", "1");
  line_->LoadCallOptions();
  Incoming();
  HangUp();
  EXPECT_EQ(Types(), "02");
  EXPECT_THAT(Sent(110),
              ElementsAre("Tapi_Idle\r\n0\r\n0", "Tapi_Idle\r\n0\r\n2",
                          "Tapi_Idle\r\n0\r\n0"));
}

TEST_F(CallStateTest, PickUpOnAnExtensionIsTakenAfterSevenSecondsOfNoRings) {
  // Given recording on pick-up, expect rings 5 s apart never to take the
  // line, a gap of more than 7 s to take it, and a conversation of exactly
  // txtListRecMoreThen seconds stored as type "0".
  PickUpRecordingOn();
  Set(kDisconnectMode, "txtListRecMoreThen", "10");
  Start();
  Incoming();
  EXPECT_EQ(Sent(107).back(), "Tapi_Incomming\r\n0\r\nTrue");
  Rings(5);
  fake.clock().Advance(7000);
  EXPECT_EQ(Ops("LineAnswer"), 0);
  far().PickUp();
  fake.clock().Advance(100);
  Deliver();
  EXPECT_EQ(Ops("LineAnswer"), 1);
  EXPECT_EQ(Sent(107).back(), "RecCall\r\n0");
  EXPECT_TRUE(wave1().plays().empty());  // no greeting: only recorded
  fake.clock().Advance(10000);
  HangUp();
  EXPECT_EQ(Types(), "0");
}

TEST_F(CallStateTest, CallerWhoHangsUpEarlyLeavesAnUnansweredCall) {
  // Given a call marked for recording with the answering machine at ring 2,
  // and a caller gone while ringing, as the line answers, during the
  // greeting or during the beep, expect playback stopped, nothing recorded,
  // the call stored as type "0" with "Tapi_Idle" and no timer left running.
  enum Moment { kRinging, kAnswering, kGreeting, kBeep };
  AnsweringMachineOn();
  PickUpRecordingOn();
  Start();
  for (const Moment moment : {kRinging, kAnswering, kGreeting, kBeep}) {
    SCOPED_TRACE(moment);
    Incoming();
    Rings(1);
    if (moment == kAnswering) far().Ring();  // not yet handled
    if (moment >= kGreeting) Rings(1);
    if (moment == kBeep) wave1().FinishPlay();
    HangUp();
    fake.clock().Advance(10000);
    EXPECT_FALSE(wave1().IsPlaying());
    EXPECT_EQ(Sent(110).back(), "Tapi_Idle\r\n0\r\n0");
    EXPECT_EQ(fake.clock().timers_enabled(), 0);
  }
  EXPECT_TRUE(wave1().recordings().empty());
  EXPECT_EQ(Types(), "0000");
  EXPECT_EQ(Ops("LineAnswer"), 3);  // the one as the caller left refused
}

TEST_F(CallStateTest, WhatFollowsTheGreeting) {
  // Given no greeting file, expect the failure journalled twice and the
  // call dropped at connection; no beep: the message recorded when the
  // greeting ends; messages off: the call dropped there. Each is stored.
  struct Case {
    bool greeting, beep, record;
    size_t recordings;
  };
  AnsweringMachineOn();
  Start();
  for (const Case& c : {Case{false, true, true, 0}, Case{true, false, true, 1},
                        Case{true, true, false, 0}}) {
    AnsweringMachineOn(c.beep);
    if (!c.greeting) fake.wave_files().Forget(home / "Greets/Hello.wav");
    if (!c.beep) std::filesystem::remove(home / "Beep.wav");
    Set(kAnswering, "cmdRecordMessage", c.record ? "1" : "0");
    line_->LoadCallOptions();
    const size_t before = wave1().recordings().size();
    Incoming();
    Rings(2);
    if (c.greeting) wave1().FinishPlay();
    EXPECT_EQ(wave1().recordings().size() - before, c.recordings);
    HangUp();
  }
  EXPECT_EQ(JournalCount("PlayToLine:Wave1.StartPlayACM->File not found"), 2);
  EXPECT_EQ(Records().size(), 3u);
  EXPECT_EQ(Ops("LineDrop"), 3);
}

TEST_F(CallStateTest, MatchedContactHasItsOwnAnsweringAndForwarding) {
  // Given a contact with its own answering (answer at ring 3) and
  // forwarding "2", expect answering at its ring count, neither mail nor
  // program for the call, and its name and digit in the record; the next
  // caller gets the line's own options again.
  ContactRecord c = MakeContact("Boss", "", "5551234");
  c.call_handling[0] = '4';
  c.run_ans_if_not_answered[0] = '1';
  c.contact_digit[0] = '7';
  PutField(c.greeting, "Hello");
  PutField(c.num_of_ring, "3");
  c.forwarding[0] = '2';
  WriteContacts(home.path(), {c});
  AnsweringMachineOn();
  Set("Forward\\Mail", "chkSendToMail", "1");
  Set("Forward\\Mail", "txtMailTo", "owner@example.org");
  Set("Forward\\App", "chkApp", "1");
  Start();
  Incoming();
  Rings(2);
  EXPECT_EQ(Ops("LineAnswer"), 0);
  fake.clock().Advance(5000);
  Rings(1);
  EXPECT_EQ(Ops("LineAnswer"), 1);
  EXPECT_EQ(wave1().plays().at(0).file, home / "Greets/Hello.wav");
  HangUp();
  EXPECT_THAT(fake.mail(0)->mails(), IsEmpty());
  EXPECT_EQ(JournalCount("Error Send To APP"), 0);
  EXPECT_EQ(FieldText(Records()[0].description), "Boss");
  EXPECT_EQ(FieldText(Records()[0].contact_digit), "7");
  // The contact's choices end with its call.
  Incoming("Other", "5550001");
  Rings(2);
  EXPECT_EQ(Ops("LineAnswer"), 2);
  HangUp();
  EXPECT_EQ(fake.mail(0)->mails().size(), 1u);
}

TEST_F(CallStateTest, IdentificationAfterTheUnknownLookup) {
  // Given no caller identification by ring 2, then that of a blocked
  // contact, expect the caller looked up then when no UNKNOWN contact was
  // found (blocked at once, nothing on 109); with an UNKNOWN contact its
  // choices stand (answered at ring 3, applied once) and the late caller is
  // named in the record and on 109 beside that contact.
  AnsweringMachineOn();
  Set(kAnswering, "txtNumOfRing", "3");
  ContactRecord spam = MakeContact("Spam", "", "5551234");
  spam.call_handling[0] = '2';
  ContactRecord nobody = MakeContact("Nobody", "", "UNKNOWN");
  PutField(nobody.second_text, "no number");
  Start();
  for (const auto& contacts : {std::vector{spam}, std::vector{nobody, spam}}) {
    WriteContacts(home.path(), contacts);
    Incoming("", "");
    Rings(2);
    far().CallerId("SPAMMER", "5551234");
    if (contacts.size() > 1) Rings(1);  // the blocked caller's line is taken
    HangUp();
  }
  // Blocked at the identification, answered at ring 3.
  EXPECT_EQ(Ops("LineAnswer"), 2);
  EXPECT_EQ(FieldText(Records().at(0).description), "Spam");
  EXPECT_EQ(FieldText(Records().at(1).description), "Nobody");
  EXPECT_THAT(Sent(109),
              ElementsAre("Tapi_CID\r\n0\r\nSPAMMER\r\n5551234\r\nNobody\r\n"
                          "no number\r\nFalse\r\n0\r\nFalse"));
  EXPECT_EQ(JournalCount("the caller is taken as UNKNOWN,Contact(Nobody)"), 1);
}

TEST_F(CallStateTest, RemoteAccessCallerIsAnsweredAndKeptOffTheList) {
  // Given access by caller number and a contacts file of garbage, expect
  // no "Tapi_CID" for any caller; the matching caller answered at the next
  // ring, remote access started at connection, nothing recorded, and the
  // call kept off the list.
  WriteFile(home / "Data/Contactes", std::string(2000, '\xff'));
  Set(kPhoneAccess, "chkAllowCallerNameNumAccess", "1");
  Set(kPhoneAccess, "txtAccessCallerNumber", "5550000");
  PickUpRecordingOn();
  Start();
  int started = 0;
  line_->hooks().StartRemoteAccess = [&] { ++started; };
  Incoming("Someone", "5551234");
  HangUp();
  Incoming("Owner", "5550000");
  Rings(1);
  Deliver();
  EXPECT_EQ(started, 1);
  EXPECT_TRUE(wave1().recordings().empty());
  HangUp();
  EXPECT_THAT(Sent(109), IsEmpty());
  EXPECT_EQ(FieldText(Records()[0].description), "Incoming call");
  EXPECT_EQ(Records().size(), 2u);
  EXPECT_EQ(ReadFile(home / "Data/Last"), "1:\\Data\\Log\\2026\\12\\04\\\r\n");
}

TEST_F(CallStateTest, OutgoingCallsAreStoredAsTypeOneOrRecordedAsFour) {
  // Given "CallOutRec" and "CallOut", expect dialling reported, the
  // recorded one recorded without the limits of recorded calls and stored
  // "4", the other stored "1" with the call-out description.
  Set(kCallsRecord, "chkMaxRecCall", "1");
  Set(kCallsRecord, "cmbMaxRecCall", "0.1");
  Start();
  for (const char* command : {"CallOutRec\r\n5557777", "CallOut\r\n5558888"}) {
    far().WaitCall();
    fake.channels().Send(108, command);
    Deliver();
    EXPECT_EQ(Sent(107).back(), "Tapi_Dialing\r\n0");
    far().AnswerCall();
    Deliver();
    fake.clock().Advance(20000);  // past the 6 s limit of recorded calls
    HangUp();
  }
  EXPECT_EQ(wave1().recordings().size(), 1u);
  EXPECT_EQ(Types(), "41");
  EXPECT_EQ(FieldText(Records()[0].length), "0:00:20");
  EXPECT_EQ(FieldText(Records()[1].caller_number), "5558888");
  EXPECT_EQ(FieldText(Records()[1].description), "Outgoing call");
}

TEST_F(CallStateTest, HalfDuplexLineRecordsOnlyOnceThePromptsHaveEnded) {
  // Given a half-duplex line and "CallOutRec" handed to the answering
  // machine before the far end answers, expect nothing recorded while the
  // greeting and the beep play, and the recording after them.
  AnsweringMachineOn();
  Start();
  wave1().faults().half_duplex = true;
  far().WaitCall();
  for (const char* command : {"CallOutRec\r\n5557777", "AnswerMachine"})
    fake.channels().Send(108, command);
  far().AnswerCall();
  Deliver();
  wave1().FinishPlay();  // the greeting; the beep follows
  EXPECT_TRUE(wave1().IsPlaying() && wave1().recordings().empty());
  wave1().FinishPlay();
  EXPECT_TRUE(wave1().IsRecording());
}

TEST_F(CallStateTest, CallCommandsDecideTheRingingCall) {
  // Given a ringing call, expect "RecCall" to start the ring gap at the
  // next ring; "DropTheCall" to answer and drop it at connection;
  // "DoNothing" to stop the ring gap; "AnswerMachine" to answer now with
  // the greeting and "StopProc" to drop it.
  AnsweringMachineOn();
  Set(kAnswering, "txtNumOfRing", "9");
  Start();
  Incoming();
  Rings(1);
  fake.channels().Send(108, "RecCall\r\nTrue");
  fake.clock().Advance(8000);
  EXPECT_EQ(Ops("LineAnswer"), 0);  // the gap counts from the next ring
  Rings(1);
  far().PickUp();
  fake.clock().Advance(7200);
  EXPECT_EQ(Ops("LineAnswer"), 1);
  HangUp();

  Incoming();
  fake.channels().Send(108, "DropTheCall");
  Deliver();
  EXPECT_EQ(Ops("LineDrop"), 2);

  PickUpRecordingOn();
  line_->LoadCallOptions();
  Incoming();
  fake.channels().Send(108, "DoNothing");
  fake.clock().Advance(8000);
  Rings(10);
  EXPECT_EQ(Ops("LineAnswer"), 2);
  HangUp();

  Incoming();
  fake.channels().Send(108, "AnswerMachine");
  Deliver();
  EXPECT_EQ(wave1().plays().size(), 1u);
  fake.channels().Send(108, "StopProc");
  Deliver();
  EXPECT_EQ(Ops("LineDrop"), 3);
  EXPECT_EQ(Records().size(), 4u);
}

TEST_F(CallStateTest, CommandsAtTheWrongMomentKeepTheLineWorking) {
  // Given commands outside a call or without arguments, and a dial the
  // line refuses during a call, expect journal lines and the calls stored
  // as usual; "Data" being a file loses no call's end: the call waits for
  // the retry, which stores it once "Data" is a folder again.
  AnsweringMachineOn();
  Start();
  for (const char* command :
       {"AnswerMachine", "DropCall", "CallOut", "RecCall\r\nmaybe", "RecCall"})
    fake.channels().Send(108, command);
  EXPECT_EQ(JournalCount("Tapi.LineAnswer(0)->There is no call"), 1);
  EXPECT_EQ(JournalCount("Tapi.LineDrop(0)->There is no call"), 1);
  EXPECT_EQ(JournalCount("CallOut without a number to dial ignored"), 1);
  EXPECT_EQ(JournalCount("RecCall without a True or False argument"), 2);
  Incoming();
  fake.channels().Send(108, "CallOut\r\n5559999");
  EXPECT_EQ(JournalCount("Tapi.MakeCall(0)->"), 1);
  HangUp();
  LeaveMessage(4);
  EXPECT_EQ(Types(), "02");
  EXPECT_EQ(FieldText(Records()[0].caller_number), "5551234");

  std::filesystem::remove_all(home / "Data");
  WriteFile(home / "Data", "not a folder");
  LeaveMessage(3);
  EXPECT_EQ(Sent(110).size(), 3u);
  EXPECT_EQ(fake.clock().timers_enabled(), 1);
  EXPECT_EQ(ReadFile(home / "Data"), "not a folder");
  EXPECT_EQ(JournalCount("could not store the call "), 1);
  std::filesystem::remove(home / "Data");
  fake.clock().Advance(CallStore::kRetryIntervalMs);
  EXPECT_EQ(Types(), "0");
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
}

TEST_F(CallStateTest, RefusedHangUpStillStoresTheCallOnce) {
  // Given a message whose hang-up the device refuses (no Idle follows),
  // expect the recording closed, one type "2" record and one "Tapi_Idle".
  AnsweringMachineOn();
  Start();
  MessageRecording();
  fake.clock().Advance(3000);
  fake.line().faults().drop_result = 999;
  HangUp();
  EXPECT_FALSE(wave1().IsRecording());
  EXPECT_EQ(Types(), "2");
  EXPECT_EQ(FieldText(Records().at(0).length), "0:00:03");
  EXPECT_THAT(Sent(110), ElementsAre("Tapi_Idle\r\n0\r\n2"));
}

TEST_F(CallStateTest, ModemCallFromTheSerialPortThroughTheHandOverAndBack) {
  // Given serial caller-ID mode with a scenario of two commands and a caller
  // whose rings and identification the simulated line's modem reports, expect
  // the call announced (and identified) from the port, a blocked caller
  // handed over at the second ring and answered at the fourth, the ring
  // count going on from the modem's, remote access by number handed over
  // at the fourth ring, and the modem back on the port with the scenario
  // restarted after the call; a caller gone before the hand-over is wrapped
  // up 13 s after the last modem ring. (The end-to-end test answers one.)
  const std::string kIncoming = "Comm_Incomming\r\n0\r\nFalse";
  const std::string kTapi = "Tapi_Ring\r\n0\r\n";
  const struct {
    const char* name;
    const char* machine;  // chkRunAnsIfNotAnswered
    const char* access;   // chkAllowCallerNameNumAccess
    const char* access_number;
    char handling;  // the caller's contact: '2' blocked
    int rings;
    std::vector<std::string> out;
    std::vector<std::string> caller_id;
    const char* at_sent;
  } kCases[] = {
      // clang-format off
      {"GoneBeforeTheHandOver", "1", "1", "", ' ', 2,
       {kIncoming, "Comm_Idle\r\n0\r\n0"}, {}, "ATA\rATB\r"},
      {"BlockedAtTheFourthRing", "0", "0", "", '2', 4,
       {kIncoming, kTapi + "3\r\nFalse", kTapi + "4\r\nFalse",
        "Tapi_Connected\r\n0", "Tapi_Idle\r\n0\r\n0"},
       {"Comm_CID\r\n0\r\nUNKNOWN\r\n5551234\r\nSpam\r\n\r\nFalse\r\n0\r\nFalse"},
       "ATA\rATB\rATA\rATB\r"},
      {"RemoteAccessAtTheFourthRing", "1", "1", "5551234", ' ', 5,
       {kIncoming, kTapi + "5\r\nFalse", "Tapi_Connected\r\n0",
        "Tapi_Idle\r\n0\r\n0"}, {}, "ATA\rATB\rATA\rATB\r"},
      // clang-format on
  };
  AnsweringMachineOn();
  Set("Properties\\TabDevices\\CallerID", "Tapi", "0");
  WriteFile(home / "AT_Commands_Scenario.txt", "' modem\r\nATA\r\nATB\r\n");
  size_t ports = 0;
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Set(kAnswering, "chkRunAnsIfNotAnswered", c.machine);
    Set(kPhoneAccess, "chkAllowCallerNameNumAccess", c.access);
    Set(kPhoneAccess, "txtAccessCallerNumber", c.access_number);
    std::filesystem::remove_all(home / "Data");
    ContactRecord contact = MakeContact("Spam", "", "5551234");
    contact.call_handling[0] = c.handling;
    WriteContacts(home.path(), {contact});
    Start();
    Deliver();
    far().Offer();
    // The blocked caller withholds the name: the modem reports MESG.
    far().CallerId(c.handling == '2' ? "" : "JOHN DOE", "5551234");
    Rings(c.rings);
    HangUp();
    if (c.out.back().starts_with("Comm_Idle")) {
      fake.clock().Advance(12999);
      EXPECT_TRUE(Types().empty());
      fake.clock().Advance(1);
    }
    Deliver();
    EXPECT_THAT(Sent(107), ElementsAreArray(c.out));
    EXPECT_THAT(Sent(109), ElementsAreArray(c.caller_id));
    EXPECT_EQ(Sent(110).at(0), c.out.back());
    EXPECT_EQ(Types(), "0");
    EXPECT_EQ(fake.serial_port(ports++)->sent, c.at_sent);
    EXPECT_EQ(fake.clock().timers_enabled(), 0);
    line_.reset();
  }
}

}  // namespace
}  // namespace lw::testing
