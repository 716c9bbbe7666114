#include "callstore/templates.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

CallInfo Call(std::string number, std::string type = "0", int16_t read = 0) {
  CallInfo c;
  c.caller_name = "Alice";
  c.caller_number = std::move(number);
  c.date = "03/15/2005";
  c.time = "14:05:09";
  c.message_path = "/app/m.wav";
  c.length = "0:00:12";
  c.contact = "Ally";
  c.call_type = std::move(type);
  c.read_mark = read;
  return c;
}

TEST(TemplatesTest, EveryPlaceholderInOrder) {
  const RemoteDigits d{"1", "2", "3", "4", "5", "6", ""};
  const std::string text =
      "<CALLER_NAME>|<MESSAGE_PATH>|<DATE>|<TIME>|<CONTACT>|<CALL_TYPE>|"
      "<LENGTH>|<READ>|<MESSAGEORCALL>|<PLAY><PREV><EXIT><NEXT><FIRST>"
      "<DELETE>|<MARK>x|<UNKNOWN>|<caller_name>";
  EXPECT_EQ(FillCallTemplate(text, Call("1", "2"), d),
            "Alice|/app/m.wav|Tuesday, March 15, 2005|02:05 PM|Ally|"
            "Voice Message|0:00:12|unread|voice message|123456|x|<UNKNOWN>|"
            "<caller_name>");
  // Two count placeholders sharing a prefix are not confused.
  EXPECT_EQ(FillCountTemplate("<NUM_NEW_MSG>/<NUM_MSG>/<NUM_NEW_CALLS>/"
                              "<NUM_CALLS><NUM_CALLS>",
                              CallCounts{5, 4, 3, 2}),
            "2/4/3/55");
}

TEST(TemplatesTest, NumbersTypesAndReadMarks) {
  // Given numbers, types and read marks, expect digits spelled out except
  // the exact number words, and each type's and mark's words.
  const struct {
    CallInfo call;
    const char* text;
    const char* expected;
  } cases[] = {
      {Call("123"), "From <CALLER_NUMBER>", "From 1 2 3 "},
      {Call("OUT OF AREA"), "From <CALLER_NUMBER>", "From OUT OF AREA"},
      {Call("unknown"), "<CALLER_NUMBER>", "u n k n o w n "},
      {Call("<DATE>"), "<CALLER_NUMBER>", "< D A T E > "},
      {Call("1", "3", 1), "<MESSAGEORCALL>,<CALL_TYPE>,<READ>",
       "voice message,Incoming Recorded Call,read"},
      {Call("1", "1"), "<MESSAGEORCALL>,<CALL_TYPE>,<READ>",
       "call,Outgoing Call,unread"},
      {Call("1", "9"), "[<CALL_TYPE>]", "[]"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FillCallTemplate(c.text, c.call, RemoteDigits{}), c.expected)
        << c.text;
}

TEST(TemplatesTest, InsertedTextIsOnlyFilledByLaterPlaceholders) {
  // Given a caller name that itself holds <CALLER_NAME>, expect it inserted
  // once per occurrence, but a later placeholder in it filled; dates and
  // times that are not one are shown as they are.
  CallInfo c = Call("1");
  c.caller_name = "<CALLER_NAME><CONTACT>";
  const RemoteDigits none;
  EXPECT_EQ(FillCallTemplate("<CALLER_NAME> and <CALLER_NAME>", c, none),
            "<CALLER_NAME>Ally and <CALLER_NAME>Ally");
  c.contact = "<CALLER_NAME>";
  EXPECT_EQ(FillCallTemplate("<CONTACT>", c, none), "<CALLER_NAME>");
  c.date = "someday";
  c.time = "25:99";
  EXPECT_EQ(FillCallTemplate("<DATE> <TIME>", c, none), "someday 25:99");
}

}  // namespace
}  // namespace lw
