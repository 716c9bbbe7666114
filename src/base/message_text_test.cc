#include "base/message_text.h"

#include <gtest/gtest.h>

#include "devices/fake/fake_channel.h"

namespace lw {
namespace {

using Lines = std::vector<std::string>;

TEST(MessageTextTest, SplitsAtEveryCrLf) {
  EXPECT_EQ(SplitMessage("LineStatus\r\n0\r\n0\r\nFalse"),
            (Lines{"LineStatus", "0", "0", "False"}));
  EXPECT_EQ(SplitMessage("HELLO"), (Lines{"HELLO"}));
  // Line 0 always exists; empty fields are kept where they stand.
  EXPECT_EQ(SplitMessage(""), (Lines{""}));
  EXPECT_EQ(SplitMessage("\r\n"), (Lines{"", ""}));
  EXPECT_EQ(SplitMessage("AUTO\r\n\r\n08:00\r\n"),
            (Lines{"AUTO", "", "08:00", ""}));
}

TEST(MessageTextTest, LoneCrOrLfStaysInsideItsLine) {
  EXPECT_EQ(SplitMessage("Say\rA\nB\r\n\n\r"), (Lines{"Say\rA\nB", "\n\r"}));
  EXPECT_EQ(SplitMessage("a\r\r\nb"), (Lines{"a\r", "b"}));
  EXPECT_EQ(SplitMessage("a\r\n\nb"), (Lines{"a", "\nb"}));
}

TEST(MessageTextTest, JoinsWithoutTrailingSeparator) {
  EXPECT_EQ(JoinFields({"LineStatus", "0", "0", BoolText(false)}),
            "LineStatus\r\n0\r\n0\r\nFalse");
  EXPECT_EQ(JoinFields(Lines{"HELLO"}), "HELLO");
  EXPECT_EQ(JoinFields(Lines{}), "");
  EXPECT_EQ(JoinFields(Lines{"", ""}), "\r\n");
  EXPECT_EQ(JoinFields({"SendMail", "a@b", "NOFILE"}, kMailFieldSeparator),
            std::string("SendMail\x14"
                        "a@b\x14NOFILE"));
}

TEST(MessageTextTest, SplitUndoesJoin) {
  const Lines fields = {"Tapi_CID", "0", "", "555\r", "\nx", "True"};
  EXPECT_EQ(SplitMessage(JoinFields(fields)), fields);
}

TEST(MessageTextTest, SendOnSendsOnlyWhenTheChannelOpens) {
  // Given a desktop listening on 107, expect a send when the open succeeds
  // and none (no queueing, no later delivery) when it fails.
  FakeChannelHub hub;
  FakeChannel end(hub);
  EXPECT_TRUE(SendOn(end, 107, "first"));
  hub.set_open_fails(true);
  EXPECT_FALSE(SendOn(end, 107, "dropped"));
  hub.set_open_fails(false);
  EXPECT_TRUE(SendOn(end, 109, "second"));
  EXPECT_EQ(hub.Sent(107), (Lines{"first"}));
  EXPECT_EQ(hub.Sent(109), (Lines{"second"}));
  EXPECT_EQ(hub.open_calls(), 3);
}

}  // namespace
}  // namespace lw
