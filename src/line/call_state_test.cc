#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "line/call_test_fixture.h"

namespace lw::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Field(const char* field, size_t n) {
  return std::string(TrimField(std::string_view(field, n)));
}
#define FIELD(rec, f) Field((rec).f, sizeof((rec).f))

class CallStateTest : public CallTest {};

TEST_F(CallStateTest, CallerLeavesAMessageAfterGreetingAndBeep) {
  // Given the answering machine at ring 2 in GSM 6.10, expect greeting and
  // beep into the line, the message recorded from it, every step told to the
  // desktop and journalled, and the record's exact length. (The end-to-end
  // test hears the sounds and reads the stored files.)
  AnsweringMachineOn();
  Set(kAnswering, "cmbAnsweringFormatRec", "2");
  Set(kIncomingEvents, "chkICViewCD", "1");
  Set(kIncomingEvents, "cmbCallDisplayStyleIncomming", "2");
  Start();
  Incoming();
  Rings(2);
  ASSERT_EQ(wave1().plays().size(), 1u);
  const FakePlay& greeting = wave1().plays()[0];
  EXPECT_EQ(greeting.file, home / "Greets/Hello.wav");
  EXPECT_TRUE(greeting.to_line);
  EXPECT_EQ(greeting.device, 2);
  EXPECT_EQ(greeting.size_value, 800);
  wave1().FinishPlay();
  ASSERT_EQ(wave1().plays().size(), 2u);
  EXPECT_EQ(wave1().plays()[1].file, home / "Beep.wav");
  EXPECT_TRUE(wave1().recordings().empty());
  wave1().FinishPlay();
  ASSERT_EQ(wave1().recordings().size(), 1u);
  const FakeRecording& rec = wave1().recordings()[0];
  const std::string name = "TESTCALLER_5551234_12-04-2026_14-03-22.wav";
  EXPECT_EQ(rec.file, home / ("Data/Log/2026/12/04/" + name));
  EXPECT_EQ(rec.device, 1);
  EXPECT_EQ(rec.file_format.format_tag, 49);
  EXPECT_EQ(rec.size_value, 16000);
  fake.clock().Advance(7000);
  HangUp();

  EXPECT_EQ(FIELD(Records().at(0), length), "0:00:07");
  EXPECT_EQ(FIELD(Records().at(0), description), "Incoming call");
  EXPECT_THAT(Sent(107), ElementsAre("Tapi_Incomming\r\n0\r\nFalse",
                                     "Tapi_Ring\r\n0\r\n1\r\nFalse",
                                     "Tapi_Ring\r\n0\r\n2\r\nFalse",
                                     "Tapi_Connected\r\n0", "PlayGreet\r\n0",
                                     "RecMessage\r\n0", "Tapi_Idle\r\n0\r\n2"));
  EXPECT_THAT(Sent(109),
              ElementsAre("Tapi_CID\r\n0\r\nTESTCALLER\r\n5551234\r\n\r\n\r\n"
                          "True\r\n2\r\nFalse"));
  EXPECT_THAT(Sent(110), ElementsAre("Tapi_Idle\r\n0\r\n2"));
  for (const char* line :
       {"Tapi_CallerID:(Index:0):TESTCALLER:5551234,Contact()",
        "Tapi.LineAnswer(0)->Success", "Tapi_Conected(0)->Success",
        "Tapi.LineDrop(0)->Success", "Tapi_Idle(0)->Success"})
    EXPECT_EQ(JournalCount(line), 1) << line;
  EXPECT_THAT(far().told(), ElementsAre("offered(open)", "answered"));
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
}

TEST_F(CallStateTest, MessageUnderTwoSecondsCountsAsNone) {
  // Given a message of 1 second, expect type "0" with "0:00:00", the call
  // over reported with "0", mail by voice message not sent, the file kept.
  AnsweringMachineOn();
  Set("Forward\\Mail", "chkSendToMail", "1");
  Set("Forward\\Mail", "cmbActMail", "1");
  Start();
  int mails = 0;
  s().hooks.SendMailForCall = [&] { ++mails; };
  LeaveMessage(1);
  const std::vector<CallRecord> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(FIELD(records[0], call_type), "0");
  EXPECT_EQ(FIELD(records[0], length), "0:00:00");
  EXPECT_THAT(Sent(110), ElementsAre("Tapi_Idle\r\n0\r\n0"));
  EXPECT_EQ(mails, 0);

  // A message of 2 seconds is one: mailed now.
  LeaveMessage(2);
  EXPECT_EQ(mails, 1);
}

TEST_F(CallStateTest, PickUpOnAnExtensionIsRecordedAfterTheRingGap) {
  // Given recording on pick-up, expect rings 5 s apart never to take the
  // line, a gap of more than 7 s after the last ring to take it with
  // bRecTheCall, and the conversation stored as type "3".
  PickUpRecordingOn();
  Set(kCallsRecord, "cmbRecordFormatRec", "1");
  Set(kDisconnectMode, "txtListRecMoreThen", "10");
  Start();
  Incoming();
  EXPECT_THAT(Sent(107), ElementsAre("Tapi_Incomming\r\n0\r\nTrue"));
  Rings(5);
  EXPECT_EQ(Ops("LineAnswer"), 0);
  far().PickUp();
  fake.clock().Advance(7000);
  EXPECT_EQ(Ops("LineAnswer"), 0);
  fake.clock().Advance(100);
  EXPECT_EQ(Ops("LineAnswer"), 1);
  Deliver();
  EXPECT_TRUE(wave1().plays().empty());  // no greeting: only recorded
  ASSERT_EQ(wave1().recordings().size(), 1u);
  EXPECT_EQ(wave1().recordings()[0].file_format.format_tag, 7);
  EXPECT_EQ(wave1().recordings()[0].size_value, 8000);
  EXPECT_TRUE(wave1().FreqDetect());
  EXPECT_EQ(Sent(107).back(), "RecCall\r\n0");
  fake.clock().Advance(11000);
  HangUp();
  const std::vector<CallRecord> records = Records();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(FIELD(records[0], call_type), "3");
  EXPECT_EQ(FIELD(records[0], length), "0:00:11");
  EXPECT_EQ(Sent(110).back(), "Tapi_Idle\r\n0\r\n3");
}

TEST_F(CallStateTest, RecordingOfExactlyTheListingThresholdIsDropped) {
  // Given txtListRecMoreThen 10, expect a recorded call of 10 s stored as
  // type "0".
  PickUpRecordingOn();
  Set(kDisconnectMode, "txtListRecMoreThen", "10");
  Start();
  Incoming();
  far().PickUp();
  fake.clock().Advance(7200);
  Deliver();
  fake.clock().Advance(10000);
  HangUp();
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(FIELD(Records()[0], call_type), "0");
}

TEST_F(CallStateTest, EveryThirdCallIsMarkedForRecording) {
  // Given cmbRecWhen 1 and lblNumOfCallToRec 3, expect calls 3, 6 and 9
  // marked; with 0, none.
  for (const char* n : {"3", "0"}) {
    SCOPED_TRACE(n);
    Set(kCallsRecord, "chkDetectPickUp", "1");
    Set(kCallsRecord, "cmbRecWhen", "1");
    Set(kCallsRecord, "lblNumOfCallToRec", n);
    Start();
    std::string marks;
    for (int call = 1; call <= 9; ++call) {
      far().Offer();
      Deliver();
      marks += Sent(107).back() == "Tapi_Incomming\r\n0\r\nTrue" ? "R" : ".";
      HangUp();
    }
    EXPECT_EQ(marks, std::string(n) == "3" ? "..R..R..R" : ".........");
    line_.reset();
  }
}

TEST_F(CallStateTest, AnsweringMachineAnswersAtTheConfiguredRing) {
  // Given txtNumOfRing 3, expect the answer at ring 3; with 0 or 1 at the
  // first ring.
  for (const char* rings : {"3", "0", "1"}) {
    SCOPED_TRACE(rings);
    AnsweringMachineOn();
    Set(kAnswering, "txtNumOfRing", rings);
    Start();
    Incoming();
    int answered_at = 0;
    for (int ring = 1; ring <= 4 && answered_at == 0; ++ring) {
      Rings(1);
      if (Ops("LineAnswer") > 0) answered_at = ring;
    }
    EXPECT_EQ(answered_at, std::string(rings) == "3" ? 3 : 1);
    HangUp();
    HangUp();
    line_.reset();
  }
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
    EXPECT_EQ(FIELD(Records().back(), call_type), "0");
    EXPECT_EQ(Sent(110).back(), "Tapi_Idle\r\n0\r\n0");
    EXPECT_EQ(fake.clock().timers_enabled(), 0);
  }
  EXPECT_TRUE(wave1().recordings().empty());
  EXPECT_EQ(Records().size(), 4u);
  EXPECT_EQ(Ops("LineAnswer"), 3);  // the one as the caller left refused
  EXPECT_EQ(JournalCount("Tapi.LineAnswer(0)->There is no call"), 1);
  EXPECT_EQ(Ops("LineDrop"), 2);
}

TEST_F(CallStateTest, MissingGreetingEndsTheCallAtConnection) {
  // Given no greeting file, expect the play failure journalled twice, the
  // call dropped at once and stored.
  AnsweringMachineOn();
  fake.wave_files().Forget(home / "Greets/Hello.wav");
  Start();
  Incoming();
  Rings(2);
  Deliver();
  EXPECT_EQ(JournalCount("PlayToLine:Wave1.StartPlayACM->File not found(201)"),
            2);
  EXPECT_EQ(Ops("LineDrop"), 1);
  Deliver();
  EXPECT_EQ(Records().size(), 1u);
  EXPECT_THAT(Sent(107), ::testing::Not(::testing::Contains("PlayGreet\r\n0")));
}

TEST_F(CallStateTest, GreetingWithoutBeepOrWithoutMessage) {
  // Given no Beep.wav, expect the recording to start when the greeting
  // ends; with cmdRecordMessage off, the call dropped there instead.
  AnsweringMachineOn(/*with_beep=*/false);
  Start();
  Incoming();
  Rings(2);
  Deliver();
  wave1().FinishPlay();
  EXPECT_EQ(wave1().plays().size(), 1u);
  EXPECT_EQ(wave1().recordings().size(), 1u);
  HangUp();

  Set(kAnswering, "cmdRecordMessage", "0");
  line_->LoadCallOptions();
  Incoming();
  Rings(2);
  Deliver();
  wave1().FinishPlay();
  EXPECT_EQ(wave1().recordings().size(), 1u);
  EXPECT_EQ(far().told().back(), "hungup");
}

TEST_F(CallStateTest, LegalNoticeBeforeARecordedConversation) {
  // Given the notice on, expect it played at connection ("PlayLegalGreet")
  // and the recording to start when it ends; a missing notice ends the call.
  PickUpRecordingOn();
  Set(kCallsRecord, "chkLegalRecMSG", "1");
  Set(kCallsRecord, "cmbLegalRecMSG", "Notice");
  fake.wave_files().Set(home / "LegalGreets/Notice.wav", {1, 1, 8000, 2});
  Start();
  Incoming();
  far().PickUp();
  fake.clock().Advance(7200);
  Deliver();
  ASSERT_EQ(wave1().plays().size(), 1u);
  EXPECT_EQ(wave1().plays()[0].file, home / "LegalGreets/Notice.wav");
  EXPECT_EQ(Sent(107).back(), "PlayLegalGreet\r\n0");
  EXPECT_TRUE(wave1().recordings().empty());
  wave1().FinishPlay();
  EXPECT_EQ(wave1().recordings().size(), 1u);
  HangUp();

  fake.wave_files().Forget(home / "LegalGreets/Notice.wav");
  Incoming();
  far().PickUp();
  fake.clock().Advance(7200);
  Deliver();
  EXPECT_EQ(wave1().recordings().size(), 1u);
  EXPECT_EQ(far().told().back(), "hungup");
  EXPECT_EQ(Records().size(), 2u);
}

TEST_F(CallStateTest, BlockedContactIsAnsweredAndDroppedSilently) {
  // Given a contact whose call handling blocks, expect the line answered at
  // the caller ID and dropped at connection, no "Tapi_CID", no incoming
  // sound, no caller-ID journal line, and the call stored.
  ContactRecord c = MakeContact("Pest", "TESTCALLER", "5551234");
  c.call_handling[0] = '2';
  c.contact_digit[0] = '7';
  WriteContacts(home.path(), {c});
  Set(kIncomingEvents, "chkPlayInCall", "1");
  Set(kIncomingEvents, "chkWhenCallerID", "1");
  Set(kIncomingEvents, "CmbPlayWhenCall", "ring.wav");
  Start();
  Incoming();
  EXPECT_EQ(Ops("LineAnswer"), 1);
  EXPECT_EQ(Ops("LineDrop"), 1);
  EXPECT_EQ(far().told().back(), "hungup");
  EXPECT_THAT(Sent(109), IsEmpty());
  EXPECT_TRUE(player().plays().empty());
  EXPECT_EQ(JournalCount("Tapi_CallerID"), 0);
  ASSERT_EQ(Records().size(), 1u);
  EXPECT_EQ(FIELD(Records()[0], description), "Pest");
  EXPECT_EQ(FIELD(Records()[0], contact_digit), "7");
  EXPECT_TRUE(wave1().plays().empty());
}

TEST_F(CallStateTest, MatchedContactOwnAnsweringAndForwarding) {
  // Given a contact with its own answering (answer, no pick-up) and
  // forwarding "2", expect answering at its ring count and neither mail nor
  // program for the call.
  ContactRecord c = MakeContact("Boss", "", "5551234");
  c.call_handling[0] = '4';
  c.run_ans_if_not_answered[0] = '1';
  c.detect_pick_up[0] = '0';
  c.record_message[0] = '1';
  PutField(c.greeting, "Hello");
  PutField(c.num_of_ring, "3");
  c.forwarding[0] = '2';
  WriteContacts(home.path(), {c});
  AnsweringMachineOn();
  Set("Forward\\Mail", "chkSendToMail", "1");
  Set("Forward\\App", "chkApp", "1");
  Start();
  int forwarded = 0;
  s().hooks.SendMailForCall = [&] { ++forwarded; };
  s().hooks.SendToApp = [&] { ++forwarded; };
  Incoming();
  Rings(2);
  EXPECT_EQ(Ops("LineAnswer"), 0);
  fake.clock().Advance(5000);
  Rings(1);
  EXPECT_EQ(Ops("LineAnswer"), 1);
  HangUp();
  HangUp();
  EXPECT_EQ(forwarded, 0);
  EXPECT_EQ(FIELD(Records()[0], description), "Boss");
}

TEST_F(CallStateTest, CorruptOrMissingContactsLeaveTheOptions) {
  // Given a contacts file of garbage, expect no contact matched and the
  // caller announced with empty contact fields.
  WriteFile(home / "Data/Contactes", std::string(2000, '\xff'));
  Start();
  Incoming();
  EXPECT_THAT(Sent(109), ElementsAre("Tapi_CID\r\n0\r\nTESTCALLER\r\n5551234"
                                     "\r\n\r\n\r\nFalse\r\n0\r\nFalse"));
  HangUp();
  EXPECT_EQ(FIELD(Records()[0], description), "Incoming call");
}

TEST_F(CallStateTest, RemoteAccessCallerIsAnsweredAndKeptOffTheList) {
  // Given access by caller number, expect no "Tapi_CID" for any caller;
  // the matching caller answered at the next ring, remote access started
  // at connection, nothing recorded, and the call kept off the list.
  Set(kPhoneAccess, "chkAllowCallerNameNumAccess", "1");
  Set(kPhoneAccess, "txtAccessCallerNumber", "5550000");
  PickUpRecordingOn();
  Start();
  int started = 0;
  s().hooks.StartRemoteAccess = [&] { ++started; };
  Incoming("Someone", "5551234");
  HangUp();
  Incoming("Owner", "5550000");
  Rings(1);
  EXPECT_EQ(Ops("LineAnswer"), 1);
  Deliver();
  EXPECT_EQ(started, 1);
  EXPECT_TRUE(wave1().recordings().empty());
  HangUp();
  EXPECT_THAT(Sent(109), IsEmpty());
  EXPECT_EQ(Records().size(), 2u);
  EXPECT_EQ(LastCalls(), "1:\\Data\\Log\\2026\\12\\04\\\r\n");
}

TEST_F(CallStateTest, ForwardingHooksFollowTheCallType) {
  // Given mail for recorded calls (cmbActMail 2) and the program for every
  // call (cmbActApp 0), expect after a voice message only the program, and
  // both after a recorded conversation; each after "Tapi_Idle".
  AnsweringMachineOn();
  Set("Forward\\Mail", "chkSendToMail", "1");
  Set("Forward\\Mail", "cmbActMail", "2");
  Set("Forward\\App", "chkApp", "1");
  Set("Forward\\App", "cmbActApp", "0");
  Start();
  std::vector<std::string> log;
  s().hooks.SendMailForCall = [&] {
    log.push_back("mail after " + Sent(107).back());
  };
  s().hooks.SendToApp = [&] { log.push_back("app after " + Sent(110).back()); };
  LeaveMessage(3);
  EXPECT_THAT(log, ElementsAre("app after Tapi_Idle\r\n0\r\n2"));
  PickUpRecordingOn();
  Set(kAnswering, "chkRunAnsIfNotAnswered", "0");
  line_->LoadCallOptions();
  log.clear();
  Incoming();
  far().PickUp();
  fake.clock().Advance(7200);
  Deliver();
  fake.clock().Advance(3000);
  HangUp();
  EXPECT_THAT(log, ElementsAre("mail after Tapi_Idle\r\n0\r\n3",
                               "app after Tapi_Idle\r\n0\r\n3"));
}

TEST_F(CallStateTest, OutgoingCallsAreStoredAsTypeOneOrRecordedAsFour) {
  // Given "CallOut" and "CallOutRec", expect dialling reported, the
  // recorded one recorded from connection without limits and stored "4",
  // the other stored "1" with the call-out description.
  Set(kCallsRecord, "chkMaxRecCall", "1");
  Set(kCallsRecord, "cmbMaxRecCall", "0.1");
  Start();
  far().WaitCall();
  fake.channels().Send(108, "CallOutRec\r\n5557777");
  EXPECT_THAT(far().TakeTold(), ElementsAre("dialed(5557777)"));
  Deliver();
  EXPECT_EQ(Sent(107).back(), "Tapi_Dialing\r\n0");
  far().AnswerCall();
  Deliver();
  EXPECT_EQ(wave1().recordings().size(), 1u);
  fake.clock().Advance(20000);  // past the 6 s limit of recorded calls
  EXPECT_EQ(Ops("LineDrop"), 0);
  HangUp();
  far().WaitCall();
  fake.channels().Send(108, "CallOut\r\n5558888");
  Deliver();
  far().AnswerCall();
  fake.clock().Advance(5000);
  HangUp();
  const std::vector<CallRecord> records = Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(FIELD(records[0], call_type), "4");
  EXPECT_EQ(FIELD(records[0], caller_number), "5557777");
  EXPECT_EQ(FIELD(records[0], length), "0:00:20");
  EXPECT_EQ(FIELD(records[1], call_type), "1");
  EXPECT_EQ(FIELD(records[1], description), "Outgoing call");
  EXPECT_EQ(wave1().recordings().size(), 1u);
  EXPECT_THAT(Sent(110),
              ElementsAre("Tapi_Idle\r\n0\r\n4", "Tapi_Idle\r\n0\r\n1"));
}

TEST_F(CallStateTest, RecCallCommandMarksTheRingingCall) {
  // Given "RecCall" "True" while an unmarked call rings, expect the ring
  // gap from the next ring on and the line taken after a gap of over 7 s.
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
  EXPECT_EQ(Sent(107).back(), "RecCall\r\n0");
}

TEST_F(CallStateTest, CallCommandsDecideTheRingingCall) {
  // Given a ringing call, expect "DropTheCall" to answer and drop it at
  // connection; "DoNothing" to stop the ring gap and leave it alone;
  // "AnswerMachine" to answer now with the greeting.
  AnsweringMachineOn();
  Set(kAnswering, "txtNumOfRing", "9");
  PickUpRecordingOn();
  Start();
  Incoming();
  fake.channels().Send(108, "DropTheCall");
  Deliver();
  EXPECT_EQ(Ops("LineDrop"), 1);

  Incoming();
  fake.channels().Send(108, "DoNothing");
  fake.clock().Advance(8000);
  Rings(10);
  EXPECT_EQ(Ops("LineAnswer"), 1);
  HangUp();

  Incoming();
  fake.channels().Send(108, "AnswerMachine");
  Deliver();
  EXPECT_EQ(wave1().plays().size(), 1u);
  fake.channels().Send(108, "StopProc");
  EXPECT_EQ(Ops("LineDrop"), 2);
  Deliver();
  EXPECT_EQ(Records().size(), 3u);
}

TEST_F(CallStateTest, CommandsAtTheWrongMomentKeepTheLineWorking) {
  // Given commands outside a call or without arguments, expect journal
  // lines and no crash; the next call works as usual.
  AnsweringMachineOn();
  Start();
  fake.channels().Send(108, "AnswerMachine");
  fake.channels().Send(108, "DropCall");
  fake.channels().Send(108, "CallOut");
  fake.channels().Send(108, "RecCall\r\nmaybe");
  fake.channels().Send(108, "RecCall");
  EXPECT_EQ(JournalCount("Tapi.LineAnswer(0)->There is no call"), 1);
  EXPECT_EQ(JournalCount("Tapi.LineDrop(0)->There is no call"), 1);
  EXPECT_EQ(JournalCount("CallOut without a number to dial ignored"), 1);
  EXPECT_EQ(JournalCount("RecCall without a True or False argument"), 2);
  EXPECT_EQ(Ops("MakeCall(5559999)"), 0);

  // "CallOut" during a call: a new current call, the dial refused.
  Incoming();
  fake.channels().Send(108, "CallOut\r\n5559999");
  EXPECT_EQ(JournalCount("Tapi.MakeCall(0)->"), 1);
  HangUp();
  LeaveMessage(4);
  EXPECT_EQ(FIELD(Records().back(), call_type), "2");
}

TEST_F(CallStateTest, UncreatableDayFolderStillEndsTheCallCleanly) {
  // Given "Data" being a file (no day folder can be made), expect the
  // message call to run through, nothing stored, "Tapi_Idle" sent and the
  // line back to waiting.
  AnsweringMachineOn();
  WriteFile(home / "Data", "not a folder");
  Start();
  LeaveMessage(3);
  EXPECT_EQ(Sent(110).size(), 1u);
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
  EXPECT_EQ(ReadFile(home / "Data"), "not a folder");
}

TEST_F(CallStateTest, ListMessagesOnlyStoresOnlyKeptRecordings) {
  // Given chkListMessagesOnly, expect an unanswered call not stored at all
  // and a message stored.
  AnsweringMachineOn();
  Set(kGeneral, "chkListMessagesOnly", "1");
  Start();
  Incoming();
  Rings(1);
  HangUp();
  EXPECT_TRUE(Records().empty());
  LeaveMessage(3);
  EXPECT_EQ(Records().size(), 1u);
}

TEST_F(CallStateTest, CallWithoutItsIdleIsStoredExactlyOnce) {
  // Given a message cut off by the line closing (and reopened before the
  // drop's Idle arrives), then one cut off by a device that refuses the
  // hang-up, expect each recording closed, one type "2" record each and one
  // "Tapi_Idle" each, sent before the line status.
  AnsweringMachineOn();
  Start();
  for (int cut = 0; cut < 2; ++cut) {
    SCOPED_TRACE(cut);
    Incoming();
    Rings(2);
    Deliver();
    wave1().FinishPlay();  // greeting
    wave1().FinishPlay();  // beep
    fake.clock().Advance(3000);
    if (cut == 0) {
      line_->CloseLine();
      ASSERT_GE(Sent(107).size(), 2u);
      EXPECT_EQ(Sent(107).back(), "LineStatus\r\n0\r\n1\r\nFalse");
      EXPECT_EQ(Sent(107)[Sent(107).size() - 2], "Tapi_Idle\r\n0\r\n2");
      line_->OpenLine();
    } else {
      fake.line().faults().drop_result = 999;
      far().HangUp();
    }
    Deliver();
    EXPECT_FALSE(wave1().IsRecording());
    ASSERT_EQ(Records().size(), cut + 1u);
    EXPECT_EQ(FIELD(Records().back(), call_type), "2");
    EXPECT_EQ(FIELD(Records().back(), length), "0:00:03");
    EXPECT_EQ(LastCalls().substr(0, 2), std::to_string(cut + 1) + ":");
    EXPECT_EQ(Sent(110).size(), cut + 1u);
    EXPECT_EQ(Sent(110).back(), "Tapi_Idle\r\n0\r\n2");
    EXPECT_EQ(Ops("LineDrop"), cut + 1);
  }
}

TEST_F(CallStateTest, MissingOrBlankCallerPartsAreUnknown) {
  // Given caller identification with a part missing or blank, expect
  // "UNKNOWN" in its place in the message, the recording's name and the
  // record.
  struct Case {
    std::string name, number, want_name, want_number;
  };
  AnsweringMachineOn();
  Start();
  for (const Case& c : {Case{"", "5551234", "UNKNOWN", "5551234"},
                        Case{" \t ", "5551234", "UNKNOWN", "5551234"},
                        Case{"ANNA", "  ", "ANNA", "UNKNOWN"}}) {
    SCOPED_TRACE(c.name + "/" + c.number);
    Incoming(c.name, c.number);
    const std::string cid =
        "Tapi_CID\r\n0\r\n" + c.want_name + "\r\n" + c.want_number + "\r\n";
    EXPECT_EQ(Sent(109).back().rfind(cid, 0), 0u) << Sent(109).back();
    Rings(2);
    Deliver();
    wave1().FinishPlay();
    wave1().FinishPlay();
    fake.clock().Advance(3000);
    HangUp();
    const std::string file = wave1().recordings().back().file;
    EXPECT_NE(file.find("/" + c.want_name + "_" + c.want_number + "_"),
              std::string::npos)
        << file;
    EXPECT_EQ(FIELD(Records().back(), caller_name), c.want_name);
    EXPECT_EQ(FIELD(Records().back(), caller_number), c.want_number);
  }
}

}  // namespace
}  // namespace lw::testing
