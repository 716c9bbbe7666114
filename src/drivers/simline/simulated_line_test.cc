// The simulated line and its telephony controls, driven by an in-process far
// end on a virtual clock; the socket far ends at the end.
#include "drivers/simline/simulated_line.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <asio/io_context.hpp>
#include <chrono>
#include <numeric>
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
// "answered", "dialed(5551234)", "hungup", "busy", "audio(160)".
std::string Describe(const SimlineMessage& m) {
  switch (m.type) {
    case Type::kOffered:
      return m.line_open ? "offered(open)" : "offered(closed)";
    case Type::kBusy:
      return "busy";
    case Type::kAnswered:
      return "answered";
    case Type::kDialed:
      return "dialed(" + m.number + ")";
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
  std::vector<SimlineMessage> other_told_;  // a second far end's
  SimulatedLine line_;
  SimulatedTelephony proc_;  // the process controller's: never opened
  SimulatedTelephony tapi_;  // the line controller's
  SimulatedLine::FarEndId far_ = 0;
};

TEST_F(SimulatedLineTest, DescribesOneDeviceWithItsEndpoints) {
  EXPECT_EQ(tapi_.GetNumDevices(), 1);
  DeviceInfo info;
  ASSERT_EQ(tapi_.GetDeviceCaps(info), 0);
  EXPECT_EQ(info.Name, "Linewarden Simulated Line");
  EXPECT_TRUE(info.TapiCapable && info.VoiceCapable && info.MonitorDigits);
  EXPECT_EQ(tapi_.GetDeviceID(kDeviceClassWaveIn), 1);
  EXPECT_EQ(tapi_.GetDeviceID(kDeviceClassWaveOut), 2);
  EXPECT_EQ(tapi_.GetDeviceID(kDeviceClassSerialPort), -1);
  EXPECT_EQ(hub_.Find(1), &line_);
  EXPECT_EQ(hub_.Find(2), &line_);

  tapi_.SetDeviceIndex(1);
  EXPECT_NE(tapi_.GetDeviceCaps(info), 0);
  EXPECT_EQ(info.Name, "");
  EXPECT_EQ(tapi_.LineOpen(6, 6), kSimLineBadDevice);
  EXPECT_EQ(tapi_.GetDeviceID(kDeviceClassWaveIn), -1);
  EXPECT_NE(tapi_.GetErrorText(kSimLineBadDevice), tapi_.GetErrorText(0));
}


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

TEST_F(SimulatedLineTest, FarEndHangupDisconnectsUntilLineDrop) {
  // Given a connected call the caller hangs up, expect Disconnected, the
  // call inactive but present until LineDrop, whose Idle follows.
  ConnectedCall();
  Far(Type::kHangup);
  EXPECT_EQ(TakeEvents(), (Events{"Disconnected"}));
  EXPECT_FALSE(tapi_.IsCallActive());
  EXPECT_EQ(line_.call_state(), SimulatedLine::CallState::kDisconnected);
  ASSERT_EQ(tapi_.LineDrop(), 0);
  EXPECT_EQ(TakeEvents(), (Events{"Idle"}));
  // The far end had gone: nobody is told of the drop.
  EXPECT_TRUE(TakeTold().empty());
}

TEST_F(SimulatedLineTest, LineDropTellsFarEnd) {
  ConnectedCall();
  ASSERT_EQ(tapi_.LineDrop(), 0);
  EXPECT_FALSE(tapi_.IsCallActive());
  EXPECT_EQ(TakeTold(), (std::vector<std::string>{"hungup"}));
  EXPECT_EQ(TakeEvents(), (Events{"Idle"}));
  // Later messages of that far end concern no call.
  Far(Type::kRing);
  Far(Type::kHangup);
  EXPECT_EQ(TakeEvents(), Events{});
}

TEST_F(SimulatedLineTest, ExtensionPickupStopsRingsAndLetsAudioFlow) {
  // Given a call an extension picks up after two rings, expect no more
  // rings, the caller's audio at a record sink although the process has
  // not answered, and LineAnswer taking the line to record.
  OpenLine();
  Far(Type::kOffer);
  Far(Type::kRing);
  Far(Type::kRing);
  Far(Type::kPickUp);
  Far(Type::kRing);
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall", "Ring(1)", "Ring(2)"}));
  EXPECT_FALSE(tapi_.IsCallActive());

  std::vector<int16_t> heard;
  hub_.Find(1)->SetRecordSink([&](std::span<const int16_t> s) {
    heard.insert(heard.end(), s.begin(), s.end());
  });
  line_.FromFarEnd(far_, SimlineAudio(std::vector<int16_t>(160, 9)));
  clock_.Advance(20);
  EXPECT_EQ(heard, std::vector<int16_t>(160, 9));

  // The process hears nothing it could play until it takes the line.
  hub_.Find(2)->PlayToLine(std::vector<int16_t>(160, 1));
  EXPECT_EQ(TakeTold(), (std::vector<std::string>{"offered(open)"}));

  ASSERT_EQ(tapi_.LineAnswer(), 0);
  EXPECT_EQ(TakeEvents(), (Events{"Connected"}));
  EXPECT_EQ(TakeTold(), (std::vector<std::string>{"answered"}));
  FarDigit('3');
  EXPECT_EQ(TakeEvents(), Events{});  // not monitoring
}

TEST_F(SimulatedLineTest, PickedUpCallEndsWithIdleWhenCallerHangsUp) {
  OpenLine();
  Far(Type::kOffer);
  Far(Type::kPickUp);
  Far(Type::kHangup);
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall", "Idle"}));
}


TEST_F(SimulatedLineTest, FarEndArrivingLateTakesTheDialledCall) {
  OpenLine();
  std::string text;
  ASSERT_EQ(tapi_.MakeCall("42", text), 0);
  const auto other = Connect(&other_told_);
  line_.FromFarEnd(other, SimlineOf(Type::kWaitCall));
  ASSERT_EQ(other_told_.size(), 1u);
  EXPECT_EQ(Describe(other_told_[0]), "dialed(42)");
  // The first far end never asked for it.
  Far(Type::kAnswerCall);
  EXPECT_EQ(TakeEvents(), (Events{"Dialing"}));
  line_.FromFarEnd(other, SimlineOf(Type::kAnswerCall));
  EXPECT_EQ(TakeEvents(), (Events{"Connected"}));
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

TEST_F(SimulatedLineTest, CallerGivingUpBeforeOffHookGetsNoConnected) {
  OpenLine();
  Far(Type::kOffer);
  ASSERT_EQ(tapi_.LineAnswer(), 0);
  Far(Type::kHangup);
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall", "Idle"}));
  EXPECT_EQ(TakeTold(), (std::vector<std::string>{"offered(open)"}));
}

TEST_F(SimulatedLineTest, SecondCallerMeetsBusyLine) {
  OpenLine();
  Far(Type::kOffer);
  const auto other = Connect(&other_told_);
  line_.FromFarEnd(other, SimlineOf(Type::kOffer));
  line_.FromFarEnd(other, SimlineOf(Type::kRing));
  line_.FromFarEnd(other, SimlineOf(Type::kHangup));
  ASSERT_EQ(other_told_.size(), 1u);
  EXPECT_EQ(Describe(other_told_[0]), "busy");
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall"}));
}

TEST_F(SimulatedLineTest, IdleOfDroppedCallComesBeforeTheNextCall) {
  ConnectedCall();
  ASSERT_EQ(tapi_.LineDrop(), 0);
  Far(Type::kOffer);
  Far(Type::kRing);
  EXPECT_EQ(TakeEvents(), (Events{"Idle", "InComeCall", "Ring(1)"}));
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

TEST_F(SimulatedLineSocketTest, StaleSocketReplacedLiveOneKept) {
  // Given a socket file nobody listens on, expect it replaced; given a live
  // line at the path, expect a second line to leave it alone and say so.
  const std::string path = dir_ / "simline.sock";
  {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);  // bound, never listened: stale
  }
  auto first = std::make_unique<SimulatedLine>(io_, clock_, hub_, dir_.path());
  ASSERT_TRUE(first->listening()) << first->ListenStatus();

  SimulatedLine::Options other_endpoints;
  other_endpoints.wave_in = 11;
  other_endpoints.wave_out = 12;
  SimulatedLine second(io_, clock_, hub_, dir_.path(), other_endpoints);
  EXPECT_FALSE(second.listening());
  EXPECT_NE(second.ListenStatus().find(path), std::string::npos);
  const int fd = ConnectTo(path);
  EXPECT_GE(fd, 0);
  ::close(fd);

  // Going away, the live line removes its socket file.
  first.reset();
  struct stat st;
  EXPECT_NE(::lstat(path.c_str(), &st), 0);
}

TEST_F(SimulatedLineSocketTest, LineWorksWithoutItsSocket) {
  // Given a runtime folder whose parent is missing, expect no socket, a
  // status naming the cause, and a line that still carries calls.
  SimulatedLine line(io_, clock_, hub_, dir_ / "missing/run");
  EXPECT_FALSE(line.listening());
  EXPECT_NE(line.ListenStatus().find("cannot listen at"), std::string::npos);
  SimulatedTelephony tapi(line);
  EXPECT_EQ(tapi.LineOpen(6, 6), 0);
  std::string text;
  EXPECT_EQ(tapi.MakeCall("1", text), 0);
  EXPECT_EQ(tapi.LineDrop(), 0);
}

}  // namespace
}  // namespace lw
