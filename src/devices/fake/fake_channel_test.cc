#include "devices/fake/fake_channel.h"

#include <gtest/gtest.h>

#include <memory>

namespace lw {
namespace {

using Texts = std::vector<std::string>;

struct Recorder {
  explicit Recorder(FakeChannelHub& hub) : end(hub) {
    end.SetMessageArrived([this](const std::string& t) { got.push_back(t); });
  }
  FakeChannel end;
  Texts got;
};

TEST(FakeChannelTest, DeliversToOtherEndsOfTheSameNumberOnly) {
  FakeChannelHub hub;
  Recorder a(hub), b(hub), c(hub), other(hub);
  ASSERT_TRUE(a.end.OpenChannel(107));
  ASSERT_TRUE(b.end.OpenChannel(107));
  ASSERT_TRUE(c.end.OpenChannel(107));
  ASSERT_TRUE(other.end.OpenChannel(108));
  a.end.SendMessage("one");
  b.end.SendMessage("two");
  EXPECT_EQ(a.got, (Texts{"two"}));
  EXPECT_EQ(b.got, (Texts{"one"}));
  EXPECT_EQ(c.got, (Texts{"one", "two"}));
  EXPECT_TRUE(other.got.empty());
  EXPECT_EQ(hub.Sent(107), (Texts{"one", "two"}));
  EXPECT_TRUE(hub.Sent(108).empty());
  EXPECT_EQ(hub.BoundCount(107), 3);
}

TEST(FakeChannelTest, DesktopSendReachesBoundEndsAndIsNotRecorded) {
  FakeChannelHub hub;
  Recorder in(hub), out(hub);
  in.end.OpenChannel(108);
  out.end.OpenChannel(107);
  hub.Send(108, "HELLO");
  EXPECT_EQ(in.got, (Texts{"HELLO"}));
  EXPECT_TRUE(out.got.empty());
  EXPECT_TRUE(hub.Sent(108).empty());
}

TEST(FakeChannelTest, FailedOpenLeavesTheEndUnboundAndSendsDropped) {
  FakeChannelHub hub;
  Recorder a(hub), b(hub);
  b.end.OpenChannel(107);
  a.end.OpenChannel(107);
  hub.set_open_fails(true);
  EXPECT_FALSE(a.end.OpenChannel(107));
  EXPECT_FALSE(a.end.bound());
  a.end.SendMessage("lost");
  hub.Send(107, "not for a");
  EXPECT_TRUE(hub.Sent(107).empty());
  EXPECT_EQ(b.got, (Texts{"not for a"}));
  EXPECT_TRUE(a.got.empty());
}

TEST(FakeChannelTest, HandlerMayReplyAndDestroyEndsWhileDelivering) {
  // Given a handler that answers and destroys another end during delivery,
  // expect the reply delivered and the destroyed end skipped.
  FakeChannelHub hub;
  Recorder replier(hub);
  auto victim = std::make_unique<Recorder>(hub);
  Recorder desk(hub);
  replier.end.OpenChannel(108);
  victim->end.OpenChannel(108);
  desk.end.OpenChannel(107);
  replier.end.SetMessageArrived([&](const std::string& t) {
    victim.reset();
    replier.end.OpenChannel(107);
    replier.end.SendMessage("re:" + t);
  });
  hub.Send(108, "HELLO");
  EXPECT_FALSE(victim);
  EXPECT_EQ(desk.got, (Texts{"re:HELLO"}));
  EXPECT_EQ(hub.SentLog(),
            (std::vector<std::pair<int32_t, std::string>>{{107, "re:HELLO"}}));
}

}  // namespace
}  // namespace lw
