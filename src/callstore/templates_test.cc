#include "callstore/templates.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

CallInfo Call(std::string number, std::string type = "0") {
  CallInfo c;
  c.caller_name = "Alice";
  c.caller_number = std::move(number);
  c.date = "03/15/2005";
  c.time = "14:05:09";
  c.message_path = "/app/m.wav";
  c.length = "0:00:12";
  c.contact = "Ally";
  c.call_type = std::move(type);
  return c;
}

TEST(TemplatesTest, CallerNumberSpelledOutExceptWords) {
  const RemoteDigits none;
  EXPECT_EQ(FillCallTemplate("From <CALLER_NUMBER>", Call("123"), none),
            "From 1 2 3 ");
  for (const char* word :
       {"UNKNOWN", "OUT OF AREA", "BLOCKED CALL", "CALLERID UNAVAILABLE"}) {
    EXPECT_EQ(FillCallTemplate("From <CALLER_NUMBER>", Call(word), none),
              std::string("From ") + word);
  }
  // Only the exact words: anything else is spelled out.
  EXPECT_EQ(FillCallTemplate("<CALLER_NUMBER>", Call("unknown"), none),
            "u n k n o w n ");
  EXPECT_EQ(SpellOut("42"), "4 2 ");
  EXPECT_EQ(SpellOut(""), "");
}

TEST(TemplatesTest, EveryPlaceholderInOrder) {
  RemoteDigits d{"1", "2", "3", "4", "5", "6", ""};
  const std::string text =
      "<CALLER_NAME>|<MESSAGE_PATH>|<DATE>|<TIME>|<CONTACT>|<CALL_TYPE>|"
      "<LENGTH>|<READ>|<MESSAGEORCALL>|<PLAY><PREV><EXIT><NEXT><FIRST>"
      "<DELETE>|<MARK>x|<UNKNOWN>|<caller_name>";
  EXPECT_EQ(FillCallTemplate(text, Call("1", "2"), d),
            "Alice|/app/m.wav|Tuesday, March 15, 2005|02:05 PM|Ally|"
            "Voice Message|0:00:12|unread|voice message|123456|x|<UNKNOWN>|"
            "<caller_name>");
}

TEST(TemplatesTest, TypesReadAndBadDates) {
  const RemoteDigits none;
  CallInfo c = Call("1", "3");
  c.read_mark = 1;
  EXPECT_EQ(FillCallTemplate("<MESSAGEORCALL>,<CALL_TYPE>,<READ>", c, none),
            "voice message,Incoming Recorded Call,read");
  c.call_type = "1";
  c.read_mark = 0;
  EXPECT_EQ(FillCallTemplate("<MESSAGEORCALL>,<CALL_TYPE>,<READ>", c, none),
            "call,Outgoing Call,unread");
  c.call_type = "9";
  EXPECT_EQ(FillCallTemplate("[<CALL_TYPE>]", c, none), "[]");
  // Dates and times that are not one are shown as they are.
  c.date = "someday";
  c.time = "25:99";
  EXPECT_EQ(FillCallTemplate("<DATE> <TIME>", c, none), "someday 25:99");
  EXPECT_EQ(FillCallTemplate("", c, none), "");
}

TEST(TemplatesTest, ReplacementNotSearchedAgainForSamePlaceholder) {
  // Given a caller name that itself holds <CALLER_NAME>, expect it inserted
  // once per occurrence; but a later placeholder in inserted text is filled.
  const RemoteDigits none;
  CallInfo c = Call("1");
  c.caller_name = "<CALLER_NAME><CONTACT>";
  EXPECT_EQ(FillCallTemplate("<CALLER_NAME> and <CALLER_NAME>", c, none),
            "<CALLER_NAME>Ally and <CALLER_NAME>Ally");
  // A number containing a placeholder is spelled out, so no longer matches.
  c.caller_number = "<DATE>";
  EXPECT_EQ(FillCallTemplate("<CALLER_NUMBER>", c, none), "< D A T E > ");
  // An earlier placeholder's text is not filled by itself after the fact.
  c.contact = "<CALLER_NAME>";
  EXPECT_EQ(FillCallTemplate("<CONTACT>", c, none), "<CALLER_NAME>");
  // Two placeholders sharing a prefix are not confused.
  EXPECT_EQ(FillCountTemplate("<NUM_NEW_MSG>/<NUM_MSG>/<NUM_NEW_CALLS>/"
                              "<NUM_CALLS><NUM_CALLS>",
                              CallCounts{5, 4, 3, 2}),
            "2/4/3/55");
}

}  // namespace
}  // namespace lw
