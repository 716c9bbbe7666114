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
#include "devices/line_registry.h"
#include "drivers/simline/sim_far_end.h"
#include "temp_dir.h"

namespace lw {
namespace {

using namespace std::string_literals;

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

class SimulatedLineTest : public ::testing::Test {
 protected:
  SimulatedLineTest() {
    lines_.Register("simline", line_, true);
    proc_->SetEvents(proc_log_.Handlers());
    tapi_->SetEvents(log_.Handlers());
  }

  // Runs what the loop has posted.
  void Deliver() { clock_.RunDue(); }
  Events TakeEvents() {
    Deliver();
    Events e = std::move(log_.events);
    log_.events.clear();
    return e;
  }
  void OpenLine() {
    ASSERT_EQ(tapi_->LineOpen(kPrivilegesOwnerMonitor, kMediaModesVoice), 0);
  }
  // An offered call answered by the process: connected.
  void ConnectedCall() {
    OpenLine();
    far_.Offer();
    far_.Ring();
    ASSERT_EQ(tapi_->LineAnswer(), 0);
    ASSERT_EQ(TakeEvents(), (Events{"InComeCall", "Ring(1)", "Connected"}));
    ASSERT_EQ(far_.TakeTold(), (Events{"offered(open)", "answered"}));
  }

  FakeClock clock_;
  LineAudioHub hub_;
  // Before the line and controls: they report here until they are gone.
  EventLog proc_log_;
  EventLog log_;
  SimulatedLine line_{clock_, hub_};
  LineRegistry lines_{clock_};
  std::unique_ptr<Telephony> proc_ = lines_.NewTelephony();  // never opened
  std::unique_ptr<Telephony> tapi_ = lines_.NewTelephony();  // the line's
  testing::SimFarEnd far_{line_};
};

TEST_F(SimulatedLineTest, EventsNeverRunInsideTheOperation) {
  // Given an offered call, expect LineAnswer to return before Connected.
  OpenLine();
  far_.Offer();
  Deliver();
  log_.events.clear();
  ASSERT_EQ(tapi_->LineAnswer(), 0);
  EXPECT_TRUE(log_.events.empty());
  EXPECT_FALSE(tapi_->IsCallActive());
  EXPECT_EQ(TakeEvents(), (Events{"Connected"}));
  EXPECT_TRUE(tapi_->IsCallActive());
  EXPECT_EQ(tapi_->LineAnswer(), lines_.ResultCode(line_, kSimLineBadState));
}

TEST_F(SimulatedLineTest, DigitsOnlyWhileMonitoring) {
  ConnectedCall();
  far_.Digits("1");
  ASSERT_EQ(tapi_->LineMonitorDigits(true), 0);
  far_.Digits("5");
  far_.Digits("#");
  EXPECT_EQ(TakeEvents(), (Events{"Digit(5)", "Digit(#)"}));
  ASSERT_EQ(tapi_->LineMonitorDigits(false), 0);
  far_.Digits("9");
  EXPECT_EQ(TakeEvents(), Events{});

  // Monitoring belongs to the call.
  ASSERT_EQ(tapi_->LineMonitorDigits(true), 0);
  ASSERT_EQ(tapi_->LineDrop(), 0);
  EXPECT_EQ(TakeEvents(), (Events{"Idle"}));
  far_.Offer();
  ASSERT_EQ(tapi_->LineAnswer(), 0);
  Deliver();
  far_.Digits("7");
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall", "Connected"}));
}

TEST_F(SimulatedLineTest, CallRingingBeforeLineOpenIsReportedAsOffered) {
  // Given a call that rang twice while the line was closed, expect nothing
  // then, InComeCall after LineOpen, and the ring count going on.
  far_.Offer();
  far_.Ring();
  far_.CallerId("", "123");
  far_.Ring();
  EXPECT_EQ(TakeEvents(), Events{});
  EXPECT_EQ(far_.TakeTold(), (Events{"offered(closed)"}));
  OpenLine();
  EXPECT_TRUE(log_.events.empty());
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall"}));
  far_.Ring();
  EXPECT_EQ(TakeEvents(), (Events{"Ring(3)"}));
  EXPECT_TRUE(proc_log_.events.empty());
}

TEST_F(SimulatedLineTest, ClosedLineRaisesNothingAndAbandonsItsCall) {
  ConnectedCall();
  ASSERT_EQ(tapi_->LineMonitorDigits(true), 0);
  ASSERT_EQ(tapi_->LineClose(), 0);
  EXPECT_FALSE(tapi_->IsLineOpen());
  EXPECT_EQ(far_.TakeTold(), (Events{"hungup"}));
  far_.Digits("1");
  far_.HangUp();
  EXPECT_EQ(TakeEvents(), Events{});
  EXPECT_EQ(line_.call_state(), SimulatedLine::CallState::kNone);
  EXPECT_EQ(tapi_->LineClose(), kLineNotOpen);
  EXPECT_EQ(tapi_->LineShutdown(), 0);
  EXPECT_EQ(tapi_->LineAnswer(), kLineNotOpen);
  std::string text;
  EXPECT_EQ(tapi_->MakeCall("1", text), kLineNotOpen);
}

TEST_F(SimulatedLineTest, ClosingWhileConnectedEventIsPendingRaisesNothing) {
  OpenLine();
  far_.Offer();
  Deliver();
  log_.events.clear();
  ASSERT_EQ(tapi_->LineAnswer(), 0);
  ASSERT_EQ(tapi_->LineShutdown(), 0);
  EXPECT_EQ(TakeEvents(), Events{});
  // The offered call goes on ringing at the far end.
  EXPECT_EQ(line_.call_state(), SimulatedLine::CallState::kOffered);
}

TEST_F(SimulatedLineTest, FarEndVanishingHangsUp) {
  // Given a connected call whose far end goes away, expect Disconnected; an
  // offered call whose far end goes away ends with Idle.
  ConnectedCall();
  {
    testing::SimFarEnd other(line_);
    other.Offer();
    EXPECT_EQ(other.TakeTold(), (Events{"busy"}));
  }
  far_.Vanish();
  EXPECT_EQ(TakeEvents(), (Events{"Disconnected"}));
  ASSERT_EQ(tapi_->LineDrop(), 0);
  EXPECT_EQ(TakeEvents(), (Events{"Idle"}));

  testing::SimFarEnd caller(line_);
  caller.Offer();
  caller.Vanish();
  EXPECT_EQ(TakeEvents(), (Events{"InComeCall", "Idle"}));
  EXPECT_EQ(line_.far_ends(), 0u);
}

TEST_F(SimulatedLineTest, RegistryListsRealLinesFirstWithTheirOwnCodes) {
  // Given a "real" backend registered after the simulated line, expect it
  // listed first, each backend's codes in its own range with its own texts,
  // and a name registered once.
  SimulatedLine::Options o;
  o.info.Name = "Modem A";
  SimulatedLine modem(clock_, hub_, o);
  EXPECT_TRUE(lines_.Register("modem", modem));
  EXPECT_FALSE(lines_.Register("modem", line_));
  ASSERT_EQ(tapi_->GetNumDevices(), 2);
  DeviceInfo info;
  ASSERT_EQ(tapi_->GetDeviceCaps(info), 0);
  EXPECT_EQ(info.Name, "Modem A");
  tapi_->SetDeviceIndex(2);
  EXPECT_EQ(tapi_->GetDeviceCaps(info), kLineBadDevice);
  EXPECT_EQ(info.Name, "");
  tapi_->SetDeviceIndex(1);
  ASSERT_EQ(tapi_->GetDeviceCaps(info), 0);
  EXPECT_EQ(info.Name, SimulatedLine::kDeviceName);

  line_.faults().open_result = kSimLineDeviceBusy;
  modem.faults().answer_result = kSimLineDeviceBusy;
  const int32_t busy = tapi_->LineOpen(6, 6);
  EXPECT_EQ(busy, 1 * kLineBackendCodeRange + kSimLineDeviceBusy);
  tapi_->SetDeviceIndex(0);
  ASSERT_EQ(tapi_->LineOpen(6, 6), 0);
  const int32_t modem_busy = tapi_->LineAnswer();
  EXPECT_EQ(modem_busy, 2 * kLineBackendCodeRange + kSimLineDeviceBusy);
  EXPECT_EQ(tapi_->GetErrorText(busy), "The line is in use");
  EXPECT_EQ(tapi_->GetErrorText(modem_busy), "The line is in use");
  EXPECT_EQ(tapi_->GetErrorText(tapi_->LineDrop()), "There is no call");
  EXPECT_EQ(tapi_->GetErrorText(0x7fff0000), "Unknown error 2147418112");
  EXPECT_EQ(line_.ops(), (Events{"LineOpen(6,6)"}));
  EXPECT_EQ(modem.ops(), (Events{"LineOpen(6,6)", "LineAnswer", "LineDrop"}));
  EXPECT_EQ(tapi_->LineClose(), 0);  // before the modem goes away
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
      clock_.RunDue();
    }
  }

  testing::TempDir dir_;
  asio::io_context io_;
  FakeClock clock_;
  LineAudioHub hub_;
};

TEST_F(SimulatedLineSocketTest, GarbageFromFarEndBreaksOffOnlyThatFarEnd) {
  SimulatedLine line(clock_, hub_);
  line.Listen(io_, dir_.path());
  LineRegistry lines(clock_);
  lines.Register("simline", line, true);
  const auto tapi = lines.NewTelephony();
  EventLog log;
  tapi->SetEvents(log.Handlers());
  ASSERT_EQ(tapi->LineOpen(6, 6), 0);
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
