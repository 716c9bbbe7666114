// The simulated line and its telephony controls, driven by an in-process far
// end on a virtual clock; the socket far ends at the end.
#include "drivers/simline/simulated_line.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <string>
#include <vector>

#include "devices/fake/fake_clock.h"
#include "drivers/simline/simulated_telephony.h"
#include "temp_dir.h"

namespace lw {
namespace {

using namespace std::string_literals;
using Type = SimlineType;

// The events a control raised, as readable texts.
struct EventLog {
  std::vector<std::string> events;
  TelephonyEvents Handlers() {
    TelephonyEvents e;
    e.InComeCall = [this] { events.push_back("InComeCall"); };
    e.Ring = [this](int32_t n) {
      events.push_back("Ring(" + std::to_string(n) + ")");
    };
    e.CallerID = [this](const std::string& name, const std::string& number) {
      events.push_back("CallerID(" + name + "," + number + ")");
    };
    e.Connected = [this] { events.push_back("Connected"); };
    e.Disconnected = [this] { events.push_back("Disconnected"); };
    e.Idle = [this] { events.push_back("Idle"); };
    e.Dialing = [this] { events.push_back("Dialing"); };
    e.MonitorDigit = [this](const std::string& d) {
      events.push_back("Digit(" + d + ")");
    };
    return e;
  }
};

using Events = std::vector<std::string>;

// What the line told a far end, as short texts: "offered(open)",
// "answered", "hungup", "audio(160)".
std::string Describe(const SimlineMessage& m) {
  switch (m.type) {
    case Type::kOffered:
      return m.line_open ? "offered(open)" : "offered(closed)";
    case Type::kAnswered:
      return "answered";
    case Type::kHungUp:
      return "hungup";
    case Type::kAudio:
      return "audio(" + std::to_string(m.samples.size()) + ")";
    default:
      return "?";
  }
}

class SimulatedLineTest : public ::testing::Test {
 protected:
  SimulatedLineTest()
      : line_(io_, clock_, hub_, dir_.path(), NoSocket()),
        proc_(line_),
        tapi_(line_) {
    proc_.SetEvents(proc_log_.Handlers());
    tapi_.SetEvents(log_.Handlers());
    far_ = Connect(&told_);
  }

  static SimulatedLine::Options NoSocket() {
    SimulatedLine::Options o;
    o.listen = false;
    return o;
  }

  SimulatedLine::FarEndId Connect(std::vector<SimlineMessage>* told) {
    return line_.ConnectFarEnd(
        [told](const SimlineMessage& m) { told->push_back(m); });
  }
  void Far(Type type) { line_.FromFarEnd(far_, SimlineOf(type)); }
  void FarCallerId(const std::string& name, const std::string& number) {
    SimlineMessage m = SimlineOf(Type::kCallerId);
    m.name = name;
    m.number = number;
    line_.FromFarEnd(far_, m);
  }
  void FarDigit(char d) {
    SimlineMessage m = SimlineOf(Type::kDigit);
    m.digit = d;
    line_.FromFarEnd(far_, m);
  }
  // Runs what the loop has posted.
  void Deliver() {
    io_.restart();
    io_.poll();
  }
  Events TakeEvents() {
    Deliver();
    Events e = std::move(log_.events);
    log_.events.clear();
    return e;
  }
  std::vector<std::string> TakeTold() {
    std::vector<std::string> out;
    for (const auto& m : told_) out.push_back(Describe(m));
    told_.clear();
    return out;
  }
  void OpenLine() {
    ASSERT_EQ(tapi_.LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
  }
  // An offered call answered by the process: connected.
  void ConnectedCall() {
    OpenLine();
    Far(Type::kOffer);
    Far(Type::kRing);
    ASSERT_EQ(tapi_.LineAnswer(), 0);
    ASSERT_EQ(TakeEvents(), (Events{"InComeCall", "Ring(1)", "Connected"}));
    ASSERT_EQ(TakeTold(),
              (std::vector<std::string>{"offered(open)", "answered"}));
  }

  testing::TempDir dir_;
  asio::io_context io_;
  FakeClock clock_;
  LineAudioHub hub_;
  // Before the line and controls: they report here until they are gone.
  EventLog proc_log_;
  EventLog log_;
  std::vector<SimlineMessage> told_;
  SimulatedLine line_;
  SimulatedTelephony proc_;  // the process controller's: never opened
  SimulatedTelephony tapi_;  // the line controller's
  SimulatedLine::FarEndId far_ = 0;
};

TEST_F(SimulatedLineTest, EventsNeverRunInsideTheOperation) {
  // Given an offered call, expect LineAnswer to return before Connected.
  OpenLine();
  Far(Type::kOffer);
  Deliver();
  log_.events.clear();
  ASSERT_EQ(tapi_.LineAnswer(), 0);
  EXPECT_TRUE(log_.events.empty());
  EXPECT_FALSE(tapi_.IsCallActive());
  EXPECT_EQ(TakeEvents(), (Events{"Connected"}));
  EXPECT_TRUE(tapi_.IsCallActive());
  EXPECT_EQ(tapi_.LineAnswer(), kSimLineBadState);
}

TEST_F(SimulatedLineTest, DigitsOnlyWhileMonitoring) {
  ConnectedCall();
  FarDigit('1');
  ASSERT_EQ(tapi_.LineMonitorDigits(true), 0);
  FarDigit('5');
  FarDigit('#');
  EXPECT_EQ(TakeEvents(), (Events{"Digit(5)", "Digit(#)"}));
  ASSERT_EQ(tapi_.LineMonitorDigits(false), 0);
  FarDigit('9');
  EXPECT_EQ(TakeEvents(), Events{});

  // Monitoring belongs to the call.
  ASSERT_EQ(tapi_.LineMonitorDigits(true), 0);
  ASSERT_EQ(tapi_.LineDrop(), 0);
  EXPECT_FALSE(tapi_.monitoring_digits());
}

TEST_F(SimulatedLineTest, CallRingingBeforeLineOpenIsReportedAsOffered) {
  // Given a call that rang twice while the line was closed, expect nothing
  // then, InComeCall after LineOpen, and the ring count going on.
  Far(Type::kOffer);
  Far(Type::kRing);
  FarCallerId("", "123");
  Far(Type::kRing);
  EXPECT_EQ(TakeEvents(), Events{});
  EXPECT_EQ(TakeTold(), (std::vector<std::string>{"offered(closed)"}));
  OpenLine();
  EXPECT_TRUE(log_.events.empty());
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall"}));
  Far(Type::kRing);
  EXPECT_EQ(TakeEvents(), (Events{"Ring(3)"}));
  EXPECT_TRUE(proc_log_.events.empty());
}

TEST_F(SimulatedLineTest, ClosedLineRaisesNothingAndAbandonsItsCall) {
  ConnectedCall();
  ASSERT_EQ(tapi_.LineMonitorDigits(true), 0);
  ASSERT_EQ(tapi_.LineClose(), 0);
  EXPECT_FALSE(tapi_.IsLineOpen());
  EXPECT_EQ(TakeTold(), (std::vector<std::string>{"hungup"}));
  FarDigit('1');
  Far(Type::kHangup);
  EXPECT_EQ(TakeEvents(), Events{});
  EXPECT_EQ(line_.call_state(), SimulatedLine::CallState::kNone);
  EXPECT_EQ(tapi_.LineClose(), kSimLineNotOpen);
  EXPECT_EQ(tapi_.LineShutdown(), 0);
  EXPECT_EQ(tapi_.LineAnswer(), kSimLineNotOpen);
  std::string text;
  EXPECT_EQ(tapi_.MakeCall("1", text), kSimLineNotOpen);
}

TEST_F(SimulatedLineTest, ClosingWhileConnectedEventIsPendingRaisesNothing) {
  OpenLine();
  Far(Type::kOffer);
  Deliver();
  log_.events.clear();
  ASSERT_EQ(tapi_.LineAnswer(), 0);
  ASSERT_EQ(tapi_.LineShutdown(), 0);
  EXPECT_EQ(TakeEvents(), Events{});
  // The offered call goes on ringing at the far end.
  EXPECT_EQ(line_.call_state(), SimulatedLine::CallState::kOffered);
}

TEST_F(SimulatedLineTest, FarEndVanishingHangsUp) {
  // Given a connected call whose far end goes away, expect Disconnected; an
  // offered call whose far end goes away ends with Idle.
  ConnectedCall();
  line_.DisconnectFarEnd(far_);
  EXPECT_EQ(TakeEvents(), (Events{"Disconnected"}));
  ASSERT_EQ(tapi_.LineDrop(), 0);
  EXPECT_EQ(TakeEvents(), (Events{"Idle"}));

  far_ = Connect(&told_);
  Far(Type::kOffer);
  line_.DisconnectFarEnd(far_);
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall", "Idle"}));
  EXPECT_EQ(line_.far_ends(), 0u);
}

// --- Socket far ends.

class SimulatedLineSocketTest : public ::testing::Test {
 protected:
  // Connects a raw client to `path`; -1 on failure.
  static int ConnectTo(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
      ::close(fd);
      return -1;
    }
    return fd;
  }
  // Runs the loop until `done` or a generous bound of loop turns.
  void RunUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 500 && !done(); ++i) {
      io_.restart();
      io_.run_one_for(std::chrono::milliseconds(10));
    }
  }

  testing::TempDir dir_;
  asio::io_context io_;
  FakeClock clock_;
  LineAudioHub hub_;
};

TEST_F(SimulatedLineSocketTest, GarbageFromFarEndBreaksOffOnlyThatFarEnd) {
  SimulatedLine line(io_, clock_, hub_, dir_.path());
  SimulatedTelephony tapi(line);
  EventLog log;
  tapi.SetEvents(log.Handlers());
  ASSERT_EQ(tapi.LineOpen(6, 6), 0);
  const int fd = ConnectTo(line.socket_path());
  ASSERT_GE(fd, 0);
  const std::string frames = "O\x00\x00GET / HTTP/1.0\r\n"s;
  ASSERT_EQ(::write(fd, frames.data(), frames.size()),
            static_cast<ssize_t>(frames.size()));
  RunUntil([&] { return log.events.size() >= 2; });
  EXPECT_EQ(log.events, (Events{"InComeCall", "Idle"}));
  // The line closed that connection and still accepts others.
  char buf[16];
  ssize_t n;
  std::string got;
  while ((n = ::read(fd, buf, sizeof buf)) > 0) got.append(buf, n);
  EXPECT_EQ(got, "o\x01\x00\x01"s);
  ::close(fd);
  const int fd2 = ConnectTo(line.socket_path());
  EXPECT_GE(fd2, 0);
  ::close(fd2);
}

}  // namespace
}  // namespace lw
