// The SIP line against real peers on loopback: kamailio as the registrar
// (digest authentication), baresip as the far end (driven over ctrl_tcp),
// the real process with the demo settings in between.
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <regex>

#include "sip_phone_test_util.h"

namespace lw::testing {
namespace {

// kamailio on a free port, every account's password PASSWORD but that of
// "linewarden", which is `password`; stopped and started again on its port.
class Registrar {
 public:
  Registrar(const ProgramEnv& env, std::string password)
      : port_(FreePort()),
        dir_(env.home() + "/kamailio"),
        password_(std::move(password)) {
    std::filesystem::create_directories(dir_);
    Start();
  }
  ~Registrar() { Stop(); }
  int port() const { return port_; }
  void Start() {
    pid_ = SpawnProgram(
        {Peer("/usr/sbin/kamailio"), "-f",
         LW_SOURCE_DIR "/tests/sip/kamailio.cfg", "-l",
         "udp:127.0.0.1:" + std::to_string(port_), "-A",
         "PASSWORD=\"" + password_ + "\"", "-DD", "-E", "-Y", dir_, "-w", dir_},
        {}, dir_ + "/out.txt");
    EXPECT_TRUE(WaitFor([&] {
      return ReadFile(dir_ + "/out.txt").find("Listening on") !=
             std::string::npos;
    })) << ReadFile(dir_ + "/out.txt");
  }
  void Stop() { EndProgram(&pid_); }

 private:
  int port_;
  std::string dir_;
  std::string password_;
  pid_t pid_ = -1;
};

class SipE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    DemoSettings(env_);
    std::filesystem::create_directories(env_.home() + "/Greets");
    WriteTone(env_.home() + "/Greets/Greeting.wav", 600, 1.0);
    WriteTone(env_.home() + "/Beep.wav", 1000, 0.3);
    env_.Set("Answer\\TabDisconnectMode", "txtListRecMoreThen", "0");
    env_.Set("Properties\\TabDevices", "cmbModemDev",
             "SIP: linewarden@127.0.0.1");
    for (const auto& [name, value] :
         {std::pair<std::string, std::string>{"txtSipAddress",
                                              "sip:linewarden@127.0.0.1"},
          {"txtSipListen", "127.0.0.1:" + std::to_string(sip_port_)},
          {"txtSipRegistrar", "127.0.0.1:" + std::to_string(kamailio_.port())},
          {"txtSipOutboundProxy",
           "127.0.0.1:" + std::to_string(kamailio_.port())},
          {"chkSipRegister", "1"},
          {"txtSipRingSeconds", "1"}})
      env_.Set("Properties\\TabDevices\\SipLine", name, value);
  }
  void TearDown() override { EndProgram(&proc_); }

  // Sends `datagram` to the line's SIP port, from `fd` when given.
  void SendToLine(const std::string& datagram, int fd = -1) const {
    const int from = fd >= 0 ? fd : socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in to = LoopbackAddress(sip_port_);
    sendto(from, datagram.data(), datagram.size(), 0,
           reinterpret_cast<const sockaddr*>(&to), sizeof to);
    if (fd < 0) close(from);
  }

  // An INVITE from 666 offering audio of payload type `format` only, its
  // answers going to `port` (and sent from `fd` when given).
  void SendInvite(const std::string& call_id, int format, int port = 9,
                  int fd = -1) const {
    const std::string sdp =
        "v=0\r\no=- 1 1 IN IP4 127.0.0.1\r\ns=-\r\nc=IN IP4 127.0.0.1\r\n"
        "t=0 0\r\nm=audio 4000 RTP/AVP " +
        std::to_string(format) + "\r\n";
    SendToLine(
        "INVITE sip:linewarden@127.0.0.1 SIP/2.0\r\n"
        "Via: SIP/2.0/UDP 127.0.0.1:" +
            std::to_string(port) + ";branch=z9hG4bK" + call_id +
            "\r\nMax-Forwards: 70\r\n"
            "From: <sip:666@127.0.0.1>;tag=1\r\nTo: "
            "<sip:linewarden@127.0.0.1>\r\n"
            "Call-ID: " +
            call_id +
            "\r\nCSeq: 1 INVITE\r\nContact: <sip:666@127.0.0.1:9>\r\n"
            "Content-Type: application/sdp\r\nContent-Length: " +
            std::to_string(sdp.size()) + "\r\n\r\n" + sdp,
        fd);
  }

  ProgramEnv env_;
  int sip_port_ = FreePort();
  Registrar kamailio_{env_, "right horse"};
  pid_t proc_ = -1;
};

TEST_F(SipE2E, RegisteredLineAnswersRecordsAndPlacesCallsThroughTheRegistrar) {
  // given the wrong password, expect the refusal journalled and the line
  // closed; given the right one and the line switched off and on, the line
  // registered without a restart, bad packets journalled, a call from baresip
  // through kamailio answered after two rings, baresip to hear greeting and
  // beep, its 440 Hz message stored with its name and number, each digit
  // once, "CallOutRec" to baresip stored as a recorded outgoing call, and a
  // call given up while ringing stored as unanswered, as is a blocked
  // caller's answered and dropped call; a second call while one is up
  // refused 486; the registrar restarted, the line lost and back
  env_.Set("Properties\\TabDevices\\SipLine", "txtSipPassword", "wrong horse");
  proc_ = env_.Spawn("linewarden-proc", {}, {}, env_.home() + "/out.txt");
  ASSERT_TRUE(WaitFor([&] { return env_.Journalled("Tapi_LineLost"); }))
      << env_.Journal();
  EXPECT_TRUE(env_.Journalled("failed: 401 Unauthorized")) << env_.Journal();

  // The mended password takes effect when the line is switched on again.
  env_.Set("Properties\\TabDevices\\SipLine", "txtSipPassword", "right horse");
  const size_t before = env_.Journal().size();
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "OFF"}), 0);
  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "ON"}), 0);
  ASSERT_TRUE(WaitFor([&] {
    return env_.Journal().find(": registered", before) != std::string::npos;
  })) << env_.Journal();

  // Random bytes and an offer of a codec the line lacks change nothing.
  constexpr char kNoise[] = "\x80\x00\xffINVITE \x01\r\n\r\n";
  SendToLine(std::string(kNoise, sizeof kNoise - 1));
  SendInvite("1", 9);
  ASSERT_TRUE(WaitFor([&] {
    return env_.Journalled(
        "(488 Not Acceptable Here): the SDP offer has no "
        "PCMU or PCMA audio");
  })) << env_.Journal();

  std::string devices;
  ASSERT_EQ(env_.Run("lwdctl", {"devices"}, &devices), 0);
  EXPECT_THAT(devices,
              HasSubstr("SIP: linewarden@127.0.0.1: SIP registration"
                        " at sip:127.0.0.1:" +
                        std::to_string(kamailio_.port()) + ": registered"));

  const std::string voice = env_.home() + "/voice.wav";
  WriteTone(voice, 440, 6.0);  // baresip hangs up at its end
  Phone baresip(env_, "127.0.0.1:" + std::to_string(kamailio_.port()), voice);
  ASSERT_TRUE(baresip.WaitRegistered()) << baresip.events();
  baresip.Command(
      "dial", "sip:linewarden@127.0.0.1:" + std::to_string(kamailio_.port()));
  ASSERT_TRUE(baresip.WaitEvent("CALL_ESTABLISHED")) << baresip.events();
  SendInvite("2", 0);  // a second call while this one is up
  std::this_thread::sleep_for(std::chrono::seconds(3));
  EXPECT_TRUE(env_.Journalled("(486 Busy Here): a call is in progress"))
      << env_.Journal();
  baresip.Command("sndcode", "4");
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  baresip.Command("sndcode", "2");
  ASSERT_TRUE(baresip.WaitEvent("CALL_CLOSED")) << baresip.events();
  ASSERT_TRUE(env_.WaitRecords(1));

  CallRecord call = env_.Records()[0];
  EXPECT_EQ(FieldText(call.caller_name), "Alice");
  EXPECT_EQ(FieldText(call.caller_number), "5551234");
  // "\Data\Last" lists the day of the call.
  EXPECT_TRUE(WaitFor([&] {
    return ReadFile(env_.home() + "/Data/Last").find("\\Data\\Log\\") !=
           std::string::npos;
  }));
  const std::vector<short> message = ReadSamples(env_.RecordingOf(call));
  EXPECT_TRUE(HasTone(message, 440));
  // The message is what is left of baresip's 6 s after greeting and beep.
  EXPECT_NEAR(static_cast<double>(message.size()) / 8000, 4.4, 0.6);
  ASSERT_EQ(baresip.Heard().size(), 1u);
  const std::vector<short> heard = ReadSamples(baresip.Heard()[0]);
  EXPECT_TRUE(HasTone(heard, 600) && HasTone(heard, 1000));
  std::string journal = env_.Journal();
  EXPECT_EQ(Count(journal, "->Tapi_Ring(0):"),
            Count(journal, "Tapi_InComeCall") * 2)
      << journal;
  EXPECT_EQ(Count(journal, "Tapi_MonitorDigit(0):4"), 1u) << journal;
  EXPECT_EQ(Count(journal, "Tapi_MonitorDigit(0):2"), 1u) << journal;

  ASSERT_EQ(env_.Run("lwdctl", {"send", "108", "CallOutRec", "5551234"}), 0);
  ASSERT_TRUE(baresip.WaitEvent("CALL_CLOSED", 2)) << baresip.events();
  ASSERT_TRUE(env_.WaitRecords(2)) << env_.Journal();
  call = env_.Records()[1];
  EXPECT_EQ(FieldText(call.call_type), "4");
  EXPECT_TRUE(HasTone(ReadSamples(env_.RecordingOf(call)), 440));

  // A caller who gives up before the second ring is stored unanswered.
  baresip.Command(
      "dial", "sip:linewarden@127.0.0.1:" + std::to_string(kamailio_.port()));
  ASSERT_TRUE(baresip.WaitEvent("CALL_RINGING")) << baresip.events();
  baresip.Command("hangup", "");
  ASSERT_TRUE(env_.WaitRecords(3)) << env_.Journal();
  EXPECT_EQ(FieldText(env_.Records()[2].call_type), "0");
  EXPECT_EQ(FieldText(env_.Records()[2].caller_name), "Alice");
  EXPECT_THAT(env_.Journal(), Not(HasSubstr("horse")));

  // Blocked, the same caller is answered, dropped and stored unanswered.
  ASSERT_EQ(
      env_.Run("lwdctl", {"contacts", "add", "Alice", "5551234", "--block"}),
      0);
  const size_t established = Count(baresip.Read(), "\"CALL_ESTABLISHED\"");
  baresip.Command(
      "dial", "sip:linewarden@127.0.0.1:" + std::to_string(kamailio_.port()));
  ASSERT_TRUE(baresip.WaitEvent("CALL_CLOSED", 4)) << baresip.events();
  EXPECT_EQ(Count(baresip.events(), "\"CALL_ESTABLISHED\""), established + 1);
  ASSERT_TRUE(env_.WaitRecords(4)) << env_.Journal();
  EXPECT_EQ(FieldText(env_.Records()[3].call_type), "0");
  EXPECT_EQ(FilesIn(env_.Today(), ".wav").size(), 2u);

  // The registrar restarts: the line is lost once its refresh goes
  // unanswered (the registrar grants 4 s, a request times out in 32 s) and
  // back within the first retry after the registrar's return.
  const size_t lost = Count(env_.Journal(), "Tapi_LineLost");
  kamailio_.Stop();
  ASSERT_TRUE(
      WaitFor([&] { return Count(env_.Journal(), "Tapi_LineLost") > lost; },
              std::chrono::seconds(45)))
      << env_.Journal();
  kamailio_.Start();
  ASSERT_TRUE(WaitFor([&] { return env_.Journalled("Tapi_LineBack"); },
                      std::chrono::seconds(5)))
      << env_.Journal();
}

TEST_F(SipE2E, BehindARouterThePublicAddressGoesIntoTheSdp) {
  // given a registrar that saw the line's REGISTER come from
  // 203.0.113.7:40000, expect that address journalled and in the SDP of a
  // call through the registrar
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in at = LoopbackAddress(FreePort());
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  const timeval wait{10, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  const int port = ntohs(at.sin_port);
  env_.Set("Properties\\TabDevices\\SipLine", "txtSipRegistrar",
           "127.0.0.1:" + std::to_string(port));
  env_.Set("Properties\\TabDevices\\SipLine", "txtSipOutboundProxy", "");
  proc_ = env_.Spawn("linewarden-proc", {}, {}, env_.home() + "/out.txt");
  char buf[4096];
  sockaddr_in from{};
  socklen_t size = sizeof from;
  const ssize_t got = recvfrom(fd, buf, sizeof buf, 0,
                               reinterpret_cast<sockaddr*>(&from), &size);
  ASSERT_GT(got, 0);
  std::string answer = "SIP/2.0 200 OK\r\n";
  const std::string request(buf, static_cast<size_t>(got));
  const std::regex header("\r\n((Via|From|To|Call-ID|CSeq|Contact):[^\r]*)");
  for (std::sregex_iterator h(request.begin(), request.end(), header), end;
       h != end; ++h)
    answer += std::regex_replace((*h)[1].str(), std::regex(";rport"),
                                 ";received=203.0.113.7;rport=40000") +
              "\r\n";
  answer += "Content-Length: 0\r\n\r\n";
  sendto(fd, answer.data(), answer.size(), 0,
         reinterpret_cast<sockaddr*>(&from), size);
  EXPECT_TRUE(WaitFor([&] {
    return env_.Journalled("its public address is 203.0.113.7:40000");
  })) << env_.Journal();
  SendInvite("4", 0, port, fd);
  std::string heard;
  for (ssize_t n; heard.find("SIP/2.0 200") == std::string::npos &&
                  (n = recv(fd, buf, sizeof buf, 0)) > 0;)
    heard.assign(buf, static_cast<size_t>(n));
  EXPECT_THAT(heard, HasSubstr("c=IN IP4 203.0.113.7")) << env_.Journal();
  close(fd);
}

}  // namespace
}  // namespace lw::testing
