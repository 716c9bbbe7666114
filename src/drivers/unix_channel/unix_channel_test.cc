#include "drivers/unix_channel/unix_channel.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "no_file_override.h"
#include "temp_dir.h"

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

// A socket bound in a channel folder by hand: a party that never reads, or
// (once closed) one that died without unbinding.
class RawParty {
 public:
  explicit RawParty(const std::string& path) : path_(path) {
    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    bound_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~RawParty() { Close(); }
  bool bound() const { return bound_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  // Takes every queued message without waiting.
  Texts Drain() {
    Texts out;
    std::vector<char> buf(UnixChannel::kMaxMessageBytes);
    for (;;) {
      ssize_t n = ::recv(fd_, buf.data(), buf.size(), MSG_DONTWAIT);
      if (n < 0) return out;
      out.emplace_back(buf.data(), static_cast<size_t>(n));
    }
  }

 private:
  std::string path_;
  int fd_ = -1;
  bool bound_ = false;
};

class UnixChannelTest : public ::testing::Test {
 protected:
  std::string Folder(int32_t channel) const {
    return UnixChannel::ChannelFolder(runtime_, channel);
  }

  // Runs the loop until `done` holds; the deadline only keeps a broken
  // build from hanging, it is not part of what is tested.
  bool RunUntil(const std::function<bool()>& done) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      io_.restart();
      io_.run_one_for(std::chrono::milliseconds(20));
    }
    return true;
  }

  testing::TempDir tmp_;
  std::string runtime_ = tmp_ / "rt";
  asio::io_context io_;
};

TEST_F(UnixChannelTest, DeliversToEveryOtherPartyOfTheNumberButNotToSender) {
  // Given three parties on 107 and one on 108, expect a message on 107 at the
  // two others only. Each party's own message would have been queued before
  // the later ones, so its absence shows in the order received.
  Party a(io_, runtime_), b(io_, runtime_), c(io_, runtime_);
  Party d(io_, runtime_), e(io_, runtime_);
  for (Party* p : {&a, &b, &c}) ASSERT_TRUE(p->end.OpenChannel(107));
  ASSERT_TRUE(d.end.OpenChannel(108));
  ASSERT_TRUE(e.end.OpenChannel(108));
  a.end.SendMessage("from a");
  b.end.SendMessage("from b");
  e.end.SendMessage("from e");
  ASSERT_TRUE(RunUntil([&] {
    return a.got.size() >= 1 && b.got.size() >= 1 && c.got.size() >= 2 &&
           d.got.size() >= 1;
  }));
  EXPECT_EQ(a.got, (Texts{"from b"}));
  EXPECT_EQ(b.got, (Texts{"from a"}));
  EXPECT_EQ(c.got, (Texts{"from a", "from b"}));
  EXPECT_EQ(d.got, (Texts{"from e"}));
  EXPECT_TRUE(e.got.empty());
}

TEST_F(UnixChannelTest, CarriesSixtyFourKibOfArbitraryBytes) {
  Party a(io_, runtime_), b(io_, runtime_);
  ASSERT_TRUE(a.end.OpenChannel(111));
  ASSERT_TRUE(b.end.OpenChannel(111));
  std::mt19937 rng(7);
  std::string big(UnixChannel::kMaxMessageBytes, '\0');
  for (size_t i = 0; i < big.size(); ++i)
    big[i] = i % 5 == 0 ? '\0' : static_cast<char>(rng());
  a.end.SendMessage(big);
  // One byte over the limit is not sent at all.
  a.end.SendMessage(big + "x");
  a.end.SendMessage("after");
  ASSERT_TRUE(RunUntil([&] { return b.got.size() >= 2; }));
  ASSERT_EQ(b.got.size(), 2u);
  EXPECT_TRUE(b.got[0] == big);
  EXPECT_EQ(b.got[1], "after");
}

TEST_F(UnixChannelTest, PartyThatNeverReadsIsGivenUpAfterTheBoundOnce) {
  // Given a reading party and one that never reads, expect the reader to get
  // a back-to-back burst whole and in order, the other to keep what its
  // socket holds and lose the rest after the stall bound with one note, later
  // messages lost without another note until it reads again.
  UnixChannelLimits limits;
  limits.stall_limit = std::chrono::milliseconds(200);
  UnixChannel a(io_, runtime_, limits);
  Texts notes;
  a.SetNoteHandler([&](const std::string& n) { notes.push_back(n); });
  Party b(io_, runtime_);
  ASSERT_TRUE(a.OpenChannel(107));
  ASSERT_TRUE(b.end.OpenChannel(107));
  RawParty stuck(Folder(107) + "/stuck");
  ASSERT_TRUE(stuck.bound());
  Texts expected;
  for (int i = 0; i < 500; ++i) {
    expected.push_back("Tapi_Ring\r\n0\r\n" + std::to_string(i));
    a.SendMessage(expected.back());
  }
  ASSERT_TRUE(RunUntil([&] { return b.got.size() >= 500 && !notes.empty(); }));
  EXPECT_EQ(b.got, expected);
  a.SendMessage("after");
  ASSERT_TRUE(RunUntil([&] { return b.got.size() >= 501; }));

  const Texts kept = stuck.Drain();
  ASSERT_FALSE(kept.empty());
  EXPECT_EQ(kept, Texts(expected.begin(), expected.begin() + kept.size()));
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0],
            "Channel 107: party stuck has taken nothing for 200 ms; " +
                std::to_string(500 - kept.size()) + " queued messages dropped");
  EXPECT_EQ(a.dropped(), 501 - kept.size());
  EXPECT_EQ(a.pending(), 0u);
  // It has read: the next message reaches it again.
  a.SendMessage("again");
  EXPECT_EQ(stuck.Drain(), (Texts{"again"}));
}

TEST_F(UnixChannelTest, PartiesThatDieLoseOnlyWhatWaitedForThem) {
  // Given a party that died before the send (its socket file left behind)
  // and one that dies with messages waiting for it, expect both files
  // removed, one note for the waiting messages, and the living party served.
  UnixChannel a(io_, runtime_);
  Texts notes;
  a.SetNoteHandler([&](const std::string& n) { notes.push_back(n); });
  Party b(io_, runtime_);
  ASSERT_TRUE(a.OpenChannel(107));
  ASSERT_TRUE(b.end.OpenChannel(107));
  const std::string dead_path = Folder(107) + "/p999999-1";
  RawParty dead(dead_path);
  ASSERT_TRUE(dead.bound());
  dead.Close();
  // Files that are not sockets are not parties and are left alone.
  const std::string note = Folder(107) + "/note.txt";
  std::ofstream(note) << "x";
  const std::string dying_path = Folder(107) + "/dying";
  RawParty dying(dying_path);
  ASSERT_TRUE(dying.bound());

  for (int i = 0; i < 30; ++i) a.SendMessage("m" + std::to_string(i));
  EXPECT_FALSE(fs::exists(dead_path));
  EXPECT_TRUE(fs::exists(note));
  ASSERT_TRUE(RunUntil([&] { return b.got.size() >= 30; }));
  const size_t waiting = a.pending();
  ASSERT_GT(waiting, 0u);
  dying.Close();
  ASSERT_TRUE(RunUntil([&] { return !notes.empty(); }));
  EXPECT_EQ(notes,
            (Texts{"Channel 107: party dying is gone; " +
                   std::to_string(waiting) + " queued messages dropped"}));
  EXPECT_FALSE(fs::exists(dying_path));
  EXPECT_EQ(a.pending(), 0u);
}

TEST_F(UnixChannelTest, CreatesMissingRuntimeFolderOwnerOnly) {
  Party a(io_, runtime_);
  ASSERT_FALSE(fs::exists(runtime_));
  ASSERT_TRUE(a.end.OpenChannel(110));
  struct stat st;
  ASSERT_EQ(::stat(runtime_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(::stat(Folder(110).c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  EXPECT_EQ(fs::path(a.end.socket_path()).parent_path(), Folder(110));
  EXPECT_TRUE(fs::is_socket(a.end.socket_path()));
}

TEST_F(UnixChannelTest, UnusableRuntimeFolderAnswersFalseAndDropsSends) {
  // Missing parent (only the last component is created), a file in the
  // folder's place, and an empty name.
  const std::string file = tmp_ / "plain";
  std::ofstream(file) << "x";
  for (const std::string& runtime :
       {tmp_ / "gone/rt", file, file + "/rt", std::string()}) {
    SCOPED_TRACE(runtime);
    Party a(io_, runtime);
    EXPECT_FALSE(a.end.OpenChannel(107));
    EXPECT_FALSE(a.end.bound());
    EXPECT_EQ(a.end.socket_path(), "");
    a.end.SendMessage("dropped");
    EXPECT_FALSE(a.end.OpenChannel(107));
  }
  EXPECT_FALSE(fs::exists(tmp_ / "gone"));
}

TEST_F(UnixChannelTest, ReadOnlyRuntimeFolderAnswersFalse) {
  testing::NoFileOverride file_modes_hold;
  if (!file_modes_hold.holds()) GTEST_SKIP() << "cannot give up root rights";
  ASSERT_EQ(::mkdir(runtime_.c_str(), 0500), 0);
  Party a(io_, runtime_);
  EXPECT_FALSE(a.end.OpenChannel(107));
  a.end.SendMessage("dropped");
  ::chmod(runtime_.c_str(), 0700);
}

TEST_F(UnixChannelTest, RebindsToAnotherNumberAndKeepsTheSameOneCheaply) {
  Party a(io_, runtime_), on107(io_, runtime_), on108(io_, runtime_);
  ASSERT_TRUE(on107.end.OpenChannel(107));
  ASSERT_TRUE(on108.end.OpenChannel(108));
  ASSERT_TRUE(a.end.OpenChannel(107));
  const std::string first = a.end.socket_path();
  ASSERT_TRUE(a.end.OpenChannel(107));
  EXPECT_EQ(a.end.socket_path(), first);

  ASSERT_TRUE(a.end.OpenChannel(108));
  EXPECT_FALSE(fs::exists(first));
  on107.end.SendMessage("on 107");
  on108.end.SendMessage("on 108");
  a.end.SendMessage("from a");
  ASSERT_TRUE(RunUntil([&] { return !a.got.empty() && !on108.got.empty(); }));
  EXPECT_EQ(a.got, (Texts{"on 108"}));
  EXPECT_EQ(on108.got, (Texts{"from a"}));
  EXPECT_TRUE(on107.got.empty());

  // The runtime folder was cleared under us: the next open binds afresh.
  fs::remove_all(runtime_);
  ASSERT_TRUE(a.end.OpenChannel(108));
  EXPECT_TRUE(fs::is_socket(a.end.socket_path()));
}

TEST_F(UnixChannelTest, UnbindingRemovesTheSocketFile) {
  auto a = std::make_unique<Party>(io_, runtime_);
  ASSERT_TRUE(a->end.OpenChannel(109));
  const std::string path = a->end.socket_path();
  ASSERT_TRUE(fs::is_socket(path));
  a.reset();
  EXPECT_FALSE(fs::exists(path));
  EXPECT_TRUE(fs::is_empty(Folder(109)));
}

TEST_F(UnixChannelTest, WorksWithRuntimePathTooLongForASocketAddress) {
  runtime_ = tmp_ / std::string(120, 'r');
  Party a(io_, runtime_), b(io_, runtime_);
  ASSERT_TRUE(a.end.OpenChannel(107));
  ASSERT_TRUE(b.end.OpenChannel(107));
  EXPECT_TRUE(fs::is_socket(a.end.socket_path()));
  a.end.SendMessage("long way");
  ASSERT_TRUE(RunUntil([&] { return b.got.size() >= 1; }));
  EXPECT_EQ(b.got[0], "long way");
}

TEST_F(UnixChannelTest, HandlerMayRebindOrDestroyItsEnd) {
  // Given handlers that destroy their own end (b) or rebind it (c) on the
  // first message, expect no further delivery to them and none lost for d.
  Party a(io_, runtime_), c(io_, runtime_), d(io_, runtime_);
  auto b = std::make_unique<Party>(io_, runtime_);
  for (Party* p : {&a, b.get(), &c, &d}) ASSERT_TRUE(p->end.OpenChannel(108));
  int b_calls = 0;
  b->end.SetMessageArrived([&](const std::string&) {
    ++b_calls;
    b.reset();
  });
  c.end.SetMessageArrived([&](const std::string& t) {
    c.got.push_back(t);
    c.end.OpenChannel(107);
  });
  for (const char* t : {"ON", "OFF", "HELLO"}) a.end.SendMessage(t);
  ASSERT_TRUE(
      RunUntil([&] { return d.got.size() >= 3 && c.got.size() >= 1 && !b; }));
  EXPECT_EQ(b_calls, 1);
  EXPECT_EQ(c.got, (Texts{"ON"}));
  EXPECT_EQ(d.got, (Texts{"ON", "OFF", "HELLO"}));
}

}  // namespace
}  // namespace lw
