#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>

#include "line/call_test_fixture.h"

namespace lw::testing {
namespace {

// One call of the owner after `entries` voice messages from callers "C1"
// (oldest) to "Cn", so the list reads Cn .. C1. Texts: welcome "W<count>",
// before "B<caller>", after "A<caller>". Keys: 0 close, 7 delete, 1 first,
// 6 next, 4 previous, 5 play, * drop; access code "1234#".
struct DialogueCase {
  const char* name;
  int entries;
  bool by_code;          // the code typed during the greeting; else the caller
                         // number lets the owner in
  const char* settings;  // "name=value" words of phone access
  // Words after the owner's call: "e" the text spoken ends, "p" the played
  // file ends, "o" the owner calls again, "+N" N seconds pass, "x" plays
  // fail from now on, anything else keys typed ("?" is no key).
  const char* script;
  std::vector<std::string> spoken;  // the line voice's texts
  bool dropped;                     // the line hung up before the caller did
  size_t left;                      // entries left in the latest-call list
  const char* types;                // stored call types, the owner's call last
};

void PrintTo(const DialogueCase& c, std::ostream* os) { *os << c.name; }

class RemoteAccessTest : public CallTest,
                         public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(RemoteAccessTest, OwnerWalksTheLatestCalls) {
  // Given the messages, settings and keys of the case, expect the texts
  // spoken in order, the call ended by the line or not, the list and the
  // stored calls as given, each key journalled, no timer left.
  const DialogueCase& c = GetParam();
  AnsweringMachineOn();
  // Every name is read from its own section only; one store key holds all.
  std::istringstream settings(
      "chkAllowRemoteAccess=1 txtDigitsToEnter=1234 cmbConfirmDigit=# "
      "chkAllowCallerNameNumAccess=1 txtAccessCallerNumber=0 "
      "cmbCloseRCDigit=0 cmbDelRCDigit=7 cmbFirstMessageDigit=1 "
      "cmbNextMessageDigit=6 cmbPrevMessageDigit=4 cmbPlayMessageDigit=5 "
      "txtRCTTSWllcome=W<NUM_CALLS> txtRCTTSBefore=B<CALLER_NAME> "
      "txtRCTTSAfter=A<CALLER_NAME> chkDropIfDigit=1 txtDropIfDigit=* " +
      std::string(c.settings));
  for (std::string word; settings >> word;) {
    const size_t eq = word.find('=');
    for (const char* section :
         {kPhoneAccess, kDisconnectMode, kAnswering, "Access\\Phone\\Digits",
          "Access\\Phone\\Messages"})
      Set(section, word.substr(0, eq), word.substr(eq + 1));
  }
  Start();
  for (int i = 1; i <= c.entries; ++i) LeaveMessage(3, "C" + std::to_string(i));
  fake.line().ClearOps();

  size_t keys = 0;
  std::istringstream script("o " + std::string(c.script));
  for (std::string word; script >> word; Deliver()) {
    if (word == "e") {
      fake.voice(0)->FinishSpeaking();
    } else if (word == "p") {
      wave1().FinishPlay();
    } else if (word == "o") {
      Incoming("Owner", c.by_code ? "5557777" : "0");
      Rings(c.by_code ? 2 : 1);
    } else if (word == "x") {
      wave1().faults().play_result = kFakeWaveFileNotFound;
    } else if (word[0] == '+') {
      fake.clock().Advance(std::stoul(word.substr(1)) * 1000);
    } else {
      far().Digits(word);
      for (char k : word) keys += std::isalnum(k) || k == '*' || k == '#';
    }
  }
  EXPECT_EQ(fake.voice(0)->spoken(), c.spoken);
  EXPECT_EQ(Ops("LineDrop") > 0, c.dropped);
  HangUp();
  EXPECT_EQ(std::ranges::count(ReadFile(home / "Data/Last"), '\n'), c.left);
  EXPECT_EQ(Types(), c.types);
  EXPECT_EQ(JournalCount("Tapi_MonitorDigit(0):"), static_cast<int>(keys));
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
}

const char* const kWrong = "Error password, please try again.";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Dialogue, RemoteAccessTest, ::testing::Values(
    DialogueCase{"EmptyListEndsAfterTheWelcomeEachTime", 0, false, "", "e o e", {"W0", "W0"}, true, 0, "00"},
    DialogueCase{"EmptyWelcomeTextStillMovesOn", 0, false, "txtRCTTSWllcome=", "", {}, true, 0, "0"},
    DialogueCase{"AfterTextThreeTimesThenTheCallEnds", 1, false, "", "e e p e e e", {"W1", "BC1", "AC1", "AC1", "AC1"}, true, 1, "20"},
    DialogueCase{"NextAndPreviousWalkSeveralEntries", 3, false, "", "e e 6 ? 6 4", {"W3", "BC3", "BC2", "BC1", "BC2"}, false, 3, "2220"},
    // A key without effect stops nothing: the text it fell into ends as usual.
    DialogueCase{"PreviousAtStartAndNextAtEndDoNothing", 2, false, "", "e 4 e p 6 6 e", {"W2", "BC2", "AC2", "BC1"}, false, 2, "220"},
    // On a line that never reports the hang-up, the message length limit
    // (2 minutes without one) ends the wait for a key after a recording that
    // cannot be played.
    DialogueCase{"UnplayableRecordingWaitsWithinTheLengthLimit", 1, false, "chkMaxRec=1 txtRecLong=0.5", "e x e +31", {"W1", "BC1"}, true, 1, "20"},
    DialogueCase{"UnplayableRecordingWaitsTwoMinutesWithoutALimit", 1, false, "chkMaxRec=0", "e x e +121", {"W1", "BC1"}, true, 1, "20"},
    DialogueCase{"DeletingTheOnlyEntryEndsAfterAnEmptyWelcome", 1, false, "", "e 7 e", {"W1", "BC1", "W0"}, true, 0, "20"},
    DialogueCase{"DeletingTheLastEntryStepsBack", 2, false, "", "e 6 7", {"W2", "BC2", "BC1", "BC2"}, false, 1, "220"},
    DialogueCase{"CloseWinsOverDeleteOnTheSameKey", 1, false, "cmbDelRCDigit=0", "e 0", {"W1", "BC1"}, true, 1, "20"},
    DialogueCase{"WrongCodeOnceThenRight", 1, true, "", "9# 1234# e", {kWrong, "W1", "BC1"}, false, 1, "20"},
    DialogueCase{"FourthWrongCodeEndsTheCall", 0, true, "", "1# 2# 3# 4#", {kWrong, kWrong, kWrong}, true, 1, "0"},
    DialogueCase{"NextCodeInTime", 0, true, "", "9# +15 1234#", {kWrong, "W0"}, false, 0, "0"},
    DialogueCase{"SeventeenSecondsAfterAWrongCode", 0, true, "", "9# +16", {kWrong}, true, 1, "0"},
    // The message cut short by the code stays; the owner's call is not listed.
    DialogueCase{"CodeDuringTheMessageKeepsItOffTheList", 1, true, "", "p p +3 1234#", {"W1"}, false, 1, "22"},
    DialogueCase{"DropDigitEndsTheMessage", 1, true, "", "p p +3 *", {}, true, 2, "22"}),
    [](const ::testing::TestParamInfo<DialogueCase>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace lw::testing
