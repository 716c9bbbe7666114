// Text from outside on its way through the real process: a greeting name
// typed in UTF-8 that must name its file byte for byte, and numbers to dial
// that a telephone could not dial.
#include <gtest/gtest.h>

#include "e2e_util.h"

namespace lw::testing {
namespace {

constexpr const char* kGreeting =
    "Gr\xc3\xbc\xc3\x9f"
    "e";  // "Grüße"

class TextE2E : public LineE2E {
 protected:
  void Prepare() override {
    Set("Answer\\TabAnsweringMachine", "CmbGreetsMessages", kGreeting);
  }
  static size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos;
         at = text.find(what, at + 1))
      ++n;
    return n;
  }
};

TEST_F(TextE2E, GreetingNamedInUtf8IsPlayed) {
  // given "Grüße" set with lwdctl and Greets\Grüße.wav spoken by "MakeWave"
  // (a relative path), expect the greeting played at the first try and the
  // caller's message after it, not a hang-up at connection
  ASSERT_EQ(env_.Run("lwdctl", {"send", "106", "MakeWave", "Hello",
                                std::string("Greets\\") + kGreeting + ".wav"}),
            0);
  const std::string greeting = env_.home() + "/Greets/" + kGreeting + ".wav";
  ASSERT_TRUE(WaitFor([&] { return ReadFile(greeting).size() > 1000; }));
  std::string out;
  EXPECT_EQ(env_.Run("lwdctl",
                     {"phone", "call", "--number", "5551234", "--rings", "4",
                      "--ring-interval", "0.5", "--hangup-after", "3"},
                     &out),
            0);
  EXPECT_NE(out.find("{\"event\":\"hangup\",\"by\":\"caller\"}"),
            std::string::npos)
      << out;
  ASSERT_TRUE(WaitFor([&] {
    return env_.SysJournal().find("Tapi_Idle(") != std::string::npos;
  }));
  // Greeting and beep, each played at once (a missing file is journalled
  // twice, as a failure).
  const std::string journal = env_.SysJournal();
  EXPECT_EQ(Count(journal, "PlayToLine:Wave1.StartPlayACM->"), 2u) << journal;
  EXPECT_EQ(Count(journal, "PlayToLine:Wave1.StartPlayACM->Success(0)"), 2u);
}

TEST_F(TextE2E, UndialableNumbersAreRefusedAndNothingIsDialled) {
  // given "CallOut" with a line feed in its number and "CallOutRec" with a
  // separator, expect one journal line each and no dialling; a dialable
  // number after them is dialled as usual
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "CallOut", "555\n1234"}), 0);
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "CallOutRec", "555-1234"}), 0);
  const std::string answer = env_.home() + "/answer.txt";
  const pid_t far = env_.Spawn(
      "lwdctl", {"phone", "answer", "--after", "0.3", "--hangup-after", "1"},
      {}, answer);
  ASSERT_TRUE(WaitFor(
      [&] { return ReadFile(answer).find("waiting") != std::string::npos; }));
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "CallOut", "+49,5554444#"}), 0);
  int status = 0;
  ASSERT_TRUE(WaitExit(far, &status, std::chrono::seconds(20)));

  const std::string journal = env_.SysJournal();
  EXPECT_NE(journal.find("udiIn_MessageArrived->CallOut refused: "
                         "\"555\\x0A1234\" is not a number to dial"),
            std::string::npos)
      << journal;
  EXPECT_NE(journal.find("udiIn_MessageArrived->CallOutRec refused: "
                         "\"555-1234\""),
            std::string::npos)
      << journal;
  EXPECT_EQ(Count(journal, "Tapi.MakeCall("), 1u) << journal;
}

}  // namespace
}  // namespace lw::testing
