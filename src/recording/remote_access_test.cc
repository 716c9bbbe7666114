#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <sstream>

#include "line/call_test_fixture.h"

namespace lw::testing {
namespace {

constexpr const char* kDigits = "Access\\Phone\\Digits";

// One call of the owner after `entries` voice messages from callers "C1"
// (oldest) to "Cn", so the list reads Cn .. C1. Texts: welcome "W<count>",
// before "B<caller>", after "A<caller>". Keys: 0 close, 7 delete, 1 first,
// 6 next, 4 previous, 5 play; access code "1234#".
struct DialogueCase {
  const char* name;
  int entries;
  bool by_code;  // the owner types the code during the greeting; else is
                 // known by the caller number
  std::vector<std::pair<std::string, std::string>> settings;  // digits, texts
  // Words: "e" the text spoken ends, "p" the played file ends, "x" the
  // recordings vanish, "+N" N seconds pass, anything else keys typed ("?"
  // is no key).
  const char* script;
  const char* spoken;  // the line voice's texts, joined by "|"
  bool dropped;        // the line hung up before the caller did
  size_t left;         // entries left in the latest-call list
  const char* types;   // stored call types, the owner's call last
};

void PrintTo(const DialogueCase& c, std::ostream* os) { *os << c.name; }

class RemoteAccessTest : public CallTest,
                         public ::testing::WithParamInterface<DialogueCase> {};

TEST_P(RemoteAccessTest, OwnerWalksTheLatestCalls) {
  // Given the messages, settings and keys of the case, expect the texts
  // spoken in order, the call ended by the line or not, the list and the
  // stored calls as given, one journal line per key and no timer left.
  const DialogueCase& c = GetParam();
  AnsweringMachineOn();
  Set(kPhoneAccess, "chkAllowRemoteAccess", "1");
  Set(kPhoneAccess, "txtDigitsToEnter", "1234");
  Set(kPhoneAccess, "cmbConfirmDigit", "#");
  Set(kPhoneAccess, "chkAllowCallerNameNumAccess", "1");
  Set(kPhoneAccess, "txtAccessCallerNumber", "5550000");
  Set(kDisconnectMode, "chkDropIfDigit", "1");
  Set(kDisconnectMode, "txtDropIfDigit", "*");
  const char* keys[][2] = {
      {"cmbCloseRCDigit", "0"},      {"cmbDelRCDigit", "7"},
      {"cmbFirstMessageDigit", "1"}, {"cmbNextMessageDigit", "6"},
      {"cmbPrevMessageDigit", "4"},  {"cmbPlayMessageDigit", "5"}};
  for (const auto& k : keys) Set(kDigits, k[0], k[1]);
  Set("Access\\Phone\\Messages", "txtRCTTSWllcome", "W<NUM_CALLS>");
  Set("Access\\Phone\\Messages", "txtRCTTSBefore", "B<CALLER_NAME>");
  Set("Access\\Phone\\Messages", "txtRCTTSAfter", "A<CALLER_NAME>");
  for (const auto& [name, value] : c.settings)
    Set(name.starts_with("txt") ? "Access\\Phone\\Messages" : kDigits, name,
        value);
  Start();
  for (int i = 1; i <= c.entries; ++i) {
    Incoming("C" + std::to_string(i), "555100" + std::to_string(i));
    Rings(2);
    wave1().FinishPlay();
    wave1().FinishPlay();
    fake.clock().Advance(3000);
    HangUp();
  }
  fake.line().ClearOps();
  const std::string day = home / "Data/Log/2026/12/04";
  FakeVoice& voice = *fake.voice(0);
  Incoming("Owner", c.by_code ? "5557777" : "5550000");
  Rings(c.by_code ? 2 : 1);

  size_t keys_typed = 0;
  std::istringstream script(c.script);
  for (std::string word; script >> word; Deliver()) {
    if (word == "e") {
      voice.FinishSpeaking();
    } else if (word == "p") {
      wave1().FinishPlay();
    } else if (word == "x") {
      for (const auto& f : std::filesystem::directory_iterator(day)) {
        if (f.path().extension() != ".wav") continue;
        fake.wave_files().Forget(f.path().string());
        std::filesystem::remove(f.path());
      }
    } else if (word[0] == '+') {
      fake.clock().Advance(std::stoul(word.substr(1)) * 1000);
    } else {
      far().Digits(word);
      for (char k : word) keys_typed += std::isalnum(k) || k == '*' || k == '#';
    }
  }
  Deliver();
  std::string spoken;
  for (const std::string& text : voice.spoken())
    spoken += (spoken.empty() ? "" : "|") + text;
  EXPECT_EQ(spoken, c.spoken);
  EXPECT_EQ(Ops("LineDrop") > 0, c.dropped);
  HangUp();
  std::vector<std::string> last;
  line_->store().ReadLastCalls(last);
  EXPECT_EQ(last.size(), c.left);
  EXPECT_EQ(Types(), c.types);
  // Every message stays on disk, one cut short by the access code too.
  for (const CallRecord& r : Records()) {
    if (FieldText(r.call_type) != "2" || c.script[0] == 'x') continue;
    EXPECT_TRUE(std::filesystem::exists(
        day + "/" +
        RecordingName(FieldText(r.caller_name), FieldText(r.caller_number),
                      FieldText(r.date), FieldText(r.time))));
  }
  EXPECT_EQ(JournalCount("Tapi_MonitorDigit(0):"),
            static_cast<int>(keys_typed));
  size_t told = 0;
  for (const std::string& m : Sent(107))
    told += m.starts_with("Tapi_MonitorDigit") && !m.ends_with("DoRefresh");
  EXPECT_EQ(told, keys_typed);
  EXPECT_EQ(fake.clock().timers_enabled(), 0);
}

const char* const kWrong = "Error password, please try again.";
const std::string kWrong3 = std::string(kWrong) + "|" + kWrong + "|" + kWrong;
const std::string kWrongThenW1 = std::string(kWrong) + "|W1|BC1";
const std::string kWrongThenW0 = std::string(kWrong) + "|W0";

// clang-format off
INSTANTIATE_TEST_SUITE_P(Dialogue, RemoteAccessTest, ::testing::Values(
    DialogueCase{"EmptyListEndsAfterTheWelcome", 0, false, {}, "e", "W0", true, 0, "0"},
    DialogueCase{"EmptyWelcomeTextStillMovesOn", 0, false, {{"txtRCTTSWllcome", ""}}, "", "", true, 0, "0"},
    DialogueCase{"AfterTextThreeTimesThenTheCallEnds", 1, false, {}, "e e p e e e",
                 "W1|BC1|AC1|AC1|AC1", true, 1, "20"},
    DialogueCase{"NextAndPreviousWalkSeveralEntries", 3, false, {}, "e e 6 ? 6 4",
                 "W3|BC3|BC2|BC1|BC2", false, 3, "2220"},
    // A key without effect stops nothing: the text it fell into ends as usual.
    DialogueCase{"PreviousAtStartAndNextAtEndDoNothing", 2, false, {}, "e 4 e p 6 6 e",
                 "W2|BC2|AC2|BC1", false, 2, "220"},
    DialogueCase{"DeletingTheOnlyEntryEndsAfterAnEmptyWelcome", 1, false, {}, "e 7 e",
                 "W1|BC1|W0", true, 0, "20"},
    DialogueCase{"DeletingTheLastEntryStepsBack", 2, false, {}, "e 6 7", "W2|BC2|BC1|BC2",
                 false, 1, "220"},
    DialogueCase{"CloseWinsOverDeleteOnTheSameKey", 1, false, {{"cmbDelRCDigit", "0"}}, "e 0",
                 "W1|BC1", true, 1, "20"},
    DialogueCase{"MissingRecordingWaitsForAKey", 1, false, {}, "x e e 5", "W1|BC1|BC1",
                 false, 1, "20"},
    DialogueCase{"WrongCodeOnceThenRight", 1, true, {}, "9# 1234# e", kWrongThenW1.c_str(),
                 false, 1, "20"},
    DialogueCase{"FourthWrongCodeEndsTheCall", 0, true, {}, "1# 2# 3# 4#", kWrong3.c_str(),
                 true, 1, "0"},
    DialogueCase{"NextCodeInTime", 0, true, {}, "9# +15 1234#", kWrongThenW0.c_str(),
                 false, 0, "0"},
    DialogueCase{"SeventeenSecondsAfterAWrongCode", 0, true, {}, "9# +16", kWrong, true, 1, "0"},
    DialogueCase{"CodeDuringTheMessageKeepsItOffTheList", 1, true, {}, "p p +3 1234#", "W1",
                 false, 1, "22"},
    DialogueCase{"DropDigitEndsTheMessage", 1, true, {}, "p p +3 *", "", true, 2, "22"}),
    [](const ::testing::TestParamInfo<DialogueCase>& info) { return std::string(info.param.name); });
// clang-format on

}  // namespace
}  // namespace lw::testing
