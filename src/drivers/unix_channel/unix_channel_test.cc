#include "drivers/unix_channel/unix_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "asio_loop.h"
#include "loopback.h"

namespace lw {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

// One party: a channel end that records what it receives.
struct Party {
  Party(asio::io_context& io, const std::string& runtime) : end(io, runtime) {
    end.SetMessageArrived([this](const std::string& t) { got.push_back(t); });
  }
  UnixChannel end;
  Texts got;
};

// A socket bound in a channel folder by hand.
using RawParty = testing::DatagramSocket;

class UnixChannelTest : public ::testing::Test {
 protected:
  std::string Folder(int32_t channel) const {
    return UnixChannel::ChannelFolder(runtime_, channel);
  }

  testing::TempDir tmp_;
  std::string runtime_ = tmp_ / "rt";
  asio::io_context io_;
};

TEST_F(UnixChannelTest, PartiesThatStallOrDieLoseOnlyWhatWaitedForThem) {
  // Given a reading party, one that never reads, one that dies with a burst
  // waiting for it and one that died before (its socket file left behind),
  // expect the reader to get the burst whole and in order; the dead files
  // removed and other files left alone; one note for the dying party's
  // waiting messages; the stuck one to keep what its socket holds and lose
  // the rest after the stall bound with one note, later messages lost
  // without another note until it reads again.
  UnixChannelLimits limits;
  limits.stall_limit = std::chrono::milliseconds(500);
  UnixChannel a(io_, runtime_, limits);
  Texts notes;
  a.SetNoteHandler([&](const std::string& n) { notes.push_back(n); });
  Party b(io_, runtime_);
  ASSERT_TRUE(a.OpenChannel(107));
  ASSERT_TRUE(b.end.OpenChannel(107));
  const std::string dead = Folder(107) + "/p999999-1";
  ASSERT_TRUE(RawParty(dead).bound());  // and closed
  const std::string other_file = Folder(107) + "/note.txt";
  std::ofstream(other_file) << "x";
  RawParty stuck(Folder(107) + "/stuck");
  RawParty dying(Folder(107) + "/dying");
  ASSERT_TRUE(stuck.bound() && dying.bound());
  Texts expected;
  for (int i = 0; i < 500; ++i) {
    expected.push_back("Tapi_Ring\r\n0\r\n" + std::to_string(i));
    a.SendMessage(expected.back());
  }
  EXPECT_FALSE(fs::exists(dead));
  EXPECT_TRUE(fs::exists(other_file));
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return b.got.size() >= 500; }));
  EXPECT_EQ(b.got, expected);
  ASSERT_TRUE(notes.empty()) << "the stall bound passed before the burst";
  const size_t waiting = a.pending();  // for stuck and dying together
  dying.Close();
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return notes.size() >= 2; }));
  EXPECT_FALSE(fs::exists(Folder(107) + "/dying"));
  a.SendMessage("after");
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return b.got.size() >= 501; }));

  const Texts kept = stuck.Drain();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept, Texts(expected.begin(), expected.begin() + kept.size()));
  const size_t stuck_lost = 500 - kept.size();
  std::sort(notes.begin(), notes.end());
  EXPECT_EQ(notes, (Texts{"Channel 107: party dying is gone; " +
                              std::to_string(waiting - stuck_lost) +
                              " queued messages dropped",
                          "Channel 107: party stuck has taken nothing for "
                          "500 ms; " +
                              std::to_string(stuck_lost) +
                              " queued messages dropped"}));
  // It has read: the next message reaches it again.
  a.SendMessage("again");
  EXPECT_EQ(stuck.Drain(), (Texts{"again"}));
}

TEST_F(UnixChannelTest, FoldersOwnerOnlyAndHandlerMayDestroyItsEnd) {
  // Given a missing runtime folder, expect it and the channel folder made
  // 0700 (where none can be made the end stays unbound and drops its
  // sends). Given a handler that destroys its own end (b) on the first
  // message, expect no further delivery to it and none lost for d.
  Party a(io_, runtime_), d(io_, runtime_);
  auto b = std::make_unique<Party>(io_, runtime_);
  for (Party* p : {&a, b.get(), &d}) ASSERT_TRUE(p->end.OpenChannel(108));
  for (const std::string& dir : {runtime_, Folder(108)})
    EXPECT_EQ(fs::status(dir).permissions(), fs::perms::owner_all) << dir;
  Party unbound(io_, tmp_ / "gone/rt");
  EXPECT_FALSE(unbound.end.OpenChannel(107));
  unbound.end.SendMessage("dropped");
  int b_calls = 0;
  b->end.SetMessageArrived([&](const std::string&) {
    ++b_calls;
    b.reset();
  });
  for (const char* t : {"ON", "OFF", "HELLO"}) a.end.SendMessage(t);
  ASSERT_TRUE(testing::RunUntil(io_, [&] { return d.got.size() >= 3 && !b; }));
  EXPECT_EQ(b_calls, 1);
  EXPECT_EQ(d.got, (Texts{"ON", "OFF", "HELLO"}));
}

}  // namespace
}  // namespace lw
