#include "devices/serial_port.h"

#include <gtest/gtest.h>

namespace lw {
namespace {

TEST(SerialPortOwnersTest, OneUserAtATimeHandedOverExplicitly) {
  // Given port 3 taken by the modem channel, expect the modem line refused
  // until the channel hands the port over, then the channel refused until it
  // comes back; only the holder releases or hands over; other ports and
  // port numbers below 1 are apart.
  constexpr SerialPortUser kNone = SerialPortUser::kNobody;
  constexpr SerialPortUser kChannel = SerialPortUser::kModemChannel;
  constexpr SerialPortUser kLine = SerialPortUser::kModemLine;
  struct Step {
    char op;  // Acquire, Release, Hand-over
    SerialPortUser user;
    SerialPortUser to;  // for hand-overs
    bool ok;
    SerialPortUser owner;  // after the step
  };
  const Step steps[] = {
      {'A', kChannel, kNone, true, kChannel},
      {'A', kChannel, kNone, true, kChannel},
      {'A', kLine, kNone, false, kChannel},
      {'H', kLine, kChannel, false, kChannel},
      {'H', kChannel, kLine, true, kLine},
      {'R', kChannel, kNone, false, kLine},
      {'H', kLine, kChannel, true, kChannel},
      {'R', kChannel, kNone, true, kNone},
      {'A', kLine, kNone, true, kLine},
      {'H', kLine, kNone, true, kNone},
  };
  SerialPortOwners owners;
  ASSERT_TRUE(owners.Acquire(4, kChannel));
  int n = 0;
  for (const Step& s : steps) {
    SCOPED_TRACE(n++);
    const bool ok = s.op == 'A'   ? owners.Acquire(3, s.user)
                    : s.op == 'R' ? owners.Release(3, s.user)
                                  : owners.HandOver(3, s.user, s.to);
    EXPECT_EQ(ok, s.ok);
    EXPECT_EQ(owners.Owner(3), s.owner);
  }
  EXPECT_EQ(owners.Owner(4), kChannel);
  EXPECT_FALSE(owners.Acquire(0, kChannel));
  EXPECT_EQ(owners.Owner(0), kNone);
}

}  // namespace
}  // namespace lw
